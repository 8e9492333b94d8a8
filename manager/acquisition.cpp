// Tag and fingerprint acquisition: the manager's own tag reader and fingerprinter factory, the
// two acquisition routines that try the sources an identification allows once per record, and
// the prefetch worker that runs them ahead of album and library identification.
#include <mutex>

#include "control/control_objects.h"
#include "control/tag_utils.h"
#include "fingerprint/sonquix_fingerprinter.h"
#include "manager/sonquix_manager.h"
#include "model/file_info.h"
#include "runtime/bstr.h"

namespace pelk {
namespace {

// Holds a mutex that may not exist (outside a prefetch acquisition runs unguarded).
class OptionalLock {
 public:
  explicit OptionalLock(std::shared_ptr<std::recursive_mutex> mutex) : mutex_(std::move(mutex)) {
    if (mutex_) mutex_->lock();
  }
  ~OptionalLock() {
    if (mutex_) mutex_->unlock();
  }
  OptionalLock(const OptionalLock&) = delete;
  OptionalLock& operator=(const OptionalLock&) = delete;

 private:
  std::shared_ptr<std::recursive_mutex> mutex_;
};

bool HasTag(CPelkFileInfo* record) {
  ComPtr<IFileTag> tag;
  return SUCCEEDED(record->get_Tag(tag.Out())) && tag;
}

bool HasFingerprint(CPelkFileInfo* record) {
  ComPtr<IPelkSonquixFingerprint> fingerprint;
  return SUCCEEDED(record->get_Fingerprint(fingerprint.Out())) && fingerprint;
}

// Whether an entry's identifier lookup is expected to make its waveform lookup unnecessary.
bool CarriesIdentifiers(CPelkFileInfo* record) {
  ComPtr<IFileTag> tag;
  if (FAILED(record->get_Tag(tag.Out())) || !tag) return false;
  Bstr identifier;
  if (SUCCEEDED(tag->get_Identifier(identifier.Out())) && !identifier.Empty()) return true;
  Bstr file_name;
  if (FAILED(record->get_Filename(file_name.Out()))) return false;
  std::u16string first, second;
  int32_t track = 0;
  return SUCCEEDED(
             ParseITunesIds(file_name.View(), tag.Get(), &first, 1024, &second, 1024, &track)) &&
         !first.empty() && !second.empty() && track != 0;
}

// The host's two chances to supply an item after the internal source found none: putting it on
// the record during the info event (whose Abort value is info_abort), or handing it back from
// the request event. E_ABORT when a sink aborts either or the manager is shut down meanwhile.
template <class I, class Has, class Request, class Put>
HRESULT AskHost(const CPELKSonquixManager& manager, int32_t info_abort, Has has_item,
                Request request, Put put) {
  if (info_abort != 0 || !manager.IsInitialized()) return E_ABORT;
  if (has_item()) return S_OK;
  ComPtr<I> item;
  if (request(&item) != 0 || !manager.IsInitialized()) return E_ABORT;
  if (item) put(item.Get());
  return S_OK;
}

}  // namespace

HRESULT CPELKSonquixManager::CreateFingerprinter(BSTR, IPelkSonquixFingerprinter** fingerprinter) {
  if (!fingerprinter) return E_POINTER;
  *fingerprinter = nullptr;
  // The algorithm name is not examined: there is one algorithm.
  return CPelkSonquixFingerprinter::CreateInstance(nullptr, IPelkSonquixFingerprinter::kIid,
                                                   reinterpret_cast<void**>(fingerprinter));
}

HRESULT CPELKSonquixManager::GetFingerprintInternal(BSTR file_name,
                                                    IPelkSonquixFingerprint** fingerprint) {
  if (!fingerprint) return E_POINTER;
  *fingerprint = nullptr;
  ComPtr<IPelkSonquixFingerprinter> fingerprinter;
  HRESULT hr = CreateFingerprinter(nullptr, fingerprinter.Out());
  if (FAILED(hr)) return hr;
  return fingerprinter->GetFileFingerprint(file_name, fingerprint);
}

HRESULT CPELKSonquixManager::GetTagInternal(BSTR file_name, IFileTag** tag) {
  if (BstrView(file_name).empty()) return E_INVALIDARG;
  if (!tag) return E_POINTER;
  *tag = nullptr;
  const bool media_file =
      HasExtension(BstrView(file_name), u".wma") || HasExtension(BstrView(file_name), u".asf");
  ComPtr<IFileTag> created;
  HRESULT hr =
      CreateControlObject(media_file ? CLSID_PelkMediaFileTag : CLSID_PelkFileTag, created.Out());
  if (FAILED(hr)) return hr;
  hr = created->LoadFromFile(file_name, 0);
  if (SUCCEEDED(hr)) *tag = created.Detach();
  return hr;
}

HRESULT CPELKSonquixManager::AcquireTag(CPelkFileInfo* record, int32_t options) {
  if (!record) return E_INVALIDARG;
  HRESULT result = S_OK;
  if (!record->TagAcquired()) {
    OptionalLock lock(TagMutex());
    Bstr file_name;
    // Another thread may have acquired the tag while this one waited.
    if (!record->TagAcquired() && SUCCEEDED(record->get_Filename(file_name.Out()))) {
      bool found = false;
      if (options & SONQUIX_GET_TAG_INTERNAL) {
        ComPtr<IFileTag> tag;
        GetTagInternal(file_name.Get(), tag.Out());
        if (tag) found = SUCCEEDED(record->put_Tag(tag.Get()));
      }
      if (!found && (options & SONQUIX_GET_TAG_FROM_APP)) {
        result = AskHost<IFileTag>(
            *this, events_.GetTagInfo(file_name.View(), record), [&] { return HasTag(record); },
            [&](ComPtr<IFileTag>* tag) { return events_.GetTag(file_name.View(), tag); },
            [&](IFileTag* tag) { record->put_Tag(tag); });
      }
    }
    record->SetTagAcquired();
  }
  // The file's own tag is what every candidate is scored against.
  ComPtr<IFileTag> tag;
  if (SUCCEEDED(record->get_Tag(tag.Out())) && tag) record->put_OrigTag(tag.Get());
  return result;
}

HRESULT CPELKSonquixManager::AcquireFingerprint(CPelkFileInfo* record, int32_t options) {
  if (!record) return E_INVALIDARG;
  if ((options & SONQUIX_DISABLE_WF_QUERIES) || record->FingerprintAcquired()) return S_OK;
  HRESULT result = S_OK;
  OptionalLock lock(FingerprintMutex());
  Bstr file_name;
  if (!record->FingerprintAcquired() && SUCCEEDED(record->get_Filename(file_name.Out()))) {
    if (events_.TrackIDStatusUpdate(STATUS_SONQUIX_AnalyzingWaveForm, file_name.View()) != 0 ||
        !IsInitialized()) {
      result = E_ABORT;
    } else {
      bool found = false;
      if (options & SONQUIX_GET_FP_INTERNAL) {
        ComPtr<IPelkSonquixFingerprint> fingerprint;
        GetFingerprintInternal(file_name.Get(), fingerprint.Out());
        if (fingerprint) found = SUCCEEDED(record->put_Fingerprint(fingerprint.Get()));
      }
      if (!found && (options & SONQUIX_GET_FP_FROM_APP)) {
        result = AskHost<IPelkSonquixFingerprint>(
            *this, events_.GetFingerprintInfo(file_name.View(), record),
            [&] { return HasFingerprint(record); },
            [&](ComPtr<IPelkSonquixFingerprint>* fingerprint) {
              return events_.GetFingerprint(file_name.View(), fingerprint);
            },
            [&](IPelkSonquixFingerprint* fingerprint) { record->put_Fingerprint(fingerprint); });
      }
    }
  }
  record->SetFingerprintAcquired();
  return result;
}

HRESULT CPELKSonquixManager::StartPrefetch(IPelkFileInfoList* list, int32_t options) {
  StopPrefetch();
  prefetch_stop_.store(false);
  constexpr int32_t kSources = SONQUIX_GET_FP_FROM_APP | SONQUIX_GET_FP_INTERNAL |
                               SONQUIX_GET_TAG_FROM_APP | SONQUIX_GET_TAG_INTERNAL;
  if (!list || !(options & kSources)) return E_INVALIDARG;
  {
    std::lock_guard lock(mutex_);
    tag_mutex_ = std::make_shared<std::recursive_mutex>();
    fingerprint_mutex_ = std::make_shared<std::recursive_mutex>();
  }
  // The worker holds the list and the manager for as long as it runs.
  ComPtr<IPelkFileInfoList> held_list(list);
  prefetch_thread_ = StartWorker([held_list, options](CPELKSonquixManager& manager) {
    manager.PrefetchWorker(held_list.Get(), options);
  });
  return prefetch_thread_ ? S_OK : E_FAIL;
}

void CPELKSonquixManager::PrefetchWorker(IPelkFileInfoList* list, int32_t options) {
  int32_t count = 0;
  if (FAILED(list->get_Count(&count))) return;
  auto should_stop = [&](HRESULT hr) {
    return hr == E_ABORT || !IsInitialized() || prefetch_stop_.load();
  };
  for (int32_t i = 1; i <= count; ++i) {
    ComPtr<IPelkFileInfo> entry;
    if (FAILED(list->GetFileInfo(i, entry.Out())) || !entry) continue;
    ComPtr<CPelkFileInfo> record = ImplOf<CPelkFileInfo>(entry.Get());
    if (!record) continue;  // another implementation's record: the identifying thread reads it
    if (should_stop(AcquireTag(record.Get(), options))) return;
    if ((options & SONQUIX_RETURN_SINGLE) && CarriesIdentifiers(record.Get())) continue;
    if (should_stop(AcquireFingerprint(record.Get(), options))) return;
  }
}

HRESULT CPELKSonquixManager::StopPrefetch() {
  if (prefetch_thread_) {
    prefetch_stop_.store(true);
    prefetch_thread_->PumpingWaitFor();
    prefetch_thread_.reset();
  }
  // Waiting for each mutex before letting it go: an acquisition may still hold it.
  std::shared_ptr<std::recursive_mutex> tag, fingerprint;
  {
    std::lock_guard lock(mutex_);
    tag = std::move(tag_mutex_);
    fingerprint = std::move(fingerprint_mutex_);
  }
  if (tag) std::lock_guard wait(*tag);
  if (fingerprint) std::lock_guard wait(*fingerprint);
  return S_OK;
}

std::shared_ptr<std::recursive_mutex> CPELKSonquixManager::TagMutex() const {
  std::lock_guard lock(mutex_);
  return tag_mutex_;
}

std::shared_ptr<std::recursive_mutex> CPELKSonquixManager::FingerprintMutex() const {
  std::lock_guard lock(mutex_);
  return fingerprint_mutex_;
}

}  // namespace pelk
