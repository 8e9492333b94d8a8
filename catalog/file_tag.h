// The catalogue's tag objects: FileTag (CLSID_PelkFileTag) and the media-file tag
// (CLSID_PelkMediaFileTag). Both hold the thirteen texts of IFileTag, the nine of
// IFileTagExtended and named fields in memory, and read and write the tags of real audio files
// through TagLib. Both answer IFileTag, IFileTagExtended, IMp3Fields and IFileTagStore (our own
// writing operation); the media-file tag also answers IMediaFileTag.
//
// Where each text lives in a file (ID3v2: MP3, WAV, AIFF; Vorbis comment: Ogg Vorbis, Opus,
// Speex, FLAC; RIFF INFO: WAV). Keys marked + are also read under other names: DATE as YEAR,
// COMMENT as DESCRIPTION, ALBUMARTIST as "ALBUM ARTIST", LABEL as PUBLISHER and ORGANIZATION.
//
// clang-format off
// | text        | ID3v2 | Vorbis comment  | MP4                  | ASF                | INFO |
// |-------------|-------|-----------------|----------------------|--------------------|------|
// | AlbumTitle  | TALB  | ALBUM           | ©alb                 | WM/AlbumTitle      | IPRD |
// | Artist      | TPE1  | ARTIST          | ©ART                 | Author             | IART |
// | Title       | TIT2  | TITLE           | ©nam                 | Title              | INAM |
// | Identifier  | TXXX* | PELK_IDENTIFIER | ----:PELK_Identifier | PELK_Identifier    | -    |
// | TrackNumber | TRCK  | TRACKNUMBER     | trkn (number pair)   | WM/TrackNumber     | IPRT |
// | Genre       | TCON  | GENRE           | ©gen                 | WM/Genre           | IGNR |
// | Year        | TDRC  | DATE+           | ©day                 | WM/Year            | ICRD |
// | Comment     | COMM  | COMMENT+        | ©cmt                 | Description        | ICMT |
// | Composer    | TCOM  | COMPOSER        | ©wrt                 | WM/Composer        | IMUS |
// | AlbumArtist | TPE2  | ALBUMARTIST+    | aART                 | WM/AlbumArtist     | -    |
// | DiscNumber  | TPOS  | DISCNUMBER      | disk (number pair)   | WM/PartOfSet       | -    |
// | Lyricist    | TEXT  | LYRICIST        | ----:LYRICIST        | WM/Writer          | IWRI |
// | Publisher   | TPUB  | LABEL+          | ----:LABEL           | WM/Publisher       | -    |
// | Conductor   | TPE3  | CONDUCTOR       | ----:CONDUCTOR       | WM/Conductor       | -    |
// | Copyright   | TCOP  | COPYRIGHT       | cprt                 | Copyright          | ICOP |
// | EncodedBy   | TENC  | ENCODEDBY       | ©too                 | WM/EncodedBy       | ITCH |
// | Isrc        | TSRC  | ISRC            | ----:ISRC            | WM/ISRC            | -    |
// | Mood        | TMOO  | MOOD            | ----:MOOD            | WM/Mood            | -    |
// | Bpm         | TBPM  | BPM             | tmpo (number)        | WM/BeatsPerMinute  | -    |
// | SortArtist  | TSOP  | ARTISTSORT      | soar                 | WM/ArtistSortOrder | -    |
// | SortAlbum   | TSOA  | ALBUMSORT       | soal                 | WM/AlbumSortOrder  | -    |
// | SortTitle   | TSOT  | TITLESORT       | sonm                 | WM/TitleSortOrder  | -    |
// clang-format on
//
// TXXX* is the TXXX frame with description "PELK_Identifier"; "----:NAME" is the iTunes freeform
// atom "----:com.apple.iTunes:NAME"; Author, Title, Description and Copyright of ASF are its
// content-description fields. Other formats TagLib opens (APE, WavPack, Musepack...) use TagLib's
// property names, the Vorbis comment column. Several values of one field read as one text joined
// with "; ", in the order the tag holds them (empty values left out, nothing sorted or merged);
// several ID3v2 frames of one id, or TXXX frames of one description, are values of one field in
// frame order.
//
// Named fields ("iTunes_PELK_IDs", "TLEN", any other name) are stored the usual way per format:
// ID3v2 as a text frame when the name is a frame id ("T" + three capitals or digits, e.g.
// "TLEN"), else as a TXXX frame with the name as description; Vorbis comment key NAME (keys are
// case-insensitive: names compare without regard to ASCII case everywhere); MP4 freeform atom
// "----:com.apple.iTunes:NAME"; ASF attribute NAME; WAV files keep them in their ID3v2 chunk,
// and names that are INFO ids ("I" + three capitals or digits) also in RIFF INFO. When reading,
// every field of the file outside the texts becomes a named field (pictures excepted). A named
// field whose name is one of the format's own names for a text is not written; the text is.
//
// WAV files carry every text in their ID3v2 chunk and the texts with an INFO id also in RIFF
// INFO (Latin-1 there); reading prefers ID3v2. MP3 files are written as ID3v2.4; an ID3v1 or APE
// tag already in the file gets the basic texts too, so it never disagrees; reading fills texts
// the main tag lacks from those. FLAC files are written to their Vorbis comment (and to their
// ID3v2 tag when they have one).
//
// "TLEN" reads the stored field when present, else the audio length in milliseconds that TagLib
// measured when the tag was read from a file (empty for a tag never read from one).
//
// Thread safety: every operation takes the tag's own mutex for its whole length (file reads and
// writes included), so one tag may be used from several threads.
//
// Reference counts: as every Object; a tag holds no other object.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "catalog/tag_mapping.h"
#include "control/file_tag.h"
#include "pelk/catalog_control.h"
#include "runtime/bstr.h"
#include "runtime/object.h"

namespace pelk {

namespace catalog {

// The content of one tag object and the operations both tag classes share.
class FileTagState {
 public:
  HRESULT GetText(TagText text, BSTR* value) const;
  HRESULT PutText(TagText text, BSTR value);
  // Named fields. Null or empty name: E_INVALIDARG. The identifier's field name
  // ("PELK_Identifier") and the ID3v2 frame ids of the texts ("TIT2", "TRCK", "COMM"...) name
  // the texts themselves. A missing field reads as empty, "TLEN" as the audio length.
  HRESULT GetField(BSTR name, BSTR* value) const;
  HRESULT PutField(BSTR name, BSTR value);
  // Replaces the content with the file's tags and binds the tag to the file. On failure the
  // content and binding are unchanged: E_INVALIDARG (empty name), kTagFileNotFound (missing
  // file), E_FAIL (TagLib cannot open it as audio), E_OUTOFMEMORY.
  HRESULT Load(std::u16string_view file_name);
  HRESULT Save(std::u16string_view file_name) const;
  HRESULT GetFileName(BSTR* value) const;

  TagData Data() const;
  void SetData(TagData data);

 private:
  mutable std::mutex mutex_;
  TagData data_;
  std::u16string file_;  // the file loaded or attached
};

template <class Derived, class Main>
class FileTagBase : public Object<Derived, Dual<Main>, Dual<IFileTagExtended>, Dual<IMp3Fields>,
                                  Dual<IFileTagStore>> {
 public:
#define PELK_CATALOG_TAG_TEXT(Name, text)                                          \
  HRESULT get_##Name(BSTR* value) override { return state_.GetText(text, value); } \
  HRESULT put_##Name(BSTR value) override { return state_.PutText(text, value); }
  PELK_CATALOG_TAG_TEXT(AlbumTitle, kTagAlbumTitle)
  PELK_CATALOG_TAG_TEXT(Artist, kTagArtist)
  PELK_CATALOG_TAG_TEXT(Title, kTagTitle)
  PELK_CATALOG_TAG_TEXT(Identifier, kTagIdentifier)
  PELK_CATALOG_TAG_TEXT(TrackNumber, kTagTrackNumber)
  PELK_CATALOG_TAG_TEXT(Genre, kTagGenre)
  PELK_CATALOG_TAG_TEXT(Year, kTagYear)
  PELK_CATALOG_TAG_TEXT(Comment, kTagComment)
  PELK_CATALOG_TAG_TEXT(Composer, kTagComposer)
  PELK_CATALOG_TAG_TEXT(AlbumArtist, kTagAlbumArtist)
  PELK_CATALOG_TAG_TEXT(DiscNumber, kTagDiscNumber)
  PELK_CATALOG_TAG_TEXT(Lyricist, kTagLyricist)
  PELK_CATALOG_TAG_TEXT(Publisher, kTagPublisher)
  PELK_CATALOG_TAG_TEXT(Conductor, kTagConductor)
  PELK_CATALOG_TAG_TEXT(Copyright, kTagCopyright)
  PELK_CATALOG_TAG_TEXT(EncodedBy, kTagEncodedBy)
  PELK_CATALOG_TAG_TEXT(Isrc, kTagIsrc)
  PELK_CATALOG_TAG_TEXT(Mood, kTagMood)
  PELK_CATALOG_TAG_TEXT(Bpm, kTagBpm)
  PELK_CATALOG_TAG_TEXT(SortArtist, kTagSortArtist)
  PELK_CATALOG_TAG_TEXT(SortAlbum, kTagSortAlbum)
  PELK_CATALOG_TAG_TEXT(SortTitle, kTagSortTitle)
#undef PELK_CATALOG_TAG_TEXT

  HRESULT GetField(BSTR name, BSTR* value) override { return state_.GetField(name, value); }
  HRESULT PutField(BSTR name, BSTR value) override { return state_.PutField(name, value); }
  // Named fields as MP3 frames store them: a frame id ("TLEN", "TIT2") or a TXXX description.
  HRESULT GetMp3Field(BSTR name, BSTR* value) override { return state_.GetField(name, value); }
  // flags is 0 (ignored).
  HRESULT LoadFromFile(BSTR file_name, int32_t) override {
    return state_.Load(BstrView(file_name));
  }
  HRESULT SaveToFile(BSTR file_name, int32_t) override { return state_.Save(BstrView(file_name)); }
  HRESULT get_FileName(BSTR* file_name) override { return state_.GetFileName(file_name); }

  // For the catalogue's own code: the same write without crossing the interface.
  HRESULT SaveToFile(const std::u16string& path) { return state_.Save(path); }
  TagData Data() const { return state_.Data(); }
  void SetData(TagData data) { state_.SetData(std::move(data)); }

 protected:
  FileTagState state_;
};

class CatalogFileTag final : public FileTagBase<CatalogFileTag, IFileTag> {
 public:
  static constexpr IID kImplIid = MakeGuid("A792FDC1-F01E-4B56-8F63-91AA61151DAF");
};

class CatalogMediaFileTag final : public FileTagBase<CatalogMediaFileTag, IMediaFileTag> {
 public:
  static constexpr IID kImplIid = MakeGuid("1B01CAFB-A6F5-4A20-BB75-FFB0B5AEE8A9");
  // Binds the tag to the file and reads it: the same as LoadFromFile, with its failures.
  HRESULT AttachToFile(BSTR file_name, int32_t) override {
    return state_.Load(BstrView(file_name));
  }
};

// Creates a tag for the catalogue's class table: the media-file tag when media_file_tag is true
// (CLSID_PelkMediaFileTag), else FileTag (CLSID_PelkFileTag). E_POINTER for a null object,
// E_NOINTERFACE when the tag does not answer iid, E_OUTOFMEMORY.
HRESULT CreateCatalogFileTag(bool media_file_tag, REFIID iid, void** object);

// Writes any of the catalogue's tags into a file (IFileTagStore::SaveToFile with flags 0), for
// hosts that hold the tag as IFileTag. E_INVALIDARG for a tag that is not one of ours.
HRESULT SaveCatalogFileTag(IUnknown* tag, BSTR file_name);

}  // namespace catalog
}  // namespace pelk
