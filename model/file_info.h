// CPelkFileInfo: the file-information record. The host fills one per audio file (file name,
// optionally a fingerprint and a tag); identification hands back records, one per candidate
// match, each with the matched disc, the track number on it, a tag built from the disc and the
// match values. The record caches its score against its disc and the sort keys of the list
// orderings.
//
// References: the record holds one reference on every object it stores (fingerprint, tags,
// disc, extended data, waveform list) and releases them when its last reference goes; object
// setters release the previous value, and null clears. Getters hand out a new reference (or
// null with S_OK); text getters a fresh copy the caller frees.
//
// Locking: every operation, public or internal, holds the record's recursive lock for its whole
// duration, including its calls into the lookup control and the track scorer, except PutWFList
// (below). The lock order is list of lists, list, record: a record never calls into a list while
// locked, and CopyPropertiesTo takes the target record's lock while holding its own.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "control/lookup_control.h"
#include "pelk/file_info_interfaces.h"
#include "pelk/manager_interfaces.h"
#include "runtime/bstr.h"
#include "runtime/object.h"

namespace pelk {

class CPelkFileInfo final
    : public Object<CPelkFileInfo, Dual<IPelkFileInfo2_6>, ISupportErrorInfo> {
 public:
  static constexpr IID kImplIid = MakeGuid("9704128F-DE43-4D2C-81F8-AC515D0C3F76");

  // Buffer sizes (terminator included) the list orderings compare sort keys in.
  static constexpr size_t kSortFolderSize = 260;
  static constexpr size_t kSortTextSize = 128;          // album and artist
  static constexpr size_t kSortFilenamePrefixSize = 5;  // file-name prefix

  CPelkFileInfo() = default;

  // --- IPelkFileInfo ---
  // Null out: E_POINTER everywhere. get_Filename gives null when unset.
  HRESULT get_Filename(BSTR* value) override;
  // Resets the cached score.
  HRESULT put_Filename(BSTR value) override;
  HRESULT get_Fingerprint(IPelkSonquixFingerprint** value) override;
  // Sets FingerprintAcquired.
  HRESULT put_Fingerprint(IPelkSonquixFingerprint* value) override;
  HRESULT get_TrackNum(int32_t* value) override;
  // Resets the cached score.
  HRESULT put_TrackNum(int32_t value) override;
  HRESULT get_TrackCount(int32_t* value) override;
  HRESULT put_TrackCount(int32_t value) override;
  HRESULT get_Tag(IFileTag** value) override;
  // Sets TagAcquired (also for null). Does not reset the cached score.
  HRESULT put_Tag(IFileTag* value) override;
  HRESULT get_Disc(IDiscInfo** value) override;
  // Resets the cached score.
  HRESULT put_Disc(IDiscInfo* value) override;
  HRESULT get_SonquixMatchCode(int32_t* value) override;
  HRESULT put_SonquixMatchCode(int32_t value) override;

  // --- IPelkFileInfo2 ---
  // The held extended data; without one, one made for (Disc, 1, TrackNum) and kept. Null with
  // S_OK when there is no disc or it cannot be made.
  HRESULT GetExtData(IExtData** ext_data) override;
  HRESULT PutExtData(IExtData* ext_data) override;
  // The shared control's data-list element for (list_id, level, extended data).
  // TYPE_E_ELEMENTNOTFOUND without a disc; S_OK and null without extended data; E_INVALIDARG
  // for list_id 0; E_NOTIMPL when the module holds no control; control failures are returned.
  HRESULT GetDataListElement(int32_t list_id, int32_t level, IDataListElement** element) override;
  // E_FAIL without extended data; otherwise the extended data's own serialization result.
  HRESULT GetExtDataSerialized(BSTR* text) override;
  // Keeps new extended data read from text; text it cannot read changes nothing. Always S_OK.
  HRESULT PutExtDataSerialized(BSTR text) override;

  // --- IPelkFileInfo2_6 ---
  HRESULT get_MatchType(int32_t* value) override;
  // Has the disc fetch its full data, then replaces Tag with one built from the disc's track.
  // E_INVALIDARG without a disc; E_FAIL when the disc has no data view; failures of the
  // retrieval and of the tag building are returned and leave Tag as it was.
  HRESULT RetrieveData(int32_t data_options) override;

  // --- ISupportErrorInfo: S_OK for IPelkFileInfo only ---
  HRESULT InterfaceSupportsErrorInfo(REFIID iid) override;

  // --- internal operations ---
  HRESULT put_MatchType(int32_t value);
  HRESULT get_PELKMatchCode(int32_t* value);
  HRESULT put_PELKMatchCode(int32_t value);
  HRESULT set_Options(int32_t value);
  HRESULT get_Options(int32_t* value);
  // The file's own tag, which scoring compares against.
  HRESULT get_OrigTag(IFileTag** value);
  // Resets the cached score.
  HRESULT put_OrigTag(IFileTag* value);
  HRESULT GetWFList(IPelkFileInfoList** list);
  // Stores the waveform candidate list and takes the waveform hint from its first suggestion
  // (waveform_hints.h): a non-empty artist replaces WFArtist, a non-empty title WFTitle.
  // Returns the suggestions' result; on failure the list is stored all the same and the hint
  // kept. E_INVALIDARG for null (nothing changes). Does not reset the cached score.
  // Locking: the suggestions are made from the list before this record's lock is taken (so no
  // record lock is held while a list's is taken); the list and the hint are then stored
  // together under the lock.
  HRESULT PutWFList(IPelkFileInfoList* list);
  std::u16string WFArtist();
  std::u16string WFTitle();

  // A new FileTag holding OrigTag's fields, its empty artist and title completed from the
  // waveform hint unless MatchType is MATCH_TYPE_WF. Creation, read and write failures are
  // returned (and *tag is null).
  HRESULT GetTagForScore(IFileTag** tag);
  // The score of Disc at its current track, 0-100, computed once per change of Filename,
  // TrackNum, Disc or OrigTag; -1 without a disc. Failures give *score 0 and are not cached.
  HRESULT GetScore(int32_t* score);
  // Whether the score is high enough for the match type: identifier matches always, waveform
  // kinds at 80, text kinds at 90, no match never; *flag is left as passed in for the
  // album-associated and unknown kinds (callers pass false). Score failures are returned.
  HRESULT IsHighConfidence(bool* flag);
  // The track of disc that best fits this file and its score: the hint first (done at 100),
  // then every other track; the first of equal scores wins; numbers the disc does not hold
  // (gaps, E_INVALIDARG from the disc) are passed over. *track stays 0 when every track
  // scores 0. E_INVALIDARG for a null disc or a track count of 0; scorer failures are returned
  // with the outputs untouched.
  HRESULT GetBestTrackNumForDisc(IDiscInfo* disc, int32_t* track, int32_t* score);

  // Sort keys, computed on first request and kept. Each writes its key into buffer as at most
  // size-1 code units and a terminator (clearing the buffer first), and leaves buffer unchanged
  // when the key is empty. E_POINTER for a null buffer.
  HRESULT get_SortFolder(char16_t* buffer, size_t size);    // Filename up to its last separator
  HRESULT get_SortAlbum(char16_t* buffer, size_t size);     // Tag's album title
  HRESULT get_SortArtist(char16_t* buffer, size_t size);    // Tag's artist, else WFArtist
  HRESULT get_SortFilename(char16_t* buffer, size_t size);  // Filename after its last separator

  // Copies Filename, Fingerprint, TrackNum, TrackCount, Tag, Disc, SonquixMatchCode, MatchType,
  // PELKMatchCode, Options and Taken through target's setters, stopping at the first failure.
  // E_INVALIDARG for a null target.
  HRESULT CopyPropertiesTo(CPelkFileInfo* target);

  // Placement flag of album grouping.
  bool Taken();
  void SetTaken(bool taken);
  // Set by put_Tag / put_Fingerprint, and by acquisition once it has tried every source (so a
  // record is never asked twice, even when nothing was found).
  bool TagAcquired();
  bool FingerprintAcquired();
  void SetTagAcquired();
  void SetFingerprintAcquired();

 private:
  ~CPelkFileInfo() override = default;
  friend class Object<CPelkFileInfo, Dual<IPelkFileInfo2_6>, ISupportErrorInfo>;

  // The path the scorer parses: empty when file-name parsing is disabled.
  std::u16string_view NameText() const;
  HRESULT GetExtDataLocked(ComPtr<IExtData>* ext_data);

  std::recursive_mutex mutex_;
  ComPtr<IExtData> ext_data_;
  Bstr filename_;
  ComPtr<IPelkSonquixFingerprint> fingerprint_;
  int32_t track_num_ = 0;
  int32_t track_count_ = 0;
  ComPtr<IFileTag> tag_;
  ComPtr<IDiscInfo> disc_;
  ComPtr<IFileTag> orig_tag_;
  int32_t sonquix_match_code_ = SONQUIX_MATCH_NONE;
  int32_t match_type_ = MATCH_TYPE_NONE;
  int32_t pelk_match_code_ = 1;
  // Filled on first request, never reset; nullopt until then.
  std::optional<std::u16string> sort_folder_, sort_album_, sort_artist_, sort_filename_;
  bool taken_ = false;
  bool tag_acquired_ = false;
  bool fingerprint_acquired_ = false;
  int32_t cached_score_ = -1;
  int32_t options_ = SONQUIX_DEFAULT_OPTIONS;
  ComPtr<IPelkFileInfoList> wf_list_;
  std::u16string wf_artist_;
  std::u16string wf_title_;
};

}  // namespace pelk
