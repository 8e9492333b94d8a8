// The comparisons behind the single-call lookups (LookupFile, ResolveLookup, CompareTrackToFile):
// how far a disc's track is from a file, which disc of a collection fits a file best, the text
// hints a collection suggests, and how many files share the file's folder and extension.
// Distances run from 0 (identical) to 100 (unrelated). They read the lookup control's objects
// only and keep no state.
#pragma once

#include <string>
#include <string_view>

#include "control/lookup_control.h"

namespace pelk {

// The file as the comparisons see it: its name as given (for the track hint), the name
// normalized, and its tag (may be null).
struct LookupFileSide {
  std::u16string raw_name;
  std::u16string name;  // normalized
  IFileTag* tag = nullptr;
  bool complete = false;  // the tag has an artist, an album title and a title

  LookupFileSide(std::u16string_view file_name, IFileTag* file_tag);
};

// Plain distance of track `track` of disc to the file: the average of the artist, album and
// title distances (tag texts, else the file name), 10 less when the file's track hint is the
// disc's current track. 100 without a disc.
int32_t TrackDistance(IDiscInfo* disc, int32_t track, const LookupFileSide& file);
// The same for a complete tag, which alone is compared (the file name plays no part). 100
// without a disc or tag, or when the disc's current track cannot be read.
int32_t TrackDistanceCompleteTag(IDiscInfo* disc, int32_t track, const LookupFileSide& file);
// The complete-tag variant when the file's tag is complete, else the plain one.
int32_t FileTrackDistance(IDiscInfo* disc, int32_t track, const LookupFileSide& file);

// Whether the normalized file name holds the disc's album title, the title of its track 1 and
// its artist (or track 1's artist); false when the disc lacks any of these.
bool FileNameMatchesDisc(IDiscInfo* disc, const LookupFileSide& file);

// Whether disc's current track is close enough to the file to be taken without a text lookup.
bool IsGoodMatch(IDiscInfo* disc, const LookupFileSide& file);

// The 1-based index of the disc of discs that fits the file best (0 for none) and its distance.
// A non-zero track_count skips discs whose "track_count" exceeds it by more than missing or
// falls short of it by more than extra.
int32_t BestDiscForFile(IDiscList* discs, int32_t track_count, int32_t missing, int32_t extra,
                        const LookupFileSide& file, int32_t* distance);

// The 1-based index of the disc that the file name names (or, for a complete tag, whose album
// title is nearly the tag's); the nearest by track 1 among several; 0 for none.
int32_t BestDiscByFileName(IDiscList* discs, const LookupFileSide& file);

// The most frequent artist and track-1 title among the discs, the first on ties. Fails only
// when the collection cannot be counted.
HRESULT CollectionHints(IDiscList* discs, std::u16string* artist, std::u16string* title);

// The number of entries of the file's folder (up to its last '/' or '\\') that carry the file's
// extension, ignoring case; for a file name without an extension, the entries without one.
// E_INVALIDARG when the folder is not an existing directory.
HRESULT FolderFileCount(std::u16string_view file_name, int32_t* count);

}  // namespace pelk
