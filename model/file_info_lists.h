// CPelkFileInfoLists: the list of lists. Publicly a 1-based collection of record lists (what
// album identification hands back); internally the album engine. Album identification uses two
// per call:
//  - the query-result collection holds one candidate list per file (a list's file is the
//    Filename of its entry 1), filled by AddTrackIDResult(s);
//  - the album collection is given the query-result collection (SetResultLists), builds
//    candidate albums, single candidates and failed files from it as its own lists
//    (BuildAlbumLists, BuildAlbumMatch), ranks them (SortAlbumsByMatchTypeCountScore) and
//    accepts them one at a time (RemoveMatchAndFiles), taking the accepted files out of the
//    other lists and refilling the gaps from the remaining candidates.
// A record's Taken flag marks it as placed in a list of the album collection; grouping skips
// placed records.
//
// Conservation: after BuildAlbumLists every file of the query results is in at least one list
// of the album collection, and accepting lists one by one (RemoveMatchAndFiles on the first)
// answers every file exactly once. A placed record is therefore always in a list: a member the
// album cannot hold (track 0 or beyond the disc's "track_count", or of a rejected album) is
// released for grouping of its own; a seed outside its album's tracks, or whose disc cannot be
// read or grouped, becomes a list of its own (LIST_MATCH_NONE) beside the album it grew; a
// candidate whose disc cannot be read or compared is not placed by another file's album.
//
// Two file names are the same file when they are equal code unit for code unit (case counts).
//
// References: the collection holds one reference on each list it stores (a list may also sit in
// another collection: failed files' lists are shared by both) and one on its query-result
// collection; lists handed out carry a new reference. The owner's status sink is held weakly, so
// a collection never keeps its manager alive and a sink that has gone simply fires nothing.
//
// Locking: every operation holds this collection's recursive lock for its whole duration,
// including its calls into other collections, lists, records, the lookup control and the status
// sink. The order is album collection, query-result collection, list, record.
// REQUIRES: a collection is never, directly or through others, its own query-result collection.
//
// Lists and records of another implementation are stored and handed back as given. Where the
// engine needs what only this module's lists and records have (the placement flag, the waveform
// verification, merging, orderings), the operation fails with E_NOINTERFACE; ranking counts such
// a list's score as 0, and a file-name test finds nothing in it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "model/album_status_sink.h"
#include "model/disc_comparer.h"
#include "model/file_info.h"
#include "model/file_info_list.h"
#include "pelk/file_info_interfaces.h"
#include "runtime/object.h"

namespace pelk {

class CPelkFileInfoLists final
    : public Object<CPelkFileInfoLists, Dual<IPelkFileInfoLists>, ISupportErrorInfo> {
 public:
  static constexpr IID kImplIid = MakeGuid("0B6F3E52-94C1-4A7D-8E2B-5D7A9C31F460");

  // Track numbers an album can hold: 0 to 99. Candidates outside are never placed.
  static constexpr int32_t kTrackTableSize = 100;
  // Names are compared as a list's file-name test cuts them (a 260-character buffer).
  static constexpr size_t kNameLimit = CPelkFileInfoList::kFolderBufferSize - 1;

  CPelkFileInfoLists() = default;

  // --- IPelkFileInfoLists ---
  // E_INVALIDARG for a null out or an index outside 1..Count; E_FAIL when a null list is stored
  // there.
  HRESULT GetFileInfoList(int32_t index, IPelkFileInfoList** list) override;
  HRESULT get_Count(int32_t* count) override;
  // Accepts list `index` as the answer for its files (album_engine.cpp). E_INVALIDARG for an
  // index outside 1..Count; E_ABORT when the owner's sink answers Abort (the list stays).
  HRESULT RemoveMatchAndFiles(int32_t index) override;
  // Removes the first stored list that is the same object. E_INVALIDARG for null or absent.
  HRESULT RemoveFileInfoList(IPelkFileInfoList* list) override;
  // Appends list as given: no null check, no duplicate check.
  HRESULT AddFileInfoList(IPelkFileInfoList* list) override;

  // --- ISupportErrorInfo: S_OK for IPelkFileInfoLists only ---
  HRESULT InterfaceSupportsErrorInfo(REFIID iid) override;

  // --- collection access (not in the published interface) ---
  // The list as a VT_DISPATCH value. E_POINTER for a null out, E_INVALIDARG for index <= 0,
  // E_FAIL past the end.
  HRESULT get_Item(int32_t index, VARIANT* item);
  // An IEnumVARIANT over the lists as they are now.
  HRESULT get__NewEnum(IUnknown** enumerator);
  // The stored lists, in order, each referenced (null where a null was stored).
  std::vector<ComPtr<IPelkFileInfoList>> Lists();

  // --- as a query-result collection ---
  // The first list whose entry-1 file name is name; *list is null when none is (lists that
  // cannot be read are skipped). E_INVALIDARG for an empty name, E_POINTER for a null out.
  HRESULT GetFileInfoListByFilename(std::u16string_view name, IPelkFileInfoList** list);
  // The number of lists that hold a record found by a query of its own (HasQueryResults);
  // counting stops at a null list. E_POINTER for a null out; a list's failure is returned.
  HRESULT GetQueryResultCount(int32_t* count);
  // The n-th such list. E_POINTER for a null out, E_INVALIDARG for n outside 1..count.
  HRESULT GetQueryResult(int32_t n, IPelkFileInfoList** list);
  // Whether name is a file of some list of more than one entry. E_INVALIDARG for an empty name
  // or a null out.
  HRESULT FileInGoodAlbumIDResult(std::u16string_view name, bool* found);
  // Merges one file's candidate list: kept as it is when the file has no list yet, otherwise
  // its new matched candidates are merged into the file's list, which is then ordered by match
  // quality. E_INVALIDARG for null; E_FAIL when entry 1 has no file name; a read or merge
  // failure is returned.
  HRESULT AddTrackIDResult(IPelkFileInfoList* list);
  // AddTrackIDResult for every list of lists, in order, stopping at the first failure (a null
  // list fails with E_INVALIDARG). E_INVALIDARG for null lists.
  HRESULT AddTrackIDResults(IPelkFileInfoLists* lists);

  // --- as an album collection (album_engine.cpp) ---
  // The query-result collection, referenced (null when unset). E_INVALIDARG for a null out.
  HRESULT GetResultLists(CPelkFileInfoLists** lists);
  // Replaces the query-result collection and restarts the progress count of
  // RemoveMatchAndFiles (processed 0 of lists' Count). E_INVALIDARG for null or this.
  HRESULT SetResultLists(CPelkFileInfoLists* lists);
  // The sink RemoveMatchAndFiles reports accepted files to. E_INVALIDARG for an empty or
  // expired pointer.
  HRESULT SetOwnerManager(std::weak_ptr<AlbumStatusSink> owner);
  // Writes taken into every record of every list of the query-result collection. E_FAIL
  // without one; otherwise the first failure (every record that can be written is).
  HRESULT SetResultsListDiscMatches(bool taken);
  // Removes each single-entry list whose file is also in a list of several entries. A failure
  // reading an entry or testing its file stops the walk and is returned.
  HRESULT HighConfidenceResults();
  // Builds the album of seed's disc from the other files' candidates in the query-result
  // collection: per other file at most one candidate not yet placed, on the same disc, whose
  // track is free or held by a lower score (which is displaced and released). *code comes in as
  // the seed's waveform verdict (1 confirmed, 0 contradicted, 2 cannot tell) and goes out as
  // the album's: 1 exact (something confirmed), 2 fuzzy (fewer than half of the distinct tracks
  // verifiable), 0 rejected. An exact or fuzzy album receives the records placed on tracks 1..T
  // (T from the disc's "track_count", or 99 without one); a rejected album stays empty and
  // those records are released. Members placed outside 1..T are released too; the seed's flag
  // is left to the caller unless its rejected album releases it. Candidates whose disc cannot
  // be read or compared are skipped. *album is always a new list once grouping succeeded.
  // E_INVALIDARG for a null argument, E_UNEXPECTED without a query-result collection, E_POINTER
  // for a seed without a disc; a failing read of the seed's disc or a failing verification
  // ends the call, releasing every member placed so far.
  HRESULT BuildAlbumMatch(IPelkFileInfo* seed, IPelkFileInfoList** album, int32_t* code);
  // Rebuilds this collection from the query-result collection: failed files' lists as they
  // are, unmatched and album-level text candidates as single lists, every other unplaced
  // candidate as an album seed (a seed the album cannot hold, or whose album cannot be built,
  // as a single list beside it); then ranks. Fires STATUS_ALBUMID_Processing through sink for
  // each file (E_ABORT when it answers Abort). S_OK, nothing done, without a query-result
  // collection; E_INVALIDARG for a null sink. REQUIRES: sink outlives the call.
  HRESULT BuildAlbumLists(AlbumStatusSink* sink);
  // Removes empty lists and stably orders the rest: list code (album single, album multiple,
  // track single, track multiple, none, then every other code), more entries, higher list
  // score. S_OK.
  HRESULT SortAlbumsByMatchTypeCountScore();

  // Progress of RemoveMatchAndFiles since SetResultLists.
  int32_t ResultCount();
  int32_t ProcessedCount();

 private:
  ~CPelkFileInfoLists() override = default;
  friend class Object<CPelkFileInfoLists, Dual<IPelkFileInfoLists>, ISupportErrorInfo>;

  // Entry 1's file name; E_FAIL for a null list, E_INVALIDARG for an empty one.
  static HRESULT FirstFilename(IPelkFileInfoList* list, Bstr* name);
  // Whether a record of list is the file name (false for another implementation's list).
  static bool HoldsFile(IPelkFileInfoList* list, std::u16string_view name);
  bool ValidIndex(int32_t index) const;
  // Takes file's records out of other, refilling each freed track from the remaining
  // candidates of files that are neither file nor in match nor already in other.
  HRESULT RemoveFileFrom(IPelkFileInfoList* other, IPelkFileInfoList* match,
                         std::u16string_view file, DiscComparer& comparer);
  // The best unplaced candidate on disc at track among those files' lists; *found stays null
  // when there is none.
  HRESULT FindReplacement(IPelkFileInfoList* match, IPelkFileInfoList* other,
                          std::u16string_view file, IDiscInfo* disc, int32_t track,
                          DiscComparer& comparer, ComPtr<CPelkFileInfo>* found);

  std::recursive_mutex mutex_;
  std::vector<ComPtr<IPelkFileInfoList>> lists_;
  ComPtr<CPelkFileInfoLists> result_lists_;
  int32_t result_count_ = 0;
  int32_t processed_count_ = 0;
  std::weak_ptr<AlbumStatusSink> owner_;
};

}  // namespace pelk
