// The bridge between the tag objects' in-memory content and the tags inside audio files: what a
// tag holds (TagData), and reading and writing it through TagLib for every format TagLib opens.
// The field mapping per format is documented in catalog/file_tag.h.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/hresult.h"

namespace pelk::catalog {

// The texts of a tag: the thirteen of IFileTag then the nine of IFileTagExtended, each in its
// interface's property order.
enum TagText : int {
  kTagAlbumTitle,
  kTagArtist,
  kTagTitle,
  kTagIdentifier,
  kTagTrackNumber,
  kTagGenre,
  kTagYear,
  kTagComment,
  kTagComposer,
  kTagAlbumArtist,
  kTagDiscNumber,
  kTagLyricist,
  kTagPublisher,
  kTagConductor,
  kTagCopyright,
  kTagEncodedBy,
  kTagIsrc,
  kTagMood,
  kTagBpm,
  kTagSortArtist,
  kTagSortAlbum,
  kTagSortTitle,
  kTagTextCount,
};

// The custom field that carries the tag identifier in every format.
inline constexpr std::u16string_view kIdentifierField = u"PELK_Identifier";
// The named field of the length in milliseconds.
inline constexpr std::u16string_view kLengthField = u"TLEN";

// Failure of a read or write because the file does not exist (the platform's "file not found").
inline constexpr HRESULT kTagFileNotFound = static_cast<HRESULT>(0x80070002u);

// Named-field names compare without regard to ASCII case: Vorbis comment keys are
// case-insensitive and come back from files in capitals.
struct FieldNameLess {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const;
};
bool SameFieldName(std::u16string_view a, std::u16string_view b);

using NamedFields = std::map<std::u16string, std::u16string, FieldNameLess>;

struct TagData {
  std::array<std::u16string, kTagTextCount> texts;
  // Fields outside the texts, by name. An empty value is kept: writing it removes the field.
  NamedFields fields;
  // The audio length of the file read, in milliseconds; -1 when unknown.
  int32_t length_ms = -1;
};

// Reads every tag the file holds into *data (replacing it only on success). Texts come from the
// format's main tag, and texts it lacks from the file's other tags (ID3v1, APE, RIFF INFO).
// Fails with kTagFileNotFound when the file does not exist, E_INVALIDARG for an empty path,
// E_FAIL when TagLib cannot open it or finds no audio in it (a sample rate of 0), E_OUTOFMEMORY
// when memory runs out.
HRESULT ReadTagFile(std::u16string_view path, TagData* data);

// Writes data into the file's tags: every text is set (an empty text removes the field), every
// named field is set or removed; fields of the file outside the tag's content (pictures, other
// frames) stay as they are. The file's secondary tags (ID3v1, APE) get the basic texts too so
// they never disagree with the main tag. Nothing is written when any value cannot be stored:
// E_INVALIDARG for a number field of MP4 ("trkn", "disk", "tmpo") given a text that is not a
// number, or a named field whose name cannot be a key of the format (Vorbis keys are ASCII
// without '=' or '~'). Other failures: kTagFileNotFound, E_FAIL (not audio TagLib can open, or
// the write failed), E_ACCESSDENIED (the file is read-only), E_OUTOFMEMORY.
HRESULT WriteTagFile(std::u16string_view path, const TagData& data);

// The text an ID3v2 frame identifier ("TIT2", "TRCK", "COMM"...) is mapped to, if any.
std::optional<TagText> TextOfId3Frame(std::u16string_view frame_id);

}  // namespace pelk::catalog
