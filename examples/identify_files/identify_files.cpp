// identify_files: the smallest complete host. It loads the two modules the way any host does,
// points our lookup control at a catalogue, hands the control to the manager and asks TrackID
// about each file named on the command line.
//
//   identify_files [--catalog PATH] FILE...
//
// Build it against an installed tree (see CMakeLists.txt or Makefile beside this file).
#include <pelk/pelk_sonquix.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/utf.h"

using namespace pelk;

namespace {

// Step 1: find and load a module. The build tells us where the SDK put the modules
// (SONQUIX_MODULE_DIR); $PELK_MODULE_DIR overrides it at run time. A module is never linked:
// it is loaded, and its objects are made through its DllGetObject export.
DllGetClassObjectFn LoadModule(const char* file, HMODULE* module) {
  const char* dir = std::getenv("PELK_MODULE_DIR");
  const std::string path = std::string(dir && *dir ? dir : SONQUIX_MODULE_DIR) + "/" + file;
  *module = LoadLibrary(path.c_str());
  if (!*module) {
    std::fprintf(stderr, "cannot load %s\n", path.c_str());
    return nullptr;
  }
  return reinterpret_cast<DllGetClassObjectFn>(GetProcAddress(*module, "DllGetObject"));
}

// Reads one text property of an object; ComPtr and Bstr release what the module handed out.
template <class I>
std::string Text(I* object, HRESULT (I::*get)(BSTR*)) {
  Bstr text;
  if (!object || FAILED((object->*get)(text.Out()))) return "";
  return text.Utf8();
}

// Step 4: one file, one TrackID. The answer is a list of records: each carries a disc whose
// current track is the one the file was matched with.
void Identify(IPELKSonquixManager3* manager, DllGetClassObjectFn make, const std::string& file) {
  ComPtr<IPelkFileInfo2_6> record;
  make(CLSID_PelkFileInfo, IPelkFileInfo2_6::kIid, record.OutVoid());
  const std::string full = std::filesystem::absolute(file).string();
  record->put_Filename(Bstr::FromUtf8(full).Get());

  // Default options: one answer, tags and fingerprint read by the module itself (WAV files;
  // other formats need a fingerprint from the host, see IPelkSonquixFingerprinter2).
  int32_t match_code = 0;
  ComPtr<IPelkFileInfoList> answers;
  const HRESULT hr = manager->TrackID(record.Get(), SONQUIX_DEFAULT, &match_code, answers.Out());
  if (FAILED(hr)) {
    std::printf("%s: error 0x%08X %s\n", file.c_str(), static_cast<uint32_t>(hr),
                Utf16ToUtf8(TakeErrorDescription()).c_str());
    return;
  }
  int32_t count = 0;
  if (answers) answers->get_Count(&count);
  bool found = false;
  for (int32_t i = 1; i <= count; ++i) {  // lists are 1-based
    ComPtr<IPelkFileInfo> answer;
    ComPtr<IDiscInfo> disc;
    if (FAILED(answers->GetFileInfo(i, answer.Out())) || FAILED(answer->get_Disc(disc.Out())) ||
        !disc) {
      continue;  // a record without a disc stands for "not identified"
    }
    int32_t track = 0, code = 0;
    answer->get_TrackNum(&track);
    if (track <= 0) disc->get_CurrentTrack(&track);
    answer->get_SonquixMatchCode(&code);
    Bstr title;
    disc->GetTrackTitle(track, title.Out());
    std::printf("%s: %s - %s, track %d \"%s\" [%s, disc %s]\n", file.c_str(),
                Text(disc.Get(), &IDiscInfo::get_Artist).c_str(),
                Text(disc.Get(), &IDiscInfo::get_AlbumTitle).c_str(), track, title.Utf8().c_str(),
                code == SONQUIX_MATCH_EXACT ? "exact" : "fuzzy",
                Text(disc.Get(), &IDiscInfo::get_Identifier).c_str());
    found = true;
  }
  if (!found) std::printf("%s: not identified (match code %d)\n", file.c_str(), match_code);
}

}  // namespace

int main(int argc, char** argv) {
  std::string catalog;  // empty: the control's default catalogue
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--catalog" && i + 1 < argc) {
      catalog = argv[++i];
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: identify_files [--catalog PATH] FILE...\n");
    return 2;
  }

  // Step 2: load both modules and make the lookup control, the component that knows the
  // catalogue. Our control answers IPelkCatalogControl to choose the catalogue file.
  HMODULE sonquix_module = nullptr, control_module = nullptr;
  DllGetClassObjectFn make_control = LoadModule("libpelkcontrol.so", &control_module);
  DllGetClassObjectFn make_sonquix = LoadModule("libpelksonquix.so", &sonquix_module);
  if (!make_control || !make_sonquix) return 1;
  ComPtr<ILookupControl> control;
  make_control(CLSID_PelkLookupControl, ILookupControl::kIid, control.OutVoid());
  const auto catalog_control = control.As<catalog::IPelkCatalogControl>();
  if (!catalog_control || FAILED(catalog_control->OpenCatalog(Bstr::FromUtf8(catalog).Get()))) {
    std::fprintf(stderr, "cannot open the catalogue: %s\n",
                 Utf16ToUtf8(TakeErrorDescription()).c_str());
    return 1;
  }

  // Step 3: tell the identification module where the control's module is (it makes tags with
  // it), then make the manager and initialize it with the control.
  auto set_control_module = reinterpret_cast<decltype(&DllSetPelkHINST)>(
      GetProcAddress(sonquix_module, "DllSetPelkHINST"));
  set_control_module(control_module);
  ComPtr<IPELKSonquixManager3> manager;
  make_sonquix(CLSID_PELKVXTSonquixManager, IPELKSonquixManager3::kIid, manager.OutVoid());
  if (!manager || FAILED(manager->Initialize(control.Get()))) {
    std::fprintf(stderr, "the manager refuses the lookup control\n");
    return 1;
  }

  for (const std::string& file : files) Identify(manager.Get(), make_sonquix, file);

  // Step 5: Shutdown joins the manager's workers; then the ComPtrs release the objects. The
  // modules stay loaded until the process ends (objects they made must keep their code).
  manager->Shutdown();
  return 0;
}
