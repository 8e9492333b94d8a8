/// @file
/// The lookup control's disc objects: DiscInfo (and LegacyDisc, the same operations under the
/// older interface identifier), their tracks, the data view, disc collections, extended data
/// and data-list elements.
///
/// Texts are BSTRs; an out text of a missing value is an empty string (or null), never a failure.
/// Track numbers are 1-based; "current track" 0 means none selected.
#pragma once

#include "runtime/dispatch.h"
#include "runtime/unknown.h"

namespace pelk {

/// One track of a disc, as handed out by IDiscInfo::GetTrack.
struct ITrackInfo : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("C581AB48-958C-4861-A9B5-4F7489E7C3FA");
  using Base = IDispatch;  ///< The interface this one extends.
  /// The track's own artist (may differ from the disc artist on compilations).
  virtual HRESULT get_Artist(BSTR* artist) = 0;
  /// The track's title.
  virtual HRESULT get_Title(BSTR* title) = 0;
  /// The track number, 1-based.
  virtual HRESULT get_Number(int32_t* number) = 0;
  /// Length in milliseconds, 0 when unknown.
  virtual HRESULT get_Length(int32_t* milliseconds) = 0;
  /// The catalogue's track identifier.
  virtual HRESULT get_Identifier(BSTR* identifier) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// Release facts of a disc, the sub-object that yields an integer.
struct IReleaseInfo : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("708BED3C-F007-4A89-B8CD-718838A61EF8");
  using Base = IDispatch;  ///< The interface this one extends.
  /// Year of release, 0 when unknown.
  virtual HRESULT get_Year(int32_t* year) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// A disc of the catalogue as a lookup hands it out: one disc of an album, with a current
/// track (the matched one). Safe from any thread; Copy before changing the current track of a
/// disc others hold.
struct IDiscInfo : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("5DF5427F-6BD9-4F98-B069-C82132594C5E");
  using Base = IDispatch;  ///< The interface this one extends.
  /// The album title.
  virtual HRESULT get_AlbumTitle(BSTR* title) = 0;
  /// The disc artist.
  virtual HRESULT get_Artist(BSTR* artist) = 0;
  /// Tracks this object carries: above 1 means the full disc; 1 (or 0) a single-track answer.
  virtual HRESULT get_TrackCount(int32_t* count) = 0;
  /// E_INVALIDARG for a track number the disc does not carry.
  virtual HRESULT GetTrackTitle(int32_t track, BSTR* title) = 0;
  /// Track track as its own object (one reference); E_INVALIDARG for a track the disc does not
  /// carry.
  virtual HRESULT GetTrack(int32_t track, ITrackInfo** info) = 0;
  /// The current track (0: none).
  virtual HRESULT get_CurrentTrack(int32_t* track) = 0;
  /// Selects the current track.
  virtual HRESULT put_CurrentTrack(int32_t track) = 0;
  /// Named properties as text: "track_count" (decimal track count of the whole album),
  /// "certified_level" (decimal). Unknown names read as empty.
  virtual HRESULT GetNamedText(BSTR name, BSTR* value) = 0;
  /// The disc identifier text.
  virtual HRESULT get_Identifier(BSTR* identifier) = 0;
  /// The release rank as decimal text: 1 is the primary release of an album, higher numbers
  /// later editions; empty when unknown.
  virtual HRESULT get_ReleaseRank(BSTR* rank) = 0;
  /// The release facts (one reference).
  virtual HRESULT get_Release(IReleaseInfo** release) = 0;
  /// 1 when the disc is a compilation, else 0.
  virtual HRESULT get_IsCompilation(int32_t* flag) = 0;
  /// An independent copy (its current track can change without touching this one).
  virtual HRESULT Copy(IDiscInfo** copy) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// The same disc operations under the interface the older lookup calls exchange.
struct ILegacyDisc : IDiscInfo {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("DE3A8385-2FFB-41C2-AA09-063ECF4EF86A");
  using Base = IDiscInfo;  ///< The interface this one extends.
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// The data view of a disc: fetches the disc's complete data from the catalogue.
struct IDiscData : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("5ADCAE5C-EF6B-461C-BA05-0366434C590E");
  using Base = IDispatch;  ///< The interface this one extends.
  /// Fetches the disc's complete data from the catalogue (options 0).
  virtual HRESULT RetrieveData(int32_t options) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// A collection of discs, 1-based.
struct IDiscList : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("73627CC0-0B26-4493-BF61-8E0579C553BF");
  using Base = IDispatch;  ///< The interface this one extends.
  /// Number of discs.
  virtual HRESULT get_Count(int32_t* count) = 0;
  /// E_INVALIDARG outside 1..Count.
  virtual HRESULT get_Item(int32_t index, IDiscInfo** disc) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// Extended data for one track of a disc, exchanged as text.
struct IExtData : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("905CF48D-E326-4377-AA49-AD0603802FE6");
  using Base = IDispatch;  ///< The interface this one extends.
  /// kind is 1 (track-level data) as the manager calls it.
  virtual HRESULT InitFromDisc(IDiscInfo* disc, int32_t kind, int32_t track) = 0;
  /// The extended data as text, for IPelkFileInfo2::PutExtDataSerialized.
  virtual HRESULT Serialize(BSTR* text) = 0;
  /// E_INVALIDARG for text that is not serialized extended data.
  virtual HRESULT Deserialize(BSTR text) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// One element of a data list, a row of integer values.
struct IDataListElement : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("F852414F-151A-4CF3-8403-A48545B19F7F");
  using Base = IDispatch;  ///< The interface this one extends.
  /// Number of values.
  virtual HRESULT get_Count(int32_t* count) = 0;
  /// index is 1-based; E_INVALIDARG outside 1..Count.
  virtual HRESULT GetValue(int32_t index, int32_t* value) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

}  // namespace pelk
