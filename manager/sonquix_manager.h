// CPELKSonquixManager: the object a host creates to identify music files. It is initialized
// against a lookup control, reports through its connection point for
// _IPELKSonquixManagerEvents, and runs identification on the host's thread or on workers.
//
// References: the manager holds one reference on its engine, tracer and settings (released by
// Shutdown and on destruction) and on every advised sink. Worker threads hold a reference on the
// manager while they run. The process-wide control state is in SharedControlState.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "manager/manager_events.h"
#include "pelk/manager_interfaces.h"
#include "runtime/connection_point.h"
#include "runtime/object.h"
#include "runtime/thread.h"

namespace pelk {

class CPelkFileInfo;
class CPelkFileInfoList;
class CPelkFileInfoLists;
class ManagerAlbumSink;
struct LookupFileSide;

class CPELKSonquixManager final
    : public Object<CPELKSonquixManager, Dual<IPELKSonquixManager3>, IConnectionPointContainer> {
 public:
  static constexpr IID kImplIid = MakeGuid("F47DC964-3491-4FBF-A5F9-1DBE20021347");

  CPELKSonquixManager();
  ~CPELKSonquixManager() override;

  // IPELKSonquixManager
  HRESULT get_Version(BSTR* version) override;
  HRESULT Initialize(ILookupControl* control) override;
  HRESULT Shutdown() override;
  HRESULT CreateFingerprinter(BSTR alg_name, IPelkSonquixFingerprinter** fingerprinter) override;
  HRESULT LookupFile(IPelkSonquixFingerprint* fp, BSTR file_name, IFileTag* tag,
                     int32_t lookup_mode, int32_t event_on_completion,
                     int32_t* match_code) override;
  HRESULT ResolveLookup(IDiscList* discs, int32_t track_count, int32_t missing_files,
                        int32_t extra_files, int32_t lookup_mode, BSTR file_name, IFileTag* tag,
                        int32_t match_code, ILegacyDisc** disc) override;
  HRESULT CompareTrackToFile(BSTR file_name, IFileTag* tag, ILegacyDisc* disc, int32_t track_num,
                             int32_t* value) override;
  // IPELKSonquixManager2
  HRESULT TrackID(IPelkFileInfo* info_in, int32_t options, int32_t* match_code,
                  IPelkFileInfoList** list_out) override;
  HRESULT AlbumID(IPelkFileInfoList* list_in, int32_t options, int32_t* match_code,
                  IPelkFileInfoLists** lists_out) override;
  HRESULT GetTagInternal(BSTR file_name, IFileTag** tag) override;
  HRESULT GetFingerprintInternal(BSTR file_name, IPelkSonquixFingerprint** fingerprint) override;
  // IPELKSonquixManager3
  HRESULT LibraryID(IPelkFileInfoList* list_in, int32_t options) override;
  HRESULT LibraryIDAdd(BSTR file_name) override;
  HRESULT LibraryIDAddFileInfo(IPelkFileInfo* info) override;
  HRESULT LibraryIDRemove(BSTR file_name) override;
  HRESULT LibraryIDStart(int32_t options) override;
  HRESULT LibraryIDStop(int32_t wait) override;
  HRESULT LibraryIDClear() override;
  HRESULT LibraryIDStatus(int32_t* is_running, int32_t* files_in_queue) override;
  HRESULT GetFullDisc(IDiscInfo* disc, IDiscInfo** full_disc) override;
  HRESULT GetSettings(IPelkSonquixSettings** settings) override;
  HRESULT PutSettings(IPelkSonquixSettings* settings) override;
  // IConnectionPointContainer
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override;
  HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

  // --- internal operations ---
  // Waits (dispatching the calling thread's messages) for the TrackID, AlbumID and library
  // workers, and forgets their handles.
  void WaitForBackgroundWork();
  bool IsInitialized() const { return initialized_.load(std::memory_order_acquire) != 0; }
  ManagerEvents& Events() { return events_; }
  ComPtr<ILookupEngine> Engine() const;
  ComPtr<ILookupTracer> Tracer() const;
  ComPtr<IPelkSonquixSettings> Settings() const;
  // The platform priority a worker started now takes, from the live settings.
  int32_t WorkerThreadPriority() const;

  // --- tag and fingerprint acquisition (acquisition.cpp) ---
  // Each tries the sources the options allow at most once per record, also across the prefetch
  // worker and the identifying thread. S_OK, E_ABORT (host abort or shut-down), E_INVALIDARG.
  HRESULT AcquireTag(CPelkFileInfo* record, int32_t options);
  HRESULT AcquireFingerprint(CPelkFileInfo* record, int32_t options);
  // Starts acquiring tags and fingerprints for the records of list, in order, on a worker, so
  // that acquisition for later files overlaps the lookups of earlier ones.
  HRESULT StartPrefetch(IPelkFileInfoList* list, int32_t options);
  // Stops the worker after its current file and waits for it. Always S_OK.
  HRESULT StopPrefetch();

  // --- single-file identification (track_identification.cpp) ---
  // A status event under the abort rule: true (abort) when a sink answered a non-zero Abort,
  // or exactly 1 when only_one is set, or the manager is no longer initialized.
  bool StatusAborts(int32_t status, std::u16string_view file_name, bool only_one = false);
  // The whole identification of one file as TrackID runs it: candidates, match codes, the
  // completion event. match_code and list_out may be null.
  HRESULT TrackIDBody(CPelkFileInfo* record, int32_t options, int32_t* match_code,
                      IPelkFileInfoList** list_out, int32_t mode);
  // Runs the lookups for one file in the given mode (1-6) and merges their candidates into
  // *list, handed out at once (so the caller holds it even when a later step fails). Returns
  // the result of the last step; *lookup_result is the selected error when every lookup failed.
  HRESULT IdentifyFile(CPelkFileInfo* record, ComPtr<CPelkFileInfoList>* list,
                       HRESULT* lookup_result, int32_t options, int32_t mode);
  // IdentifyFile in mode 2, then the best candidate alone with its verdict.
  HRESULT IdentifySingle(CPelkFileInfo* record, ComPtr<CPelkFileInfoList>* list,
                         HRESULT* lookup_result, int32_t options);
  HRESULT IdentifierLookupHelper(CPelkFileInfo* record, ComPtr<CPelkFileInfoList>* list,
                                 HRESULT* lookup_result, int32_t options);
  HRESULT WaveformLookupHelper(CPelkFileInfo* record, ComPtr<CPelkFileInfoList>* list,
                               HRESULT* lookup_result, int32_t options);
  HRESULT TextLookupHelper(std::u16string_view file_name, CPelkFileInfo* record,
                           ComPtr<CPelkFileInfoList>* list, HRESULT* lookup_result, int32_t options,
                           int32_t text_flag);

  // --- the single-call lookups (lookup_file.cpp) ---
  // The disc of discs that best fits the file (BestDiscForFile with the track-count rule),
  // fetched in full, with its current track and distance. E_FAIL when no disc fits.
  HRESULT ResolveCore(IDiscList* discs, int32_t track_count, int32_t missing, int32_t extra,
                      const LookupFileSide& file, ComPtr<IDiscInfo>* disc, int32_t* track,
                      int32_t* distance = nullptr);
  // The disc in full (asked of GetFullDisc up to four times) and its current track.
  HRESULT FullDiscWithTrack(IDiscInfo* disc, ComPtr<IDiscInfo>* full, int32_t* track);

  // --- album identification (album_identification.cpp, album_association.cpp) ---
  // The whole identification of a list of files as AlbumID runs it on its calling or own
  // thread (and the library queue on each folder): every file identified keeping all its
  // candidates, the candidates grouped into albums, then every candidate list or one answer per
  // file; ends with AlbumIDComplete. options are already normalised. match_code and lists_out
  // may be null. E_INVALIDARG for a null or empty list.
  // Conservation: a call that completes returns every file of list, told apart by file name,
  // exactly once with one answer per file (in an accepted album, a list of its own, or the
  // unidentified rest with its single-file answer or error list), and at least once with every
  // candidate list. A file the album engine cannot place (its track beyond its disc's count,
  // a disc it cannot read) is answered on its own, never dropped. Only a failed or aborted
  // call returns no lists.
  HRESULT AlbumIDCore(CPelkFileInfoList* list, int32_t options, int32_t* match_code,
                      IPelkFileInfoLists** lists_out);
  // Single-answer preparation: a waveform lookup for every file whose tag names neither an
  // identifier nor both artist and title, so that its hint can place it in the metadata order.
  // E_FAIL at a file without a tag, E_ABORT at a host abort or shut-down.
  HRESULT WaveformPreQuery(CPelkFileInfoList* list, int32_t options);
  // After file `position` of list has been merged into query_results: when the two latest
  // files with query results share a disc, the other files of list that score 80 or more
  // against one of its tracks join that album without a lookup. *per_file receives one list
  // (LIST_MATCH_ALBUM_SINGLE_ASSOCIATED, or the file's existing one) per file of the good
  // albums; it stays null when there is nothing to pair. E_ABORT at a host abort or shut-down.
  HRESULT AssociateAlbum(CPelkFileInfoList* list, int32_t position,
                         CPelkFileInfoLists* query_results, ComPtr<CPelkFileInfoLists>* per_file);
  // Single-answer mode: accepts albums of the album collection greedily (at least 3 files, 5
  // for a compilation) and gives every other file its best candidate alone.
  HRESULT SelectSingleAnswers(CPelkFileInfoList* list, int32_t options,
                              CPelkFileInfoLists* query_results, CPelkFileInfoLists* albums,
                              ComPtr<CPelkFileInfoLists>* selected);
  // Puts every record of a result list (other than an error or no-match list) on a copy of the
  // album's full disc at its own track, with a tag built from it. Records without a track stay.
  HRESULT CompleteAlbumDiscs(IPelkFileInfoList* list);

  // The options check of TrackID, AlbumID and the library calls: 0 becomes the default
  // options; otherwise exactly one of SONQUIX_RETURN_SINGLE and SONQUIX_RETURN_ALL must be set
  // (E_INVALIDARG).
  static HRESULT NormaliseIdentificationOptions(int32_t* options);

  // --- library identification (library_identification.cpp) ---
  // The six counters of the current (or last) library run, as the events carry them.
  LibraryCounters LibraryProgress() const;

 private:
  // Waits for one worker handle and clears it.
  static void WaitAndClear(std::unique_ptr<Thread>& thread);
  // Starts routine on a worker at the settings' priority, with the component runtime
  // initialized for that thread. The worker holds a reference on the manager, and lets it and
  // everything routine captured go as soon as routine returns. Null when no thread can start.
  std::unique_ptr<Thread> StartWorker(std::function<void(CPELKSonquixManager&)> routine);
  // The routine of the prefetch worker.
  void PrefetchWorker(IPelkFileInfoList* list, int32_t options);
  // Library identification: a run of the queue in track or album mode, on the calling thread
  // or on the library thread, with its per-mode and per-folder steps.
  HRESULT LibraryRun(int32_t options, uint32_t generation);
  HRESULT LibraryTrackMode(CPelkFileInfoList* queue, int32_t options, uint32_t generation);
  HRESULT LibraryAlbumMode(CPelkFileInfoList* queue, int32_t options, uint32_t generation);
  HRESULT LibraryProcessFolder(int32_t options, uint32_t generation);
  HRESULT LibraryProcessBatch(CPelkFileInfoList* batch, int32_t options, uint32_t generation);
  // Turns an album result collection into one list of one answer per file (list code 7) and
  // counts the answers.
  HRESULT FlattenAlbumResults(IPelkFileInfoLists* results, ComPtr<CPelkFileInfoList>* library);
  // Whether the run of this generation must end: the event's abort, a stop request for it, or
  // the manager shut down.
  bool LibraryStops(int32_t abort, uint32_t generation) const;
  // Asks the run going on to stop and waits, dispatching the calling thread's messages, until
  // it has ended. On the run's own thread it only asks.
  void LibraryStopAndWait();
  // Waits for the detached stop threads that are still going.
  void WaitForStopThreads();
  ComPtr<CPelkFileInfoList> LibraryQueue() const;
  ComPtr<CPelkFileInfoList> FolderList() const;
  ComPtr<CPelkFileInfoList> BatchList() const;
  void SetFolderList(ComPtr<CPelkFileInfoList> list);
  void SetBatchList(ComPtr<CPelkFileInfoList> list);

  // The mutexes that serialize acquisition with the prefetch worker; null outside a prefetch.
  std::shared_ptr<std::recursive_mutex> TagMutex() const;
  std::shared_ptr<std::recursive_mutex> FingerprintMutex() const;

  ConnectionPoint point_{this, DIID__IPELKSonquixManagerEvents};
  ManagerEvents events_{point_};
  // Where the album engine reports grouping and acceptance; collections hold it weakly.
  std::shared_ptr<ManagerAlbumSink> album_sink_;

  // Guards the object references below; never held across a call out of the manager.
  mutable std::mutex mutex_;
  ComPtr<ILookupEngine> engine_;
  ComPtr<ILookupTracer> tracer_;
  ComPtr<IPelkSonquixSettings> settings_;

  std::unique_ptr<Thread> trackid_thread_;
  std::unique_ptr<Thread> albumid_thread_;
  std::unique_ptr<Thread> library_thread_;
  std::unique_ptr<Thread> prefetch_thread_;
  std::atomic<bool> prefetch_stop_{false};
  // Created by StartPrefetch, cleared by StopPrefetch (under mutex_; users take a reference).
  std::shared_ptr<std::recursive_mutex> tag_mutex_;
  std::shared_ptr<std::recursive_mutex> fingerprint_mutex_;

  // Library state. Each list has its own lock; an operation that needs several takes them in
  // the order queue, folder list, batch list (CPelkFileInfoList::Hold) and lets them go in the
  // reverse order. The run replaces the folder list only while it holds the queue's lock and
  // the batch list only while it holds the folder list's, so a host call holding those locks
  // sees the records either in the source list or in the published one, never in between.
  // library_mutex_ guards the three references alone: it is taken last and briefly, never held
  // across a call out of the manager or while taking a list's lock.
  mutable std::mutex library_mutex_;
  ComPtr<CPelkFileInfoList> library_queue_;
  ComPtr<CPelkFileInfoList> folder_list_;
  ComPtr<CPelkFileInfoList> batch_list_;
  // The flags and counters are read and written by the host's calls, the run and the stop
  // threads at once, hence atomic. running is claimed by LibraryIDStart before the run starts;
  // every run has its own generation, and a stop request names the generation it stops (0 for
  // none), so that a late stop never ends a later run.
  std::atomic<int32_t> library_running_{0};
  std::atomic<uint32_t> library_generation_{0};
  std::atomic<uint32_t> library_stop_request_{0};
  std::atomic<std::thread::id> library_run_thread_{};
  struct AtomicLibraryCounters {
    std::atomic<int32_t> complete{0}, total{0}, exact{0}, fuzzy{0}, no_match{0}, error{0};
  } library_counters_;
  // Detached stop threads not yet seen to end; Shutdown waits for them (under library_mutex_).
  std::vector<std::unique_ptr<Thread>> stop_threads_;

  std::atomic<int32_t> initialized_{0};
  // Successful Initialize calls of this manager not yet matched by Shutdown: an unmatched
  // Shutdown must not take another manager's share of the process-wide count.
  int32_t own_initializations_ = 0;
};

}  // namespace pelk
