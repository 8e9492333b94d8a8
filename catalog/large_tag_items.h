// Keeps the large items of a tag that the tag objects never read (pictures above all) away from
// TagLib, which reads every item of a tag whole before it parses any: a 100 MB cover would be
// 100 MB of memory for a few texts. The items are found by their headers alone, walked the way
// TagLib walks them, and each large one is replaced by an empty item of the same kind, so TagLib
// parses the rest of the file as it would have.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/spliced_stream.h"

namespace pelk::catalog {

// Items of this size or more are left out when the reader does not use them.
inline constexpr uint64_t kLargeTagItem = uint64_t{1} << 20;

// Whether the reader uses the MP4 item of this name (four Latin-1 bytes: "\251nam", "----").
using Mp4ItemUsed = bool (*)(std::string_view name);

// The replacements that leave out, from the file open as `fd`:
// - in an ID3v2 tag at the start of any file (MP3, FLAC...), frames other than texts ("T...")
//   and comments ("COMM"): pictures, objects, private data, lyrics; the tag's size follows.
// - in a FLAC file, metadata blocks other than the stream information and the Vorbis comment,
//   each replaced by an empty padding block (a block holds at most 16 MB, a file many blocks).
// - in an MP4 file, items of moov.udta.meta.ilst that `mp4_item_used` refuses ("covr"); the
//   sizes of the atoms around them follow.
// - in a WAV or AIFF file, the same frames of the ID3v2 tag in its first "ID3 " chunk; the sizes
//   of the chunk and of the whole file's chunk follow (by an even number of bytes).
// and what follows the last frame of an ID3v2 tag when it is large (padding, or bytes that
// TagLib would stop at). Empty when nothing is to be left out, or when a structure is not one
// that can be walked safely (ID3v2.3 unsynchronised as a whole, a footer, sizes that run past
// their container): the file is then read as it is.
// `large` is the size from which an item is left out (smaller in the fuzz target, so that its
// small inputs reach every path).
std::vector<Splice> LargeItemSplices(int fd, uint64_t file_size, Mp4ItemUsed mp4_item_used,
                                     uint64_t large = kLargeTagItem);

// The file at `path` as TagLib is to read it.
struct TagView {
  // TagLib would build far more from the file than it holds (an ASF header, catalog/asf_header.h):
  // its tag is unreadable.
  bool refused = false;
  // The file without its large items, and with the attribute counts of an ASF header repaired;
  // null when there is nothing to leave out or repair (or the file cannot be opened).
  std::unique_ptr<SplicedStream> stream;
};
TagView OpenTagView(const std::string& path, Mp4ItemUsed mp4_item_used);

}  // namespace pelk::catalog
