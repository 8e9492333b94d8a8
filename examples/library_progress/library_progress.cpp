// library_progress: runs the manager's library queue in the background and shows its progress.
// The manager raises its events on its own library thread; this host brings them back to its
// main thread through the per-thread message queue and PumpingWait, the way a program with a
// user interface keeps all its drawing on one thread.
//
//   library_progress [--catalog PATH] FILE...
#include <pelk/pelk_sonquix.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "runtime/object.h"

using namespace pelk;

namespace {

// The event sink: an object of our own, made with the runtime's object base. It answers the
// events interface identifier, and the manager calls its Invoke with the event's dispatch id.
// Invoke runs on the library thread, and the list an event hands over is only good during the
// call: read what you need there, then post plain values to the thread that shows them.
class ProgressSink final : public Object<ProgressSink, IDispatch> {
 public:
  ProgressSink(std::shared_ptr<MessageQueue> main, Event* done)
      : main_(std::move(main)), done_(done) {}

  void* ExtraInterface(REFIID iid) {
    return iid == DIID__IPELKSonquixManagerEvents ? static_cast<IDispatch*>(this) : nullptr;
  }
  HRESULT GetTypeInfoCount(uint32_t* count) override { return *count = 0, S_OK; }
  HRESULT GetTypeInfo(uint32_t, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, OLECHAR**, uint32_t, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }

  HRESULT Invoke(DISPID id, REFIID, LCID, uint16_t, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                 uint32_t*) override {
    // Arguments arrive last first: argument i of n is rgvarg[n - 1 - i].
    auto arg = [params](uint32_t i) -> VARIANT& { return params->rgvarg[params->cArgs - 1 - i]; };
    if (id == kEventLibraryIDListComplete) {
      // (list, complete, total, exact, fuzzy, no match, error, &abort)
      std::string lines;
      ComPtr<IPelkFileInfoList> list = ComPtr<IUnknown>(arg(0).punkVal).As<IPelkFileInfoList>();
      int32_t count = 0;
      if (list) list->get_Count(&count);
      for (int32_t i = 1; i <= count; ++i) lines += Describe(list.Get(), i);
      const int32_t complete = arg(1).lVal, total = arg(2).lVal;
      main_->Post([lines, complete, total] {  // runs on the main thread
        std::printf("%s  progress: %d of %d files\n", lines.c_str(), complete, total);
      });
    } else if (id == kEventLibraryIDComplete) {
      // (complete, total, exact, fuzzy, no match, error): the run is over.
      const int32_t exact = arg(2).lVal, fuzzy = arg(3).lVal, none = arg(4).lVal;
      Event* done = done_;
      main_->Post([=] {
        std::printf("done: %d exact, %d fuzzy, %d not found\n", exact, fuzzy, none);
        done->Set();  // after the messages posted before it: PumpingWait then returns
      });
    }
    return S_OK;  // events we do not handle are ignored
  }

 private:
  // "file -> Artist - Album, track N" for record i of a finished list.
  static std::string Describe(IPelkFileInfoList* list, int32_t i) {
    ComPtr<IPelkFileInfo> record;
    ComPtr<IDiscInfo> disc;
    Bstr file, artist, album;
    int32_t track = 0;
    if (FAILED(list->GetFileInfo(i, record.Out()))) return "";
    record->get_Filename(file.Out());
    if (FAILED(record->get_Disc(disc.Out())) || !disc) return "  " + file.Utf8() + " -> ?\n";
    disc->get_Artist(artist.Out());
    disc->get_AlbumTitle(album.Out());
    record->get_TrackNum(&track);
    return "  " + file.Utf8() + " -> " + artist.Utf8() + " - " + album.Utf8() + ", track " +
           std::to_string(track) + "\n";
  }

  std::shared_ptr<MessageQueue> main_;
  Event* done_;
};

DllGetClassObjectFn LoadModule(const char* file, HMODULE* module) {
  const char* dir = std::getenv("PELK_MODULE_DIR");
  *module = LoadLibrary((std::string(dir && *dir ? dir : SONQUIX_MODULE_DIR) + "/" + file).c_str());
  return *module ? reinterpret_cast<DllGetClassObjectFn>(GetProcAddress(*module, "DllGetObject"))
                 : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  std::string catalog;
  int first = 1;
  if (argc > 2 && std::string(argv[1]) == "--catalog") catalog = argv[2], first = 3;
  if (first >= argc)
    return std::fprintf(stderr, "usage: library_progress [--catalog PATH] FILE...\n"), 2;

  // The same set-up as identify_files: both modules, the control on a catalogue, the manager.
  HMODULE sonquix_module = nullptr, control_module = nullptr;
  DllGetClassObjectFn make_control = LoadModule("libpelkcontrol.so", &control_module);
  DllGetClassObjectFn make_sonquix = LoadModule("libpelksonquix.so", &sonquix_module);
  if (!make_control || !make_sonquix) return std::fprintf(stderr, "cannot load the modules\n"), 1;
  ComPtr<ILookupControl> control;
  make_control(CLSID_PelkLookupControl, ILookupControl::kIid, control.OutVoid());
  const auto catalog_control = control.As<catalog::IPelkCatalogControl>();
  if (!catalog_control || FAILED(catalog_control->OpenCatalog(Bstr::FromUtf8(catalog).Get()))) {
    return std::fprintf(stderr, "cannot open the catalogue\n"), 1;
  }
  reinterpret_cast<decltype(&DllSetPelkHINST)>(GetProcAddress(sonquix_module, "DllSetPelkHINST"))(
      control_module);
  ComPtr<IPELKSonquixManager3> manager;
  make_sonquix(CLSID_PELKVXTSonquixManager, IPELKSonquixManager3::kIid, manager.OutVoid());
  if (!manager || FAILED(manager->Initialize(control.Get()))) return 1;

  // Connect the sink: the manager's connection point holds it from Advise to Unadvise.
  Event done;
  ComPtr<IConnectionPoint> point;
  uint32_t cookie = 0;
  const ComPtr<ProgressSink> sink = MakeObject<ProgressSink>(CurrentThreadQueue(), &done);
  const auto container = manager.As<IConnectionPointContainer>();
  if (!container ||
      FAILED(container->FindConnectionPoint(DIID__IPELKSonquixManagerEvents, point.Out())) ||
      FAILED(point->Advise(static_cast<IDispatch*>(sink.Get()), &cookie))) {
    return std::fprintf(stderr, "the manager refuses the event sink\n"), 1;
  }

  // Queue the files and start. SONQUIX_LOOKUP_ASYNC returns at once; each file is identified
  // alone (SONQUIX_RETURN_SINGLE) with the rest of the default options.
  for (int i = first; i < argc; ++i) {
    const std::string full = std::filesystem::absolute(argv[i]).string();
    manager->LibraryIDAdd(Bstr::FromUtf8(full).Get());
  }
  if (FAILED(manager->LibraryIDStart(SONQUIX_DEFAULT_OPTIONS | SONQUIX_LOOKUP_ASYNC))) return 1;

  // The main thread now runs the messages the sink posts, until the last one sets `done`.
  PumpingWait(done);

  point->Unadvise(cookie);
  manager->Shutdown();
  return 0;
}
