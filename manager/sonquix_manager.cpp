#include "manager/sonquix_manager.h"

#include <cstdio>

#include "manager/album_sink.h"
#include "manager/settings.h"
#include "manager/shared_control.h"
#include "model/file_info_list.h"

namespace pelk {
namespace {

constexpr char16_t kVersion[] = u"PelkSonquix 2.6.206.203";

// Reads "PELKControl %d.%d.%d.%d"; fields that cannot be read stay 0.
void ParseControlVersion(const std::string& text, int32_t numbers[4]) {
  int parsed[4] = {0, 0, 0, 0};
  std::sscanf(text.c_str(), "PELKControl %d.%d.%d.%d", &parsed[0], &parsed[1], &parsed[2],
              &parsed[3]);
  for (int i = 0; i < 4; ++i) numbers[i] = parsed[i];
}

// (major, minor, fourth) at least (2, 1, 6); the third number does not count.
bool AcceptedControlVersion(const int32_t v[4]) {
  if (v[0] != 2) return v[0] > 2;
  if (v[1] != 1) return v[1] > 1;
  return v[3] >= 6;
}

}  // namespace

CPELKSonquixManager::CPELKSonquixManager()
    : album_sink_(std::make_shared<ManagerAlbumSink>(this)) {}

CPELKSonquixManager::~CPELKSonquixManager() { album_sink_->Detach(); }

HRESULT CPELKSonquixManager::get_Version(BSTR* version) {
  if (!version) return E_POINTER;
  *version = SysAllocString(kVersion);
  return *version ? S_OK : E_OUTOFMEMORY;
}

HRESULT CPELKSonquixManager::Initialize(ILookupControl* control) {
  if (!control) return E_INVALIDARG;
  SharedControlState& shared = SharedControlState::Instance();
  shared.SetControl(control);

  Bstr version;
  HRESULT hr = control->get_Version(version.Out());
  if (FAILED(hr)) return hr;
  if (version.Empty()) return PELKSonquix_PELKControlVersion;
  int32_t numbers[4];
  ParseControlVersion(version.Utf8(), numbers);
  if (!AcceptedControlVersion(numbers)) return PELKSonquix_PELKControlVersion;

  ComPtr<IUnknown> engine_object;
  hr = control->GetControlObject(kControlObjectEngine, engine_object.Out());
  if (FAILED(hr)) return hr;
  ComPtr<ILookupEngine> engine = engine_object.As<ILookupEngine>();
  if (!engine) return PELKSonquix_PELKControlVersion;

  ComPtr<IUnknown> tracer_object;
  control->GetControlObject(kControlObjectTracer, tracer_object.Out());  // optional
  ComPtr<ILookupTracer> tracer = tracer_object.As<ILookupTracer>();

  ComPtr<IPelkSonquixSettings> settings;
  hr =
      CPelkSonquixSettings::CreateInstance(nullptr, IPelkSonquixSettings::kIid, settings.OutVoid());
  {
    std::lock_guard lock(mutex_);
    engine_ = engine;
    tracer_ = tracer;
    if (SUCCEEDED(hr)) settings_ = settings;
  }
  if (FAILED(hr)) return hr;

  ComPtr<CPelkFileInfoList> queue = MakeObject<CPelkFileInfoList>();
  if (!queue) return E_OUTOFMEMORY;
  {
    std::lock_guard lock(library_mutex_);
    library_queue_ = std::move(queue);
  }

  hr = shared.AddInitializedManager(control);
  if (FAILED(hr)) return hr;
  ++own_initializations_;
  initialized_.store(1, std::memory_order_release);
  return S_OK;
}

HRESULT CPELKSonquixManager::Shutdown() {
  initialized_.store(0, std::memory_order_release);
  WaitForBackgroundWork();
  WaitForStopThreads();
  StopPrefetch();
  ComPtr<ILookupEngine> engine;
  ComPtr<ILookupTracer> tracer;
  ComPtr<IPelkSonquixSettings> settings;
  ComPtr<CPelkFileInfoList> queue, folder_list, batch_list;
  {
    std::lock_guard lock(mutex_);
    engine = std::move(engine_);
    tracer = std::move(tracer_);
    settings = std::move(settings_);
  }
  {
    std::lock_guard lock(library_mutex_);
    queue = std::move(library_queue_);
    folder_list = std::move(folder_list_);
    batch_list = std::move(batch_list_);
  }
  if (own_initializations_ > 0) {
    --own_initializations_;
    SharedControlState::Instance().RemoveInitializedManager();
  }
  return S_OK;
}

std::unique_ptr<Thread> CPELKSonquixManager::StartWorker(
    std::function<void(CPELKSonquixManager&)> routine) {
  ComPtr<CPELKSonquixManager> self(this);
  return Thread::Start(
      [self, routine = std::move(routine)]() mutable {
        CoInitialize(nullptr);
        routine(*self);
        routine = nullptr;
        self.Reset();
        CoUninitialize();
      },
      WorkerThreadPriority());
}

HRESULT CPELKSonquixManager::NormaliseIdentificationOptions(int32_t* options) {
  if (*options == SONQUIX_DEFAULT) {
    *options = SONQUIX_DEFAULT_OPTIONS;
    return S_OK;
  }
  const bool single = (*options & SONQUIX_RETURN_SINGLE) != 0;
  const bool all = (*options & SONQUIX_RETURN_ALL) != 0;
  return single == all ? E_INVALIDARG : S_OK;
}

void CPELKSonquixManager::WaitAndClear(std::unique_ptr<Thread>& thread) {
  if (!thread) return;
  thread->PumpingWaitFor();
  thread.reset();
}

void CPELKSonquixManager::WaitForBackgroundWork() {
  WaitAndClear(trackid_thread_);
  WaitAndClear(albumid_thread_);
  if (library_thread_) {
    LibraryIDStop(1);
    WaitAndClear(library_thread_);
  }
}

HRESULT CPELKSonquixManager::GetFullDisc(IDiscInfo* disc, IDiscInfo** full_disc) {
  if (!disc) return E_INVALIDARG;
  if (!full_disc) return E_POINTER;
  *full_disc = nullptr;
  int32_t track_count = 0;
  HRESULT hr = disc->get_TrackCount(&track_count);
  if (FAILED(hr)) return hr;
  HRESULT fetched = S_OK;
  if (track_count <= 1) {
    ComPtr<ILookupEngine> engine = Engine();
    // Without an engine (not initialized) the fetch counts as failed; the disc itself comes back.
    fetched = engine ? engine->FetchFullDisc(disc, 1, 0, full_disc) : E_UNEXPECTED;
  }
  if (!*full_disc) {
    *full_disc = disc;
    disc->AddRef();
  }
  return fetched;
}

HRESULT CPELKSonquixManager::GetSettings(IPelkSonquixSettings** settings) {
  if (!settings) return E_POINTER;
  std::lock_guard lock(mutex_);
  settings_.CopyTo(settings);
  return S_OK;
}

HRESULT CPELKSonquixManager::PutSettings(IPelkSonquixSettings* settings) {
  ComPtr<IPelkSonquixSettings> previous;
  std::lock_guard lock(mutex_);
  previous = std::move(settings_);
  settings_ = settings;
  return S_OK;
}

HRESULT CPELKSonquixManager::EnumConnectionPoints(IEnumConnectionPoints** points) {
  if (points) *points = nullptr;
  return E_NOTIMPL;
}

HRESULT CPELKSonquixManager::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  if (!point) return E_POINTER;
  *point = nullptr;
  if (!(iid == DIID__IPELKSonquixManagerEvents)) return CONNECT_E_NOCONNECTION;
  point_.AddRef();
  *point = &point_;
  return S_OK;
}

ComPtr<ILookupEngine> CPELKSonquixManager::Engine() const {
  std::lock_guard lock(mutex_);
  return engine_;
}

ComPtr<ILookupTracer> CPELKSonquixManager::Tracer() const {
  std::lock_guard lock(mutex_);
  return tracer_;
}

ComPtr<IPelkSonquixSettings> CPELKSonquixManager::Settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

int32_t CPELKSonquixManager::WorkerThreadPriority() const {
  return WorkerPriority(Settings().Get());
}

}  // namespace pelk
