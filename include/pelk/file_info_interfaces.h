/// @file
/// Public declarations: the file-information record, the list of records and the list of lists.
/// Lists are 1-based everywhere.
///
/// References: a record holds one reference on each object stored in it (fingerprint, tag,
/// disc, extended data), a list on each record it contains, a list of lists on each list; every
/// object handed out through an out parameter carries a new reference for the caller to release,
/// every string a copy for the caller to free. Setters release the previous value; null clears.
///
/// Threads: records, lists and lists of lists may be used from any thread. Each takes its own
/// recursive lock for a whole operation, in the order list of lists, list, record.
#pragma once

#include "control/lookup_control.h"
#include "pelk/fingerprint_interfaces.h"
#include "runtime/dispatch.h"
#include "runtime/unknown.h"

namespace pelk {

/// A record's public match code.
enum PelkSonquixMatchCode : int32_t {
  SONQUIX_MATCH_NONE = 0,   ///< no match
  SONQUIX_MATCH_EXACT = 1,  ///< a match the module is sure of
  SONQUIX_MATCH_FUZZY = 2,  ///< a probable match
  SONQUIX_MATCH_ALL = 3,    ///< exact and fuzzy together (a filter value)
  SONQUIX_MATCH_ERROR = 5,  ///< the file could not be identified
};

/// How a record's match was found; smaller values are the stronger kinds of evidence.
enum SonquixMatchType : int32_t {
  MATCH_TYPE_TAGID = 1,             ///< identifier from the tag
  MATCH_TYPE_ITUNESID = 2,          ///< iTunes identifiers from the tag
  MATCH_TYPE_ALBUM_ASSOCIATED = 3,  ///< joined an album by text against its disc
  MATCH_TYPE_WF_HINT = 4,           ///< a waveform suggestion confirmed by text
  MATCH_TYPE_WF = 5,                ///< waveform lookup
  MATCH_TYPE_TXT_ON_WF = 6,         ///< text lookup on a waveform suggestion
  MATCH_TYPE_TXT_HINT = 7,          ///< text lookup guided by a waveform hint
  MATCH_TYPE_TXT = 8,               ///< text lookup
  MATCH_TYPE_ALBUM_AND_TITLE = 11,  ///< album plus title lookup
  MATCH_TYPE_TXT_ALBUM_LEVEL = 12,  ///< a text match that is part of an album run
  MATCH_TYPE_UNKNOWN = 13,          ///< a record for a disc before its type is set
  MATCH_TYPE_NONE = 14,             ///< no match
};

/// What kind of result a list of records is.
enum FileInfoListMatchCode : int32_t {
  LIST_MATCH_ERROR = 1,                    ///< a file whose identification failed
  LIST_MATCH_NONE = 2,                     ///< a single candidate, or a rejected album seed
  LIST_MATCH_ALBUM_SINGLE = 3,             ///< an album accepted in single-answer mode
  LIST_MATCH_ALBUM_MULTIPLE = 4,           ///< an album candidate
  LIST_MATCH_TRACK_SINGLE = 5,             ///< one answer for a file
  LIST_MATCH_TRACK_MULTIPLE = 6,           ///< several candidates for a file
  LIST_MATCH_LIBRARY_SINGLE = 7,           ///< the flattened answers of a library run
  LIST_MATCH_ALBUM_SINGLE_ASSOCIATED = 8,  ///< a file's album-associated candidates
};

/// The file-information record: one audio file going in (its name, optionally a fingerprint
/// and a tag), one candidate answer coming out (the matched disc, whose current track is the
/// matched track, the track number and the match code). Made by CLSID_PelkFileInfo.
struct IPelkFileInfo : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("6165CA8D-E30F-4403-80CC-28C8126F5DCD");
  using Base = IDispatch;  ///< The interface this one extends.
  /// The full path of the file (null when unset).
  virtual HRESULT get_Filename(BSTR* value) = 0;
  /// Sets the file's full path; the module reads tag and audio from it when it has to.
  virtual HRESULT put_Filename(BSTR value) = 0;
  /// The fingerprint (null when none).
  virtual HRESULT get_Fingerprint(IPelkSonquixFingerprint** value) = 0;
  /// Gives the file a fingerprint the host computed (for audio the module cannot read).
  virtual HRESULT put_Fingerprint(IPelkSonquixFingerprint* value) = 0;
  /// The matched track number on Disc (0 when unknown).
  virtual HRESULT get_TrackNum(int32_t* value) = 0;
  /// Sets the track number.
  virtual HRESULT put_TrackNum(int32_t value) = 0;
  /// The number of tracks of the matched disc, or the count the host gave.
  virtual HRESULT get_TrackCount(int32_t* value) = 0;
  /// Sets the track count.
  virtual HRESULT put_TrackCount(int32_t value) = 0;
  /// On an answer, a tag built from the matched disc's track; on an input record, the file's
  /// own tag once read (null before).
  virtual HRESULT get_Tag(IFileTag** value) = 0;
  /// Gives the file a tag the host read (SONQUIX_GET_TAG_FROM_APP).
  virtual HRESULT put_Tag(IFileTag* value) = 0;
  /// The matched disc, its current track set to the matched track; null for no match.
  virtual HRESULT get_Disc(IDiscInfo** value) = 0;
  /// Sets the disc.
  virtual HRESULT put_Disc(IDiscInfo* value) = 0;
  /// The record's match code (PelkSonquixMatchCode).
  virtual HRESULT get_SonquixMatchCode(int32_t* value) = 0;
  /// Sets the match code.
  virtual HRESULT put_SonquixMatchCode(int32_t value) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// The record's extended data: per-track data of the lookup control, kept with the record.
struct IPelkFileInfo2 : IPelkFileInfo {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("3F817CE8-9AF6-4DAC-B2FF-1729DE7DD8D1");
  using Base = IPelkFileInfo;  ///< The interface this one extends.
  /// The record's extended data; without any, data made for the disc's track and kept. Null with
  /// S_OK when there is no disc.
  virtual HRESULT GetExtData(IExtData** ext_data) = 0;
  /// Stores extended data.
  virtual HRESULT PutExtData(IExtData* ext_data) = 0;
  /// The control's data-list element of (list_id, level) for the record's extended data.
  /// TYPE_E_ELEMENTNOTFOUND without a disc; E_INVALIDARG for list_id 0.
  virtual HRESULT GetDataListElement(int32_t list_id, int32_t level,
                                     IDataListElement** element) = 0;
  /// The extended data as text; E_FAIL without any.
  virtual HRESULT GetExtDataSerialized(BSTR* text) = 0;
  /// Extended data read from text (text that cannot be read changes nothing); always S_OK.
  virtual HRESULT PutExtDataSerialized(BSTR text) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// The record's match type and the fetch of a disc's full data.
struct IPelkFileInfo2_6 : IPelkFileInfo2 {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("B03C0B14-CE13-4AFA-B211-6E494D4367EB");
  using Base = IPelkFileInfo2;  ///< The interface this one extends.
  /// How the match was found (SonquixMatchType).
  virtual HRESULT get_MatchType(int32_t* value) = 0;
  /// Has the disc fetch its full data, then replaces Tag with one built from the disc's track.
  /// E_INVALIDARG without a disc; failures leave Tag as it was.
  virtual HRESULT RetrieveData(int32_t data_options) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// An ordered, 1-based list of records: the files of an album or a library batch going in, the
/// candidates of one file or one album coming out. Made by CLSID_PelkFileInfoList.
struct IPelkFileInfoList : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("67E48D43-AF35-4CA0-8B78-D548A16E016E");
  using Base = IDispatch;  ///< The interface this one extends.
  /// Record index (1..Count); E_INVALIDARG outside.
  virtual HRESULT GetFileInfo(int32_t index, IPelkFileInfo** record) = 0;
  /// Appends a record (the list references it); E_INVALIDARG for null.
  virtual HRESULT AddFileInfo(IPelkFileInfo* record) = 0;
  /// Number of records.
  virtual HRESULT get_Count(int32_t* count) = 0;
  /// Appends a new record made from the given fields (null and zero fields are left unset).
  virtual HRESULT AddFileInfoFields(BSTR file_name, IPelkSonquixFingerprint* fingerprint,
                                    int32_t track_count, int32_t track_num, IFileTag* tag,
                                    IDiscInfo* disc, int32_t match_code) = 0;
  /// Reads the fields of record index into each non-null out parameter.
  virtual HRESULT GetFileInfoFields(int32_t index, BSTR* file_name,
                                    IPelkSonquixFingerprint** fingerprint, int32_t* track_count,
                                    int32_t* track_num, IFileTag** tag, IDiscInfo** disc,
                                    int32_t* match_code) = 0;
  /// What kind of result the list is (FileInfoListMatchCode).
  virtual HRESULT GetListMatchCode(int32_t* match_code) = 0;
  /// Sets the list match code.
  virtual HRESULT SetListMatchCode(int32_t match_code) = 0;
  /// Removes the first entry that is this very record; E_FAIL when absent.
  virtual HRESULT RemoveFileInfo(IPelkFileInfo* record) = 0;
  /// Removes the first record whose file name equals file_name ignoring case; E_FAIL when absent.
  virtual HRESULT RemoveFile(BSTR file_name) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// The fetch of full disc data for a whole list.
struct IPelkFileInfoList2_6 : IPelkFileInfoList {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("B848CED2-D1F1-49E5-B7C5-4951FEF35F7A");
  using Base = IPelkFileInfoList;  ///< The interface this one extends.
  /// Each record fetches its disc's full data and a tag from it; S_FALSE, doing nothing, for the
  /// list codes LIST_MATCH_ERROR and LIST_MATCH_NONE. The first failure stops and is returned.
  virtual HRESULT RetrieveData(int32_t data_options) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// A 1-based list of record lists: what AlbumID hands back, one list per album found (and one
/// per file left over). Made by CLSID_PelkFileInfoLists.
struct IPelkFileInfoLists : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("C370C890-AF9F-4F88-B6BF-C625388714E9");
  using Base = IDispatch;  ///< The interface this one extends.
  /// List index (1..Count); E_INVALIDARG outside.
  virtual HRESULT GetFileInfoList(int32_t index, IPelkFileInfoList** list) = 0;
  /// Number of lists.
  virtual HRESULT get_Count(int32_t* count) = 0;
  /// Accepts list index: removes it, and its files from every other list.
  virtual HRESULT RemoveMatchAndFiles(int32_t index) = 0;
  /// Removes this very list; E_FAIL when absent.
  virtual HRESULT RemoveFileInfoList(IPelkFileInfoList* list) = 0;
  /// Appends a list (referenced).
  virtual HRESULT AddFileInfoList(IPelkFileInfoList* list) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// The record class (IPelkFileInfo2_6), made through the module's DllGetObject.
inline constexpr CLSID CLSID_PelkFileInfo = MakeGuid("FCC54353-BD18-41D0-A5B9-839B9A723D9B");
/// The list class (IPelkFileInfoList2_6).
inline constexpr CLSID CLSID_PelkFileInfoList = MakeGuid("BA0E1723-08E5-4327-91AF-E6FAD4DFE2EC");
/// The list-of-lists class (IPelkFileInfoLists).
inline constexpr CLSID CLSID_PelkFileInfoLists = MakeGuid("F90FD689-72D6-473E-A2DB-A04B35B1CF9D");

inline const DispatchTable& IPelkFileInfo::Table() {
  using I = IPelkFileInfo;
  static const DispatchEntry entries[] = {
      DispEntry<&I::get_Filename>(u"Filename", 1, DISPATCH_PROPERTYGET),
      DispEntry<&I::put_Filename>(u"Filename", 1, DISPATCH_PROPERTYPUT),
      DispEntry<&I::get_Fingerprint>(u"Fingerprint", 2, DISPATCH_PROPERTYGET),
      DispEntry<&I::put_Fingerprint>(u"Fingerprint", 2, DISPATCH_PROPERTYPUT),
      DispEntry<&I::get_TrackNum>(u"TrackNum", 3, DISPATCH_PROPERTYGET),
      DispEntry<&I::put_TrackNum>(u"TrackNum", 3, DISPATCH_PROPERTYPUT),
      DispEntry<&I::get_TrackCount>(u"TrackCount", 4, DISPATCH_PROPERTYGET),
      DispEntry<&I::put_TrackCount>(u"TrackCount", 4, DISPATCH_PROPERTYPUT),
      DispEntry<&I::get_Tag>(u"Tag", 5, DISPATCH_PROPERTYGET),
      DispEntry<&I::put_Tag>(u"Tag", 5, DISPATCH_PROPERTYPUT),
      DispEntry<&I::get_Disc>(u"Disc", 6, DISPATCH_PROPERTYGET),
      DispEntry<&I::put_Disc>(u"Disc", 6, DISPATCH_PROPERTYPUT),
      DispEntry<&I::get_SonquixMatchCode>(u"SonquixMatchCode", 7, DISPATCH_PROPERTYGET),
      DispEntry<&I::put_SonquixMatchCode>(u"SonquixMatchCode", 7, DISPATCH_PROPERTYPUT),
  };
  static const DispatchTable table{I::kIid, entries, nullptr};
  return table;
}

inline const DispatchTable& IPelkFileInfo2::Table() {
  using I = IPelkFileInfo2;
  static const DispatchEntry entries[] = {
      DispEntry<&I::GetExtData>(u"GetExtData", 0xa),
      DispEntry<&I::PutExtData>(u"PutExtData", 0xb),
      DispEntry<&I::GetDataListElement>(u"GetDataListElement", 0xc),
      DispEntry<&I::GetExtDataSerialized>(u"GetExtDataSerialized", 0xd),
      DispEntry<&I::PutExtDataSerialized>(u"PutExtDataSerialized", 0xe),
  };
  static const DispatchTable table{I::kIid, entries, &IPelkFileInfo::Table()};
  return table;
}

inline const DispatchTable& IPelkFileInfo2_6::Table() {
  using I = IPelkFileInfo2_6;
  static const DispatchEntry entries[] = {
      DispEntry<&I::get_MatchType>(u"MatchType", 0x64, DISPATCH_PROPERTYGET),
      DispEntry<&I::RetrieveData>(u"RetrieveData", 0x65),
  };
  static const DispatchTable table{I::kIid, entries, &IPelkFileInfo2::Table()};
  return table;
}

inline const DispatchTable& IPelkFileInfoList::Table() {
  using I = IPelkFileInfoList;
  static const DispatchEntry entries[] = {
      DispEntry<&I::GetFileInfo>(u"GetFileInfo", 1),
      DispEntry<&I::AddFileInfo>(u"AddFileInfo", 2),
      DispEntry<&I::get_Count>(u"Count", 3, DISPATCH_PROPERTYGET),
      DispEntry<&I::AddFileInfoFields>(u"AddFileInfoFields", 4),
      DispEntry<&I::GetFileInfoFields>(u"GetFileInfoFields", 5),
      DispEntry<&I::GetListMatchCode>(u"GetListMatchCode", 6),
      DispEntry<&I::SetListMatchCode>(u"SetListMatchCode", 7),
      DispEntry<&I::RemoveFileInfo>(u"RemoveFileInfo", 8),
      DispEntry<&I::RemoveFile>(u"RemoveFile", 9),
  };
  static const DispatchTable table{I::kIid, entries, nullptr};
  return table;
}

inline const DispatchTable& IPelkFileInfoList2_6::Table() {
  using I = IPelkFileInfoList2_6;
  static const DispatchEntry entries[] = {
      DispEntry<&I::RetrieveData>(u"RetrieveData", 0x64),
  };
  static const DispatchTable table{I::kIid, entries, &IPelkFileInfoList::Table()};
  return table;
}

inline const DispatchTable& IPelkFileInfoLists::Table() {
  using I = IPelkFileInfoLists;
  static const DispatchEntry entries[] = {
      DispEntry<&I::GetFileInfoList>(u"GetFileInfoList", 1),
      DispEntry<&I::get_Count>(u"Count", 2, DISPATCH_PROPERTYGET),
      DispEntry<&I::RemoveMatchAndFiles>(u"RemoveMatchAndFiles", 3),
      DispEntry<&I::RemoveFileInfoList>(u"RemoveFileInfoList", 4),
      DispEntry<&I::AddFileInfoList>(u"AddFileInfoList", 5),
  };
  static const DispatchTable table{I::kIid, entries, nullptr};
  return table;
}

}  // namespace pelk
