// Library identification: a queue of files the host fills and a run that works through it in
// the background. Track mode identifies every queued file on its own and leaves the queue as it
// is; album mode takes the queue folder by folder, cuts each folder into batches along albums
// and runs album identification on each, so that the files leave the queue as they are done
// and a stopped run leaves the rest where it was for the next one.
#include <chrono>
#include <thread>

#include "manager/settings.h"
#include "manager/sonquix_manager.h"
#include "model/file_info.h"
#include "model/file_info_list.h"
#include "runtime/bstr.h"
#include "runtime/message_queue.h"

namespace pelk {
namespace {

using ListLock = std::unique_lock<std::recursive_mutex>;

int32_t CountOf(IPelkFileInfoList* list) {
  int32_t count = 0;
  return list && SUCCEEDED(list->get_Count(&count)) ? count : 0;
}

// Holds a list's lock when there is a list.
ListLock HoldIfAny(CPelkFileInfoList* list) { return list ? list->Hold() : ListLock(); }

}  // namespace

LibraryCounters CPELKSonquixManager::LibraryProgress() const {
  LibraryCounters c;
  c.complete = library_counters_.complete.load();
  c.total = library_counters_.total.load();
  c.exact = library_counters_.exact.load();
  c.fuzzy = library_counters_.fuzzy.load();
  c.no_match = library_counters_.no_match.load();
  c.error = library_counters_.error.load();
  return c;
}

ComPtr<CPelkFileInfoList> CPELKSonquixManager::LibraryQueue() const {
  std::lock_guard lock(library_mutex_);
  return library_queue_;
}

ComPtr<CPelkFileInfoList> CPELKSonquixManager::FolderList() const {
  std::lock_guard lock(library_mutex_);
  return folder_list_;
}

ComPtr<CPelkFileInfoList> CPELKSonquixManager::BatchList() const {
  std::lock_guard lock(library_mutex_);
  return batch_list_;
}

// The list replaced goes when `list` does, after the mutex is let go.
void CPELKSonquixManager::SetFolderList(ComPtr<CPelkFileInfoList> list) {
  std::lock_guard lock(library_mutex_);
  std::swap(folder_list_, list);
}

void CPELKSonquixManager::SetBatchList(ComPtr<CPelkFileInfoList> list) {
  std::lock_guard lock(library_mutex_);
  std::swap(batch_list_, list);
}

// --- the host's calls ---

HRESULT CPELKSonquixManager::LibraryID(IPelkFileInfoList* list_in, int32_t options) {
  if (!list_in) return E_INVALIDARG;
  if (library_running_.load()) return E_ACCESSDENIED;
  std::vector<ComPtr<IPelkFileInfo>> records;
  if (FAILED(RecordsOf(list_in, &records)) || records.empty()) return E_INVALIDARG;
  HRESULT hr = NormaliseIdentificationOptions(&options);
  if (FAILED(hr)) return hr;
  // Identification keeps its state on the records, which only this module's records carry.
  for (const ComPtr<IPelkFileInfo>& entry : records) {
    ComPtr<CPelkFileInfo> record = ImplOf<CPelkFileInfo>(entry.Get());
    if (!record) return E_INVALIDARG;
    hr = record->set_Options(options);
    if (FAILED(hr)) return hr;
  }
  ComPtr<CPelkFileInfoList> queue = MakeObject<CPelkFileInfoList>();
  if (queue) hr = queue->AppendList(list_in);
  {
    std::lock_guard lock(library_mutex_);
    library_queue_ = queue;
  }
  if (!queue) return E_OUTOFMEMORY;
  if (FAILED(hr)) return hr;
  return LibraryIDStart(options);
}

HRESULT CPELKSonquixManager::LibraryIDAdd(BSTR file_name) {
  if (!LibraryQueue()) return E_FAIL;
  if (BstrView(file_name).empty()) return E_INVALIDARG;
  ComPtr<CPelkFileInfo> record = MakeObject<CPelkFileInfo>();
  if (!record) return E_OUTOFMEMORY;
  HRESULT hr = record->put_Filename(file_name);
  if (FAILED(hr)) return hr;
  return LibraryIDAddFileInfo(record.Get());
}

HRESULT CPELKSonquixManager::LibraryIDAddFileInfo(IPelkFileInfo* info) {
  ComPtr<CPelkFileInfoList> queue = LibraryQueue();
  if (!queue) return E_FAIL;
  if (!info) return E_INVALIDARG;
  Bstr file_name;
  if (FAILED(info->get_Filename(file_name.Out())) || file_name.Empty()) return E_INVALIDARG;
  ComPtr<CPelkFileInfo> record = ImplOf<CPelkFileInfo>(info);
  if (!record) return E_INVALIDARG;

  auto to_queue = [&] {
    const HRESULT hr = queue->AddFileInfo(info);
    if (SUCCEEDED(hr)) ++library_counters_.total;
    return hr;
  };
  // A file of the folder being worked on joins it, with its tag, so that it is identified with
  // its album. The tag is acquired with no list locked (acquisition may ask the host), and the
  // decision is then taken again, as the run may have moved on meanwhile.
  bool tagged = false;
  for (;;) {
    {
      ListLock queue_lock = queue->Hold();
      ComPtr<CPelkFileInfoList> folder = FolderList();
      if (!folder) return to_queue();
      ListLock folder_lock = folder->Hold();
      ComPtr<CPelkFileInfoList> batch = BatchList();
      ListLock batch_lock = HoldIfAny(batch.Get());
      const bool in_folder = folder->IsFileInMyFolder(file_name.View());
      if (in_folder && batch && batch->IsFilenameInList(file_name.View())) return E_INVALIDARG;
      if (!in_folder) return to_queue();
      if (folder->IsFilenameInList(file_name.View())) return E_INVALIDARG;
      if (tagged) {
        if (SUCCEEDED(folder->AddFileInfo(info))) {
          ++library_counters_.total;
          return S_OK;
        }
        return to_queue();
      }
    }
    int32_t options = SONQUIX_DEFAULT_OPTIONS;
    if (FAILED(queue->get_Options(&options)) || FAILED(AcquireTag(record.Get(), options))) {
      ListLock queue_lock = queue->Hold();
      return to_queue();
    }
    tagged = true;
  }
}

HRESULT CPELKSonquixManager::LibraryIDRemove(BSTR file_name) {
  ComPtr<CPelkFileInfoList> queue = LibraryQueue();
  if (!queue) return E_FAIL;
  ListLock queue_lock = queue->Hold();
  ComPtr<CPelkFileInfoList> folder = FolderList();
  ListLock folder_lock = HoldIfAny(folder.Get());
  if (folder && folder->IsFileInMyFolder(BstrView(file_name)) &&
      SUCCEEDED(folder->RemoveFile(file_name))) {
    --library_counters_.total;
  } else if (SUCCEEDED(queue->RemoveFile(file_name))) {
    --library_counters_.total;
  }
  return S_OK;
}

HRESULT CPELKSonquixManager::LibraryIDStart(int32_t options) {
  ComPtr<CPelkFileInfoList> queue = LibraryQueue();
  if (!queue) return E_FAIL;
  if (library_running_.load()) return E_ACCESSDENIED;
  HRESULT hr = NormaliseIdentificationOptions(&options);
  if (FAILED(hr)) return hr;
  for (const ComPtr<IPelkFileInfo>& entry : queue->Records()) {
    if (ComPtr<CPelkFileInfo> record = ImplOf<CPelkFileInfo>(entry.Get())) {
      record->set_Options(options);
    }
  }
  WaitForBackgroundWork();
  // The run is claimed here rather than when it begins, so that a second start or a stop made
  // right after an asynchronous start sees it.
  int32_t idle = 0;
  if (!library_running_.compare_exchange_strong(idle, 1)) return E_ACCESSDENIED;
  uint32_t generation = ++library_generation_;
  if (generation == 0) generation = ++library_generation_;  // 0 means "no stop request"

  if (!(options & SONQUIX_LOOKUP_ASYNC)) return LibraryRun(options, generation);
  library_thread_ = StartWorker([options, generation](CPELKSonquixManager& manager) {
    manager.LibraryRun(options, generation);
  });
  if (!library_thread_) {
    library_running_.store(0);
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CPELKSonquixManager::LibraryIDStop(int32_t wait) {
  if (wait) {
    LibraryStopAndWait();
    return S_OK;
  }
  std::unique_ptr<Thread> thread =
      StartWorker([](CPELKSonquixManager& manager) { manager.LibraryStopAndWait(); });
  if (!thread) return E_FAIL;
  std::vector<std::unique_ptr<Thread>> finished;
  {
    std::lock_guard lock(library_mutex_);
    // Stop threads that have ended are let go here (outside the lock); the others are kept for
    // Shutdown to wait for.
    for (auto it = stop_threads_.begin(); it != stop_threads_.end();) {
      if ((*it)->IsFinished()) {
        finished.push_back(std::move(*it));
        it = stop_threads_.erase(it);
      } else {
        ++it;
      }
    }
    stop_threads_.push_back(std::move(thread));
  }
  return S_OK;
}

HRESULT CPELKSonquixManager::LibraryIDClear() {
  LibraryIDStop(1);
  ComPtr<CPelkFileInfoList> queue = LibraryQueue();
  ListLock queue_lock = HoldIfAny(queue.Get());
  ComPtr<CPelkFileInfoList> folder = FolderList();
  ListLock folder_lock = HoldIfAny(folder.Get());
  ComPtr<CPelkFileInfoList> batch = BatchList();
  ListLock batch_lock = HoldIfAny(batch.Get());
  if (queue) queue->Clear();
  if (folder) folder->Clear();
  if (batch) batch->Clear();
  SetFolderList(nullptr);
  SetBatchList(nullptr);
  return S_OK;
}

HRESULT CPELKSonquixManager::LibraryIDStatus(int32_t* is_running, int32_t* files_in_queue) {
  if (is_running) *is_running = library_running_.load();
  if (files_in_queue) {
    ComPtr<CPelkFileInfoList> queue = LibraryQueue();
    ListLock queue_lock = HoldIfAny(queue.Get());
    ComPtr<CPelkFileInfoList> folder = FolderList();
    ListLock folder_lock = HoldIfAny(folder.Get());
    ComPtr<CPelkFileInfoList> batch = BatchList();
    ListLock batch_lock = HoldIfAny(batch.Get());
    *files_in_queue = CountOf(queue.Get()) + CountOf(folder.Get()) + CountOf(batch.Get());
  }
  return S_OK;
}

// --- stopping ---

bool CPELKSonquixManager::LibraryStops(int32_t abort, uint32_t generation) const {
  return abort != 0 || library_stop_request_.load() == generation || !IsInitialized();
}

void CPELKSonquixManager::LibraryStopAndWait() {
  const uint32_t generation = library_generation_.load();
  library_stop_request_.store(generation);
  // Called from the run's own thread (an event handler), waiting would never end: the run
  // sees the request at its next stop test.
  if (library_running_.load() && library_run_thread_.load() == std::this_thread::get_id()) return;
  for (;;) {
    // Events a sink forwards to this thread keep being delivered while it waits.
    DispatchPendingMessages();
    if (!library_running_.load() || library_generation_.load() != generation) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  uint32_t expected = generation;
  library_stop_request_.compare_exchange_strong(expected, 0);
}

void CPELKSonquixManager::WaitForStopThreads() {
  std::vector<std::unique_ptr<Thread>> threads;
  {
    std::lock_guard lock(library_mutex_);
    threads.swap(stop_threads_);
  }
  for (std::unique_ptr<Thread>& thread : threads) thread->PumpingWaitFor();
}

// --- the run ---

HRESULT CPELKSonquixManager::LibraryRun(int32_t options, uint32_t generation) {
  library_run_thread_.store(std::this_thread::get_id());
  library_counters_.complete = 0;
  library_counters_.total = 0;
  library_counters_.exact = 0;
  library_counters_.fuzzy = 0;
  library_counters_.no_match = 0;
  library_counters_.error = 0;

  HRESULT result = S_OK;
  ComPtr<CPelkFileInfoList> queue = LibraryQueue();
  if (!queue) {
    result = E_FAIL;  // shut down before the run began
  } else if (options & SONQUIX_RETURN_SINGLE) {
    // What a stopped run left in the folder and batch lists is work of this run too.
    if (CountOf(queue.Get()) + CountOf(FolderList().Get()) + CountOf(BatchList().Get()) > 0) {
      queue->set_Options(options);
      result = LibraryAlbumMode(queue.Get(), options, generation);
    }
  } else if (CountOf(queue.Get()) > 0) {
    queue->set_Options(options);
    result = (options & SONQUIX_RETURN_ALL) ? LibraryTrackMode(queue.Get(), options, generation)
                                            : E_INVALIDARG;
  }

  const LibraryCounters final_counters = LibraryProgress();
  library_run_thread_.store(std::thread::id());
  library_running_.store(0);
  events_.LibraryIDComplete(final_counters);
  return result;
}

HRESULT CPELKSonquixManager::LibraryTrackMode(CPelkFileInfoList* queue, int32_t options,
                                              uint32_t generation) {
  // The files queued when the run starts; one the host removes meanwhile is skipped.
  const std::vector<ComPtr<IPelkFileInfo>> records = queue->Records();
  library_counters_.total = static_cast<int32_t>(records.size());
  auto progress = [this] {
    LibraryCounters c = LibraryProgress();
    c.exact = 0;
    return c;
  };
  HRESULT last = S_OK;
  for (const ComPtr<IPelkFileInfo>& entry : records) {
    ComPtr<CPelkFileInfo> record = ImplOf<CPelkFileInfo>(entry.Get());
    bool queued = false;
    if (!record || FAILED(queue->IsFileInfoInList(entry.Get(), &queued)) || !queued) continue;
    ComPtr<CPelkFileInfoList> started = MakeObject<CPelkFileInfoList>();
    if (!started) return E_OUTOFMEMORY;
    started->AddFileInfo(entry.Get());
    if (LibraryStops(events_.LibraryIDListStarted(started.Get(), progress()), generation)) {
      return E_ABORT;
    }
    int32_t code = 1;
    ComPtr<IPelkFileInfoList> results;
    last = TrackIDBody(record.Get(), options, &code, results.Out(), 5);
    if (last == E_ABORT) return E_ABORT;
    ++library_counters_.complete;
    if (FAILED(last)) {
      ++library_counters_.error;
    } else if (code == 3 || code == 2) {
      ++library_counters_.fuzzy;
    } else if (code == 1) {
      ++library_counters_.no_match;
    }
    if (LibraryStops(events_.LibraryIDListComplete(results.Get(), progress()), generation)) {
      return E_ABORT;
    }
  }
  return last;
}

HRESULT CPELKSonquixManager::LibraryAlbumMode(CPelkFileInfoList* queue, int32_t options,
                                              uint32_t generation) {
  library_counters_.total = CountOf(queue) + CountOf(FolderList().Get()) +
                            CountOf(BatchList().Get());
  queue->SortItemsByFolder();
  for (;;) {
    if (!FolderList() && !BatchList()) {
      // Popped and published under the queue's lock: a host call that holds it finds every
      // record either still queued or in the folder list.
      ListLock queue_lock = queue->Hold();
      if (CountOf(queue) == 0) return S_OK;
      ComPtr<CPelkFileInfoList> folder;
      const HRESULT hr = queue->PopFolderList(folder.Out());
      if (CountOf(folder.Get()) > 0) SetFolderList(folder);
      if (FAILED(hr)) return hr;
    }
    const HRESULT hr = LibraryProcessFolder(options, generation);
    if (FAILED(hr)) return hr;
  }
}

HRESULT CPELKSonquixManager::LibraryProcessFolder(int32_t options, uint32_t generation) {
  ComPtr<CPelkFileInfoList> folder = FolderList();
  const int32_t batch_size = LibraryBatchSize(Settings().Get());
  if (folder && batch_size < CountOf(folder.Get())) {
    // Tags first, so that the metadata order, and with it the batches, follow the albums.
    for (const ComPtr<IPelkFileInfo>& entry : folder->Records()) {
      if (ComPtr<CPelkFileInfo> record = ImplOf<CPelkFileInfo>(entry.Get())) {
        AcquireTag(record.Get(), options);
      }
    }
    folder->SortItemsByMetadata();
  }
  for (;;) {
    ComPtr<CPelkFileInfoList> batch = BatchList();
    if (!batch) {
      if (!folder) return S_OK;
      ListLock folder_lock = folder->Hold();
      if (CountOf(folder.Get()) == 0) break;
      const HRESULT hr = folder->PopBatch(batch_size, batch.Out());
      if (CountOf(batch.Get()) > 0) SetBatchList(batch);
      if (FAILED(hr)) return hr;
    }
    const HRESULT hr = LibraryProcessBatch(batch.Get(), options, generation);
    if (FAILED(hr)) return hr;
  }
  // Nothing can join an empty folder list (a file joins only a folder whose first entry it
  // shares), so it can go.
  ComPtr<CPelkFileInfoList> queue = LibraryQueue();
  ListLock queue_lock = HoldIfAny(queue.Get());
  ListLock folder_lock = folder->Hold();
  if (CountOf(folder.Get()) == 0 && FolderList().Get() == folder.Get()) SetFolderList(nullptr);
  return S_OK;
}

HRESULT CPELKSonquixManager::LibraryProcessBatch(CPelkFileInfoList* batch, int32_t options,
                                                 uint32_t generation) {
  if (LibraryStops(events_.LibraryIDListStarted(batch, LibraryProgress()), generation)) {
    return E_ABORT;  // the batch stays for the next run
  }
  int32_t code = 1;
  ComPtr<IPelkFileInfoLists> results;
  HRESULT hr = AlbumIDCore(batch, options, &code, results.Out());
  if (FAILED(hr)) return hr;
  {
    ComPtr<CPelkFileInfoList> folder = FolderList();
    ListLock folder_lock = HoldIfAny(folder.Get());
    if (BatchList().Get() == batch) SetBatchList(nullptr);
  }
  ComPtr<CPelkFileInfoList> library;
  hr = FlattenAlbumResults(results.Get(), &library);
  if (FAILED(hr)) return hr;
  if (LibraryStops(events_.LibraryIDListComplete(library.Get(), LibraryProgress()),
                   generation)) {
    return E_ABORT;
  }
  return S_OK;
}

HRESULT CPELKSonquixManager::FlattenAlbumResults(IPelkFileInfoLists* results,
                                                 ComPtr<CPelkFileInfoList>* library) {
  *library = MakeObject<CPelkFileInfoList>();
  if (!*library) return E_OUTOFMEMORY;
  (*library)->SetListMatchCode(LIST_MATCH_LIBRARY_SINGLE);
  int32_t n = 0;
  if (results && FAILED(results->get_Count(&n))) return E_FAIL;
  for (int32_t i = 1; i <= n; ++i) {
    ComPtr<IPelkFileInfoList> list;
    if (FAILED(results->GetFileInfoList(i, list.Out())) || !list) return E_FAIL;
    int32_t list_code = LIST_MATCH_NONE;
    if (FAILED(list->GetListMatchCode(&list_code))) list_code = LIST_MATCH_NONE;
    if (list_code == LIST_MATCH_ALBUM_SINGLE) {
      std::vector<ComPtr<IPelkFileInfo>> records;
      if (FAILED(RecordsOf(list.Get(), &records))) return E_FAIL;
      for (const ComPtr<IPelkFileInfo>& record : records) {
        if (!record || FAILED(record->put_SonquixMatchCode(SONQUIX_MATCH_EXACT))) return E_FAIL;
        (*library)->AddFileInfo(record.Get());
        ++library_counters_.exact;
        ++library_counters_.complete;
      }
      continue;
    }
    ComPtr<IPelkFileInfo> first;
    int32_t match_code = 0;
    if (FAILED(list->GetFileInfo(1, first.Out())) || !first ||
        FAILED(first->get_SonquixMatchCode(&match_code))) {
      return E_FAIL;
    }
    (*library)->AddFileInfo(first.Get());
    switch (match_code) {
      case 0: ++library_counters_.no_match; break;
      case 1: ++library_counters_.exact; break;
      case 2:
      case 3: ++library_counters_.fuzzy; break;
      case 5: ++library_counters_.error; break;
      default: break;
    }
    ++library_counters_.complete;
  }
  return S_OK;
}

}  // namespace pelk
