// CPelkFileInfoList: the ordered, 1-based collection of file-information records. The host
// hands one in (the files of an album, a library batch); identification hands them back (the
// candidates of one file, one album of a result). Besides the published collection operations
// it carries a list match code, a cached average score kept up to date on every addition and
// removal, the searches, de-duplicating appends and pops the identification code groups and
// batches files with, and the orderings of list_ordering.h with sorted insertion.
//
// References: the list holds one reference on every record it contains, released when the
// entry is removed or the list goes; a record may sit in several lists. Records and lists
// handed out carry a new reference.
//
// Locking: every operation holds this list's recursive lock for its whole duration and reaches
// records only through their own operations, which take the record's lock: the order is list,
// then record (a list of lists takes its lock before either). Where an operation involves a
// second list:
//  - AppendList and AppendFileInfoListMatchesNoDuplicate read the other list's records first,
//    through its own operations, before taking this list's lock, so two lists may append into
//    each other from two threads at once;
//  - PopFolderList and PopBatch fill their new list (not yet seen by anyone) while holding this
//    list's lock.
//
// Aggregatable: created with an outer object, it delegates its IUnknown to it.
#pragma once

#include <mutex>
#include <string_view>
#include <vector>

#include "model/disc_comparer.h"
#include "model/file_info.h"
#include "model/list_ordering.h"
#include "pelk/file_info_interfaces.h"
#include "runtime/object.h"

namespace pelk {

class CPelkFileInfoList final : public Object<CPelkFileInfoList, Dual<IPelkFileInfoList2_6>> {
 public:
  static constexpr IID kImplIid = MakeGuid("5C0E2B7A-3F61-4D8E-9A27-61B0C4D9E813");
  static constexpr bool kAggregatable = true;

  // Folder buffer of the folder comparisons; paths are cut to one character less.
  static constexpr size_t kFolderBufferSize = CPelkFileInfo::kSortFolderSize;

  CPelkFileInfoList() = default;

  // --- IPelkFileInfoList ---
  // E_INVALIDARG for a null out or an index outside 1..Count.
  HRESULT GetFileInfo(int32_t index, IPelkFileInfo** record) override;
  // Appends record, or inserts it in order while a sorted flag is set (metadata first); keeps
  // a computed list score current and forgets the batch target. E_INVALIDARG for null.
  HRESULT AddFileInfo(IPelkFileInfo* record) override;
  HRESULT get_Count(int32_t* count) override;
  // A new record given each non-null (non-zero) argument through its setter, then added.
  HRESULT AddFileInfoFields(BSTR file_name, IPelkSonquixFingerprint* fingerprint,
                            int32_t track_count, int32_t track_num, IFileTag* tag, IDiscInfo* disc,
                            int32_t match_code) override;
  // Fills each non-null out from the entry's getters (match_code from SonquixMatchCode).
  // E_INVALIDARG for an index outside 1..Count; a getter's failure is returned.
  HRESULT GetFileInfoFields(int32_t index, BSTR* file_name, IPelkSonquixFingerprint** fingerprint,
                            int32_t* track_count, int32_t* track_num, IFileTag** tag,
                            IDiscInfo** disc, int32_t* match_code) override;
  HRESULT GetListMatchCode(int32_t* match_code) override;
  // Stored as given.
  HRESULT SetListMatchCode(int32_t match_code) override;
  // Removes the first entry that is the same object. E_INVALIDARG for null, E_FAIL if absent.
  HRESULT RemoveFileInfo(IPelkFileInfo* record) override;
  // Removes the first entry whose file name equals file_name ignoring case. E_INVALIDARG for
  // an empty name, E_FAIL if absent.
  HRESULT RemoveFile(BSTR file_name) override;

  // --- IPelkFileInfoList2_6 ---
  // S_FALSE, doing nothing, for the list codes LIST_MATCH_ERROR and LIST_MATCH_NONE. Otherwise
  // each entry retrieves its disc's full data; every later entry on the same disc gets a copy
  // of that disc at its own TrackNum (E_FAIL for TrackNum 0) and a tag built from it. The
  // first failure stops the walk and is returned.
  HRESULT RetrieveData(int32_t data_options) override;

  // --- collection access (not in the published interfaces) ---
  // The entry as a VT_DISPATCH value. E_POINTER for a null out, E_INVALIDARG for index <= 0,
  // E_FAIL past the end.
  HRESULT get_Item(int32_t index, VARIANT* item);
  // An IEnumVARIANT over the entries as they are now.
  HRESULT get__NewEnum(IUnknown** enumerator);

  // --- searches ---
  // The first entry whose file name equals file_name exactly (case-sensitive); *record is
  // left untouched when none does. E_INVALIDARG for an empty name or a null out.
  HRESULT GetFileInfoByFilename(std::u16string_view file_name, IPelkFileInfo** record);
  // Whether an entry's file name, cut to 259 characters, equals file_name exactly.
  bool IsFilenameInList(std::u16string_view file_name);
  // Whether this very interface pointer is an entry. E_INVALIDARG for null, E_POINTER for a
  // null flag.
  HRESULT IsFileInfoInList(IPelkFileInfo* record, bool* flag);
  // AddFileInfo unless the record is already an entry (then S_OK, nothing changes).
  HRESULT AddFileInfoNoDuplicate(IPelkFileInfo* record);
  // The 1-based index of the first entry on the same disc (as the shared lookup control judges
  // it; without one, the same disc object) at the same current track; 0 when there is none or
  // disc is null.
  int32_t IsDiscInList(IDiscInfo* disc);
  // The first entry on the same disc, any track; the walk ends at the first entry without a
  // disc. S_OK with *record untouched when none. E_INVALIDARG for a null disc or out.
  HRESULT GetFileInfoByDisc(IDiscInfo* disc, IPelkFileInfo** record);
  // Whether an entry's disc has this album title, both normalized, ignoring case.
  bool IsAlbumInList(std::u16string_view album_title);
  // Whether an entry's tag has the tag's artist and title, all normalized, ignoring case.
  bool IsArtistAndTitleInList(IFileTag* tag);
  // Whether path (cut to 259 characters) lies directly in the folder of entry 1, ignoring
  // case. False for an empty path or list and for a path without a separator.
  bool IsFileInMyFolder(std::u16string_view path);
  // Whether some entry was found by a query of its own (MatchType other than
  // MATCH_TYPE_ALBUM_ASSOCIATED). E_POINTER for a null flag; a read failure is returned.
  HRESULT HasQueryResults(bool* flag);
  // Whether entry `index` is backed by a waveform match of this list: *result 1 confirmed (a
  // waveform kind itself, or a waveform entry with the same title), 0 contradicted (waveform
  // entries exist but none has the title; E_FAIL for an entry of MATCH_TYPE_NONE), 2 cannot
  // tell (no title, no waveform entry). E_POINTER, then E_INVALIDARG for a bad index; E_FAIL
  // for an entry without a tag.
  HRESULT VerifyWFAgainstInfo(int32_t index, int32_t* result);

  // --- appends ---
  // Adds every entry of list, in order, with AddFileInfo. Null list: S_OK.
  HRESULT AppendList(IPelkFileInfoList* list);
  // Adds the matched entries of list that have a disc; where an entry on the same disc and
  // track is already here, the new one replaces it only when its MatchType is smaller.
  HRESULT AppendFileInfoListMatchesNoDuplicate(IPelkFileInfoList* list);

  // --- score ---
  // 10000 x the mean record score, rounded to nearest; computed once, then kept current by
  // additions and removals. 0 for an empty list. E_POINTER for a null out.
  HRESULT GetScore(int32_t* score);
  // Updates a computed list score for one record added (n = +1) or removed (n = -1); the
  // entry count must already reflect the change. Nothing when no score is computed or the
  // record's score cannot be read; -1 (not computed) when the list is now empty. S_OK.
  HRESULT ChangeScoreWithInfo(IPelkFileInfo* record, int32_t n);

  // --- state ---
  // Removes every entry and clears both sorted flags; match code, options, score and batch
  // target stay.
  HRESULT Clear();
  HRESULT set_Options(int32_t value);
  HRESULT get_Options(int32_t* value);
  bool SortedByFolder();
  bool SortedByMetadata();
  int32_t BatchTarget();
  // The records, in order, each referenced.
  std::vector<ComPtr<IPelkFileInfo>> Records();
  // Holds this list's lock until the returned lock goes, so that a caller can make several
  // operations (possibly on several lists, taken in a fixed order) one step. The lock is
  // recursive: the list's own operations work meanwhile on the holding thread.
  std::unique_lock<std::recursive_mutex> Hold() { return std::unique_lock(mutex_); }

  // --- pops (the new list is handed out referenced; moved entries stay moved on failure) ---
  // Sorts by folder (once) and moves the leading entries that share entry 1's folder (ignoring
  // case) into a new list. S_OK with an empty new list for an empty list. E_POINTER for a null
  // out.
  HRESULT PopFolderList(CPelkFileInfoList** list);
  // Moves the next batch into a new list: at least the batch target (the count halved, rounded
  // up, until it is at most size), then on while the next entry shares the last moved entry's
  // album or artist (or, for entries without both, the first 4 characters of the file name).
  // Sorts by metadata (once) when size is below the count. E_POINTER for a null out,
  // E_INVALIDARG for size outside 10..100000.
  HRESULT PopBatch(int32_t size, CPelkFileInfoList** list);

  // --- orderings (stable; S_OK) ---
  HRESULT SortItemsByTrackNum();
  HRESULT SortItemsByMatchType();
  // Sorts only while SortedByFolder is clear, then sets it.
  HRESULT SortItemsByFolder();
  // Sorts only while SortedByMetadata is clear, then sets it.
  HRESULT SortItemsByMetadata();
  HRESULT SortItemsByMatchQuality();
  // Inserts record directly after the first entry that does not come before it in folder
  // (metadata) order, or at the end. Neither updates the score. E_INVALIDARG for null.
  HRESULT InsertSortedByFolder(IPelkFileInfo* record);
  HRESULT InsertSortedByMetadata(IPelkFileInfo* record);

 private:
  ~CPelkFileInfoList() override = default;
  friend class Object<CPelkFileInfoList, Dual<IPelkFileInfoList2_6>>;

  // One entry: the record as added, and its implementation when it is one of ours. Records of
  // other implementations are kept and handed back; internal code reads them through the
  // published interfaces where it can, and the orderings place them after every record of ours.
  struct Entry {
    ComPtr<IPelkFileInfo> record;
    ComPtr<CPelkFileInfo> impl;
  };
  using Before = bool (*)(OrderingFacts&, OrderingFacts&);

  static Entry MakeEntry(IPelkFileInfo* record);
  static int32_t MatchTypeOf(const Entry& entry, HRESULT* hr = nullptr);
  bool ValidIndex(int32_t index) const;
  HRESULT Insert(Entry entry);
  HRESULT InsertSorted(Entry entry, Before before);
  void SortBy(Before before);
  // Removes entry i (0-based) and updates a computed score.
  void RemoveAt(size_t i);
  // Adds the first `count` entries to target and removes them here, updating a computed score
  // as removals one by one would. A failed addition stops the move (earlier ones stay moved).
  HRESULT MoveFront(size_t count, CPelkFileInfoList* target);
  // ChangeScoreWithInfo for a list of `count` entries.
  void ChangeScore(CPelkFileInfo* record, int32_t n, size_t count);
  // IsDiscInList with the caller's comparer.
  int32_t FindDisc(IDiscInfo* disc, DiscComparer& comparer);
  // Entry i's SortFolder as the 260-character folder buffer holds it.
  std::u16string FolderOfEntry(size_t i);
  // Whether a batch that has just taken entry `last` ends before entry last + 1.
  bool BatchEndsAfter(size_t last);

  std::recursive_mutex mutex_;
  std::vector<Entry> entries_;
  int32_t list_match_code_ = LIST_MATCH_NONE;
  int32_t list_score_ = -1;
  bool sorted_by_folder_ = false;
  bool sorted_by_metadata_ = false;
  int32_t options_ = SONQUIX_DEFAULT_OPTIONS;
  int32_t batch_target_ = 0;
};

// The records of any list (ours or another implementation's), in order; a list that cannot be
// read yields its error.
HRESULT RecordsOf(IPelkFileInfoList* list, std::vector<ComPtr<IPelkFileInfo>>* records);

}  // namespace pelk
