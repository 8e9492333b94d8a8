/// @file
/// The lookup control's tag objects: FileTag (thirteen texts, named fields, loading from a file),
/// its extended and MP3-field views, the media-file tag attached to a file, and the builder of a
/// tag from a disc's track.
///
/// Empty or missing fields read as empty text with S_OK. Text getters hand out a copy the
/// caller frees; setters copy the text. A tag may be used from one thread at a time.
#pragma once

#include "control/disc_info.h"
#include "runtime/dispatch.h"
#include "runtime/unknown.h"

namespace pelk {

/// A tag: the texts an audio file carries about itself. Made by CLSID_PelkFileTag (in memory)
/// or read from a file (LoadFromFile, IPELKSonquixManager2::GetTagInternal).
struct IFileTag : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("7D14F151-1F4E-4583-8136-F9B1B5404A39");
  using Base = IDispatch;  ///< The interface this one extends.
  ///@{
  /// The thirteen text properties, in the tag's own order (tag-copying follows it).
  virtual HRESULT get_AlbumTitle(BSTR* value) = 0;
  virtual HRESULT put_AlbumTitle(BSTR value) = 0;
  virtual HRESULT get_Artist(BSTR* value) = 0;
  virtual HRESULT put_Artist(BSTR value) = 0;
  virtual HRESULT get_Title(BSTR* value) = 0;
  virtual HRESULT put_Title(BSTR value) = 0;
  /// The track identifier text of the catalogue this tag was built from (or read from the file).
  virtual HRESULT get_Identifier(BSTR* value) = 0;
  virtual HRESULT put_Identifier(BSTR value) = 0;
  /// The track number as text ("3", or "3/12" as some files store it).
  virtual HRESULT get_TrackNumber(BSTR* value) = 0;
  virtual HRESULT put_TrackNumber(BSTR value) = 0;
  virtual HRESULT get_Genre(BSTR* value) = 0;
  virtual HRESULT put_Genre(BSTR value) = 0;
  virtual HRESULT get_Year(BSTR* value) = 0;
  virtual HRESULT put_Year(BSTR value) = 0;
  virtual HRESULT get_Comment(BSTR* value) = 0;
  virtual HRESULT put_Comment(BSTR value) = 0;
  virtual HRESULT get_Composer(BSTR* value) = 0;
  virtual HRESULT put_Composer(BSTR value) = 0;
  virtual HRESULT get_AlbumArtist(BSTR* value) = 0;
  virtual HRESULT put_AlbumArtist(BSTR value) = 0;
  virtual HRESULT get_DiscNumber(BSTR* value) = 0;
  virtual HRESULT put_DiscNumber(BSTR value) = 0;
  virtual HRESULT get_Lyricist(BSTR* value) = 0;
  virtual HRESULT put_Lyricist(BSTR value) = 0;
  virtual HRESULT get_Publisher(BSTR* value) = 0;
  virtual HRESULT put_Publisher(BSTR value) = 0;
  ///@}
  /// Named fields such as "TLEN" (length in milliseconds) and "iTunes_PELK_IDs".
  virtual HRESULT GetField(BSTR name, BSTR* value) = 0;
  /// Sets a named field.
  virtual HRESULT PutField(BSTR name, BSTR value) = 0;
  /// Replaces the tag's content with the tags read from the audio file; flags is 0.
  virtual HRESULT LoadFromFile(BSTR file_name, int32_t flags) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// Nine further texts some tags carry.
struct IFileTagExtended : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("B2298B1D-6C79-4228-AC37-91317F9271D3");
  using Base = IDispatch;  ///< The interface this one extends.
  ///@{
  /// The nine further texts: read and set like IFileTag's.
  virtual HRESULT get_Conductor(BSTR* value) = 0;
  virtual HRESULT put_Conductor(BSTR value) = 0;
  virtual HRESULT get_Copyright(BSTR* value) = 0;
  virtual HRESULT put_Copyright(BSTR value) = 0;
  virtual HRESULT get_EncodedBy(BSTR* value) = 0;
  virtual HRESULT put_EncodedBy(BSTR value) = 0;
  virtual HRESULT get_Isrc(BSTR* value) = 0;
  virtual HRESULT put_Isrc(BSTR value) = 0;
  virtual HRESULT get_Mood(BSTR* value) = 0;
  virtual HRESULT put_Mood(BSTR value) = 0;
  virtual HRESULT get_Bpm(BSTR* value) = 0;
  virtual HRESULT put_Bpm(BSTR value) = 0;
  virtual HRESULT get_SortArtist(BSTR* value) = 0;
  virtual HRESULT put_SortArtist(BSTR value) = 0;
  virtual HRESULT get_SortAlbum(BSTR* value) = 0;
  virtual HRESULT put_SortAlbum(BSTR value) = 0;
  virtual HRESULT get_SortTitle(BSTR* value) = 0;
  virtual HRESULT put_SortTitle(BSTR value) = 0;
  ///@}
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// Named-field reads as the MP3 frames store them (used for ".mp3" files).
struct IMp3Fields : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("006921E9-7CE5-4964-94E1-EC6D2A77B4FF");
  using Base = IDispatch;  ///< The interface this one extends.
  /// A field by its MP3 frame name (as "TIT2"); empty when absent.
  virtual HRESULT GetMp3Field(BSTR name, BSTR* value) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// A tag bound to a media file (".wma", ".asf").
struct IMediaFileTag : IFileTag {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("C04207E8-CF75-40DD-9817-6BBAC1829374");
  using Base = IFileTag;  ///< The interface this one extends.
  /// Binds the tag to the file (reading what it holds); flags is 0.
  virtual HRESULT AttachToFile(BSTR file_name, int32_t flags) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

/// Builds a FileTag filled from one track of a disc.
struct IDiscTagBuilder : IDispatch {
  /// The interface identifier.
  static constexpr IID kIid = MakeGuid("AD95928A-6FDF-4542-8789-380310C4AC12");
  using Base = IDispatch;  ///< The interface this one extends.
  /// E_INVALIDARG for a null disc or a track the disc does not carry.
  virtual HRESULT BuildTag(IDiscInfo* disc, int32_t track, IFileTag** tag) = 0;
  /// The late-bound description of the interface's own operations.
  static const DispatchTable& Table();
};

}  // namespace pelk
