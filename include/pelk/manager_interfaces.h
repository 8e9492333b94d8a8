/// @file
/// Public declarations: the manager, its outgoing events, its settings and the enumerations they
/// use. This header and the ones it includes are what a host needs (with the runtime's).
///
/// Threads: the manager may be called from any thread. A synchronous call (TrackID, AlbumID,
/// LookupFile without SONQUIX_LOOKUP_ASYNC) runs on the caller's thread and raises its events
/// there, before it returns; an asynchronous call and the library queue run on the manager's
/// worker threads and raise their events on those threads. A sink's Invoke must therefore be
/// safe on any thread and return quickly: a host with a user interface copies what it needs and
/// posts it to its own thread's MessageQueue, which that thread runs in PumpingWait (see
/// examples/library_progress). Objects an event hands over (records, lists) are only
/// guaranteed during the call unless the sink takes a reference.
///
/// References: the manager holds the lookup control from Initialize until Shutdown, and each
/// advised sink until Unadvise. Worker threads hold a reference on the manager while they run;
/// Shutdown stops and joins them. Call Shutdown before releasing the manager.
#pragma once

#include "control/lookup_control.h"
#include "pelk/file_info_interfaces.h"
#include "pelk/fingerprint_interfaces.h"
#include "runtime/dispatch.h"
#include "runtime/unknown.h"

namespace pelk {

/// Result codes of the manager: facility 0x2FE with the severity bit for failures.
enum PELKSonquix_Results : int32_t {
  PELKSonquix_FPAcquired = 1,
  PELKSonquix_FPNotAcquired = 2,
  PELKSonquix_UnsupportedFileFormat = static_cast<int32_t>(0xC2FE0001u),
  PELKSonquix_UnsupportedAudioFormat = static_cast<int32_t>(0xC2FE0002u),
  PELKSonquix_UnknownAlgorithm = static_cast<int32_t>(0xC2FE0003u),
  PELKSonquix_UnknownSetting = static_cast<int32_t>(0xC2FE0004u),
  PELKSonquix_PELKControlVersion = static_cast<int32_t>(0xC2FE0005u),
  PELKSonquix_TextHintsFailed = static_cast<int32_t>(0xC2FE0006u),
  PELKSonquix_NoTextAvailable = static_cast<int32_t>(0xC2FE0007u),
};
/// The facility of the manager's result codes.
constexpr uint32_t ERR_DomainSonquix = 0x2FE;

/// lookup_mode bits of LookupFile (only the low byte is read).
enum PELKSonquix_LookupMode : int32_t {
  WAVEFORM_LOOKUP = 0x1,         ///< by fingerprint, when one is given
  TEXT_LOOKUP = 0x2,             ///< by text; a waveform answer is then only a hint
  TEXT_LOCAL = 0x4,              ///< several waveform candidates are resolved by the file name
  TEXT_HINT_MULTI_EXACT = 0x10,  ///< several kind-5 candidates are resolved, not returned
  TEXT_HINT_MULTI_FUZZY = 0x20,  ///< several kind-2 candidates are resolved, not returned
  TEXT_HINT_FUZZY = 0x40,        ///< with 0x20 and TEXT_LOOKUP: kind 2 goes on to the text lookup
  TEXT_HINT_ALL = 0xf0,          ///< not allowed together with event_on_completion
};

/// Option bits of TrackID, AlbumID and the library queue.
enum PelkSonquixOptions : int32_t {
  SONQUIX_DEFAULT = 0,  ///< stands for SONQUIX_DEFAULT_OPTIONS
  SONQUIX_LOOKUP_ASYNC = 0x1,
  SONQUIX_RETURN_SINGLE = 0x10,
  SONQUIX_RETURN_EXACT_ONLY = 0x10,
  SONQUIX_RETURN_ALL = 0x20,
  SONQUIX_GET_FP_FROM_APP = 0x100,
  SONQUIX_GET_FP_INTERNAL = 0x200,
  SONQUIX_GET_TAG_FROM_APP = 0x1000,
  SONQUIX_GET_TAG_INTERNAL = 0x2000,
  SONQUIX_PREFER_WF_MATCHES = 0x4000,
  SONQUIX_DISABLE_TEXT_LOOKUPS = 0x8000,
  SONQUIX_DISABLE_WF_QUERIES = 0x10000,
  SONQUIX_DISABLE_TEXT_QUERIES = 0x20000,
  SONQUIX_PREFER_WF_QUERIES = 0x40000,
  SONQUIX_EXTRA_TEXT_QUERIES = 0x80000,
  SONQUIX_DISABLE_FILENAME_PARSING = 0x100000,
  SONQUIX_HIGH_CONFIDENCE_RESULTS = 0x200000,
};
/// What option 0 means.
constexpr int32_t SONQUIX_DEFAULT_OPTIONS = 0x3310;

/// Status values of TrackIDStatusUpdate and AlbumIDStatusUpdate.
enum PelkSonquixStatus : int32_t {
  STATUS_SONQUIX_Error = 1,
  STATUS_SONQUIX_ProcessingFile = 2,
  STATUS_SONQUIX_LookingUpWaveForm = 3,
  STATUS_SONQUIX_LookingUpText = 4,
  STATUS_SONQUIX_CheckForAbort = 5,
  STATUS_ALBUMID_Querying = 6,
  STATUS_ALBUMID_Queried = 7,
  STATUS_ALBUMID_Processing = 8,
  STATUS_ALBUMID_Processed = 9,
  STATUS_SONQUIX_AnalyzingWaveForm = 10,
  STATUS_ALBUMID_QueryingWF = 11,
};

/// Priority of the manager's worker threads (IPelkSonquixSettings::put_ThreadPriority).
enum SonquixThreadPriority : int32_t {
  SONQUIX_THREAD_PRIORITY_HIGHEST = 1,  ///< applied best effort (raising may be refused)
  SONQUIX_THREAD_PRIORITY_ABOVE_NORMAL = 2,
  SONQUIX_THREAD_PRIORITY_NORMAL = 3,  ///< the default
  SONQUIX_THREAD_PRIORITY_BELOW_NORMAL = 4,
  SONQUIX_THREAD_PRIORITY_LOWEST = 5,
  SONQUIX_THREAD_PRIORITY_IDLE = 6,
};

/// The manager's settings object: read with GetSettings, changed, written back with PutSettings.
struct IPelkSonquixSettings : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("02A1F310-3D85-401C-8190-2E58DA6D3E76");
  using Base = IDispatch;  ///< The interface this one extends.
  /// The worker threads' priority (SonquixThreadPriority).
  virtual HRESULT get_ThreadPriority(int32_t* value) = 0;
  /// Sets the worker threads' priority.
  virtual HRESULT put_ThreadPriority(int32_t value) = 0;
  /// How many files the library queue takes per batch (one LibraryIDListComplete each).
  virtual HRESULT get_LibraryIDBatchSize(int32_t* value) = 0;
  /// Stored clamped to 10..100000.
  virtual HRESULT put_LibraryIDBatchSize(int32_t value) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// The manager: the object a host makes (CLSID_PELKVXTSonquixManager) to identify files. It
/// answers IConnectionPointContainer for its events (DIID__IPELKSonquixManagerEvents).
struct IPELKSonquixManager : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("09770C15-B9D8-4BC5-811F-5197458769A8");
  using Base = IDispatch;  ///< The interface this one extends.
  /// The module's version text.
  virtual HRESULT get_Version(BSTR* version) = 0;
  /// Binds the manager to a lookup control (referenced until Shutdown); call it once, first.
  /// PELKSonquix_PELKControlVersion for a control of an unsupported version.
  virtual HRESULT Initialize(ILookupControl* control) = 0;
  /// Stops the library queue and asynchronous work, joins the workers, releases the control.
  virtual HRESULT Shutdown() = 0;
  /// A new fingerprinter of the named algorithm (empty: the default);
  /// PELKSonquix_UnknownAlgorithm for another name.
  virtual HRESULT CreateFingerprinter(BSTR alg_name, IPelkSonquixFingerprinter** fingerprinter) = 0;
  /// The older single-call lookup of one file by fingerprint and text (lookup_mode:
  /// PELKSonquix_LookupMode bits). *match_code: 1 none, 2 several, 3 one disc, 5 several close;
  /// the answer is left in the control's lookup engine.
  virtual HRESULT LookupFile(IPelkSonquixFingerprint* fp, BSTR file_name, IFileTag* tag,
                             int32_t lookup_mode, int32_t event_on_completion,
                             int32_t* match_code) = 0;
  /// Chooses the disc of a collection that fits a file best (track count, missing and extra
  /// files, the file's name and tag); one reference to it in *disc.
  virtual HRESULT ResolveLookup(IDiscList* discs, int32_t track_count, int32_t missing_files,
                                int32_t extra_files, int32_t lookup_mode, BSTR file_name,
                                IFileTag* tag, int32_t match_code, ILegacyDisc** disc) = 0;
  /// How well track track_num of disc fits the file: 100 minus the track distance.
  /// PELKSonquix_NoTextAvailable without a tag and a file name.
  virtual HRESULT CompareTrackToFile(BSTR file_name, IFileTag* tag, ILegacyDisc* disc,
                                     int32_t track_num, int32_t* value) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// The manager's track and album identification.
struct IPELKSonquixManager2 : IPELKSonquixManager {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("F62BA8FF-74DB-4D9C-A1BD-F3D861266382");
  using Base = IPELKSonquixManager;  ///< The interface this one extends.
  /// Identifies one file. options: PelkSonquixOptions (0 means SONQUIX_DEFAULT_OPTIONS).
  /// Synchronous: *match_code (1 no match, 2 several candidates, 3 one answer) and *list_out,
  /// one record per candidate, each with its disc. With SONQUIX_LOOKUP_ASYNC it returns at once
  /// and the answer comes with TrackIDComplete on a worker thread.
  virtual HRESULT TrackID(IPelkFileInfo* info_in, int32_t options, int32_t* match_code,
                          IPelkFileInfoList** list_out) = 0;
  /// Identifies the files of list_in as albums: *lists_out holds one list per album found and one
  /// per file left over, every file answered once. SONQUIX_LOOKUP_ASYNC: AlbumIDComplete.
  virtual HRESULT AlbumID(IPelkFileInfoList* list_in, int32_t options, int32_t* match_code,
                          IPelkFileInfoLists** lists_out) = 0;
  /// The tag the module reads from a file itself (through the control's module).
  virtual HRESULT GetTagInternal(BSTR file_name, IFileTag** tag) = 0;
  /// The fingerprint the module computes from a file itself (WAV files).
  virtual HRESULT GetFingerprintInternal(BSTR file_name, IPelkSonquixFingerprint** fingerprint) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// The library queue (a whole library identified in the background), full disc data and the
/// settings.
struct IPELKSonquixManager3 : IPELKSonquixManager2 {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("225AFE54-2CC8-4778-8702-F5B768C2920D");
  using Base = IPELKSonquixManager2;  ///< The interface this one extends.
  /// Queues the files of list_in and starts the queue with options (LibraryIDStart).
  virtual HRESULT LibraryID(IPelkFileInfoList* list_in, int32_t options) = 0;
  /// Queues one file by name.
  virtual HRESULT LibraryIDAdd(BSTR file_name) = 0;
  /// Queues a record the host filled (a fingerprint or tag of its own).
  virtual HRESULT LibraryIDAddFileInfo(IPelkFileInfo* info) = 0;
  /// Takes a file that has not started yet out of the queue.
  virtual HRESULT LibraryIDRemove(BSTR file_name) = 0;
  /// Starts the queue on the manager's library thread: progress comes as LibraryIDListStarted
  /// and LibraryIDListComplete, the end as LibraryIDComplete. Returns at once.
  virtual HRESULT LibraryIDStart(int32_t options) = 0;
  /// Stops the queue after the files in progress; wait non-zero blocks until it has stopped.
  /// Files not yet done stay queued.
  virtual HRESULT LibraryIDStop(int32_t wait) = 0;
  /// Empties the queue.
  virtual HRESULT LibraryIDClear() = 0;
  /// Whether the queue runs, and how many files wait in it.
  virtual HRESULT LibraryIDStatus(int32_t* is_running, int32_t* files_in_queue) = 0;
  /// The disc with its complete data fetched from the catalogue (one reference).
  virtual HRESULT GetFullDisc(IDiscInfo* disc, IDiscInfo** full_disc) = 0;
  /// A copy of the manager's settings.
  virtual HRESULT GetSettings(IPelkSonquixSettings** settings) = 0;
  /// Applies settings (taken by value; later changes to the object do not count).
  virtual HRESULT PutSettings(IPelkSonquixSettings* settings) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// The outgoing event interface: a pure dispatch interface, events known by dispatch id only.
/// Sinks answer this identifier with their IDispatch.
inline constexpr IID DIID__IPELKSonquixManagerEvents =
    MakeGuid("70CBB250-5E97-44A1-8C86-81490EDE00E2");

/// The dispatch ids of the manager's events, passed to the sink's IDispatch::Invoke. Arguments
/// arrive last first (argument i of n is rgvarg[n - 1 - i]); "out" arguments are VT_BYREF and
/// written through. Abort: a sink sets it non-zero to stop the operation in progress.
enum SonquixEventId : DISPID {
  /// TrackIDStatusUpdate(status, file name, out Abort): a step of identifying one file
  /// (PelkSonquixStatus).
  kEventTrackIDStatusUpdate = 1,
  /// AlbumIDStatusUpdate(status, file name, current file, total files, out Abort).
  kEventAlbumIDStatusUpdate = 2,
  /// TrackIDComplete(match code, the record given, the answers): an asynchronous TrackID ended.
  kEventTrackIDComplete = 3,
  /// AlbumIDComplete(match code, the list given, the lists of answers): an asynchronous AlbumID
  /// ended.
  kEventAlbumIDComplete = 4,
  /// GetFingerprint(file name, out fingerprint, out Abort): SONQUIX_GET_FP_FROM_APP asks the
  /// host for a file's fingerprint.
  kEventGetFingerprint = 5,
  /// GetTag(file name, out tag, out Abort): SONQUIX_GET_TAG_FROM_APP asks the host for a tag.
  kEventGetTag = 6,
  /// LibraryIDListStarted(list, complete, total, exact, fuzzy, no match, error, out Abort): the
  /// library queue starts on a batch of files.
  kEventLibraryIDListStarted = 7,
  /// LibraryIDListComplete(list, complete, total, exact, fuzzy, no match, error, out Abort): a
  /// batch is finished; the list holds each file's answer.
  kEventLibraryIDListComplete = 8,
  /// LibraryIDComplete(complete, total, exact, fuzzy, no match, error): the library run ended
  /// (finished, failed or stopped). The last event of a run.
  kEventLibraryIDComplete = 9,
  /// GetFingerprintInfo(file name, record, out Abort): the library queue asks the host to put a
  /// fingerprint on the record (audio the module cannot read).
  kEventGetFingerprintInfo = 10,
  /// GetTagInfo(file name, record, out Abort): the library queue asks the host to put a tag on
  /// the record.
  kEventGetTagInfo = 11,
};

/// Description of the events (names and argument types, in declaration order), for sinks that
/// decode them by name.
const DispatchTable& ManagerEventsTable();

/// The manager class (IPELKSonquixManager3), made through the module's DllGetObject.
inline constexpr CLSID CLSID_PELKVXTSonquixManager =
    MakeGuid("9765784C-B3E5-42AA-82B7-8A48A6A92994");
/// The settings class (IPelkSonquixSettings).
inline constexpr CLSID CLSID_PelkSonquixSettings = MakeGuid("1C5DEB33-65B0-43C6-89A3-87B36A10AD89");
/// The type library's identifier (version 1.0).
inline constexpr GUID LIBID_PelkSonquixVXTLib = MakeGuid("B0C1311E-9CB6-4A72-969D-556C1D22099E");

inline const DispatchTable& IPelkSonquixSettings::Table() {
  using I = IPelkSonquixSettings;
  static const DispatchEntry entries[] = {
      DispEntry<&I::get_ThreadPriority>(u"ThreadPriority", 1, DISPATCH_PROPERTYGET),
      DispEntry<&I::put_ThreadPriority>(u"ThreadPriority", 1, DISPATCH_PROPERTYPUT),
      DispEntry<&I::get_LibraryIDBatchSize>(u"LibraryIDBatchSize", 2, DISPATCH_PROPERTYGET),
      DispEntry<&I::put_LibraryIDBatchSize>(u"LibraryIDBatchSize", 2, DISPATCH_PROPERTYPUT),
  };
  static const DispatchTable table{I::kIid, entries, nullptr};
  return table;
}

inline const DispatchTable& IPELKSonquixManager::Table() {
  using I = IPELKSonquixManager;
  static const DispatchEntry entries[] = {
      DispEntry<&I::get_Version>(u"Version", 1, DISPATCH_PROPERTYGET),
      DispEntry<&I::Initialize>(u"Initialize", 2),
      DispEntry<&I::Shutdown>(u"Shutdown", 3),
      DispEntry<&I::CreateFingerprinter>(u"CreateFingerprinter", 4),
      DispEntry<&I::LookupFile>(u"LookupFile", 5),
      DispEntry<&I::ResolveLookup>(u"ResolveLookup", 6),
      DispEntry<&I::CompareTrackToFile>(u"CompareTrackToFile", 7),
  };
  static const DispatchTable table{I::kIid, entries, nullptr};
  return table;
}

inline const DispatchTable& IPELKSonquixManager2::Table() {
  using I = IPELKSonquixManager2;
  static const DispatchEntry entries[] = {
      DispEntry<&I::TrackID>(u"TrackID", 0x64),
      DispEntry<&I::AlbumID>(u"AlbumID", 0x65),
      DispEntry<&I::GetTagInternal>(u"GetTagInternal", 0x66),
      DispEntry<&I::GetFingerprintInternal>(u"GetFingerprintInternal", 0x67),
  };
  static const DispatchTable table{I::kIid, entries, &IPELKSonquixManager::Table()};
  return table;
}

inline const DispatchTable& IPELKSonquixManager3::Table() {
  using I = IPELKSonquixManager3;
  static const DispatchEntry entries[] = {
      DispEntry<&I::LibraryID>(u"LibraryID", 0xc8),
      DispEntry<&I::LibraryIDAdd>(u"LibraryIDAdd", 0xc9),
      DispEntry<&I::LibraryIDAddFileInfo>(u"LibraryIDAddFileInfo", 0xca),
      DispEntry<&I::LibraryIDRemove>(u"LibraryIDRemove", 0xcb),
      DispEntry<&I::LibraryIDStart>(u"LibraryIDStart", 0xcc),
      DispEntry<&I::LibraryIDStop>(u"LibraryIDStop", 0xcd),
      DispEntry<&I::LibraryIDClear>(u"LibraryIDClear", 0xce),
      DispEntry<&I::LibraryIDStatus>(u"LibraryIDStatus", 0xcf),
      DispEntry<&I::GetFullDisc>(u"GetFullDisc", 0xd0),
      DispEntry<&I::GetSettings>(u"GetSettings", 0xd1),
      DispEntry<&I::PutSettings>(u"PutSettings", 0xd2),
  };
  static const DispatchTable table{I::kIid, entries, &IPELKSonquixManager2::Table()};
  return table;
}

inline const DispatchTable& ManagerEventsTable() {
  using P = ParamType;
  static constexpr P kStatus[] = {P::kI4, P::kBstr, P::kOutI4};
  static constexpr P kAlbumStatus[] = {P::kI4, P::kBstr, P::kI4, P::kI4, P::kOutI4};
  static constexpr P kTrackDone[] = {P::kI4, P::kDispatch, P::kDispatch};
  static constexpr P kGetObject[] = {P::kBstr, P::kOutDispatch, P::kOutI4};
  static constexpr P kListProgress[] = {P::kDispatch, P::kI4, P::kI4, P::kI4,
                                        P::kI4,       P::kI4, P::kI4, P::kOutI4};
  static constexpr P kLibraryDone[] = {P::kI4, P::kI4, P::kI4, P::kI4, P::kI4, P::kI4};
  static constexpr P kGetInfo[] = {P::kBstr, P::kDispatch, P::kOutI4};
  static const DispatchEntry entries[] = {
      {u"TrackIDStatusUpdate", kEventTrackIDStatusUpdate, DISPATCH_METHOD, kStatus, nullptr},
      {u"AlbumIDStatusUpdate", kEventAlbumIDStatusUpdate, DISPATCH_METHOD, kAlbumStatus, nullptr},
      {u"TrackIDComplete", kEventTrackIDComplete, DISPATCH_METHOD, kTrackDone, nullptr},
      {u"AlbumIDComplete", kEventAlbumIDComplete, DISPATCH_METHOD, kTrackDone, nullptr},
      {u"GetFingerprint", kEventGetFingerprint, DISPATCH_METHOD, kGetObject, nullptr},
      {u"GetTag", kEventGetTag, DISPATCH_METHOD, kGetObject, nullptr},
      {u"LibraryIDListStarted", kEventLibraryIDListStarted, DISPATCH_METHOD, kListProgress,
       nullptr},
      {u"LibraryIDListComplete", kEventLibraryIDListComplete, DISPATCH_METHOD, kListProgress,
       nullptr},
      {u"LibraryIDComplete", kEventLibraryIDComplete, DISPATCH_METHOD, kLibraryDone, nullptr},
      {u"GetFingerprintInfo", kEventGetFingerprintInfo, DISPATCH_METHOD, kGetInfo, nullptr},
      {u"GetTagInfo", kEventGetTagInfo, DISPATCH_METHOD, kGetInfo, nullptr},
  };
  static const DispatchTable table{DIID__IPELKSonquixManagerEvents, entries, nullptr};
  return table;
}

}  // namespace pelk
