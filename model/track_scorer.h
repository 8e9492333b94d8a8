// The track match scorer: grades how well one track of a candidate disc fits one audio file,
// 0-100, from the file's tag and the last folders and file name of its path, and the track
// number that the tag or the file name suggests.
//
// A scorer is short-lived and used by one thread at a time (the record that creates it holds
// its own lock around it). It works on its own copy of the disc, so selecting tracks never
// touches the caller's disc. Every similarity is computed at most once per scorer, and the six
// that involve the track's artist or title again only when the track brings another artist or
// title, so the best-track search can score every track of a disc with one prepared scorer.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "control/disc_info.h"
#include "control/file_tag.h"
#include "runtime/com_ptr.h"
#include "runtime/hresult.h"

namespace pelk::text {

// A text in the two forms the scorer compares: raw (cut at a NUL and to 1023 code units) and
// its standard normalization (empty when normalization fails).
struct ScorerText {
  std::u16string raw;
  std::u16string normalized;

  static ScorerText From(std::u16string_view raw);
  // Makes this the scorer text of `raw`, reusing the room its strings hold.
  void Assign(std::u16string_view raw);
  // The raw form of `raw`: up to its first NUL, at most 1023 code units.
  static std::u16string_view Cut(std::u16string_view raw);
  bool Empty() const { return raw.empty(); }
};

// The parts of a file path the scorer compares: folder A (second-to-last accepted folder),
// folder B (last accepted folder) and the file name without its extension. Empty when absent.
struct ScorerPathParts {
  std::u16string folder_a;
  std::u16string folder_b;
  std::u16string file_name;
};

// Splits a path as the scorer does. '/' and '\' are both separators. A volume prefix ("C:",
// anything up to a colon before the first separator) is skipped, then one leading separator
// (two when doubled); at most 1024 code units are kept. The folder candidates are the last two
// non-empty folder names; one is rejected when it begins with login_name (case-sensitive; an
// empty login name rejects nothing) or, ignoring case, with "My Music", "My Documents" or
// "Documents and Settings".
ScorerPathParts SplitScorerPath(std::u16string_view path, std::u16string_view login_name);

// The current user's login name: USERNAME, read once per process, at most 255 code units.
const std::u16string& LoginName();

// The track number a file suggests: the tag's track-number text when its leading integer is not
// 0 ("12/14" gives 12); otherwise the first run of digits in the file name (before its last
// full stop) whose value, after one leading zero is skipped, lies in 1..99, where a 1 gives way
// to the next such run ("CD1 - 05 Song.mp3" gives 5). 0 when there is none, or when the file
// name has no full stop. tag may be null.
int32_t GetTrackHint(std::u16string_view path, IFileTag* tag);

class TrackScorer {
 public:
  // The fourteen comparisons, file side against disc side. Those from kTrackDependent on
  // involve the track's artist or title and are recomputed when the track's texts change.
  enum Comparison : int {
    kTagArtist,
    kTagAlbum,
    kBArtist,
    kBAlbum,
    kAArtist,
    kAAlbum,
    kFArtist,
    kFAlbum,
    kTagTrackArtist,  // first of the six track-dependent comparisons
    kTagTitle,
    kBTrackArtist,
    kATrackArtist,
    kFTrackArtist,
    kFTitle,
    kSimilarityCount,
  };
  static constexpr int kTrackDependent = kTagTrackArtist;

  TrackScorer() { similarity_.fill(-1); }
  TrackScorer(const TrackScorer&) = delete;
  TrackScorer& operator=(const TrackScorer&) = delete;

  // Copies disc, keeps tag (may be null) and reads what is compared: the tag's artist, album,
  // title and identifiers (unreadable texts count as empty), the disc's artist and album, the
  // current track's artist and title, the path parts of name_text (empty: no path comparisons)
  // and the hint. The tag is read here only: a later change to it is not seen.
  // E_INVALIDARG for a null disc; E_FAIL when the disc has no current track; failures of the
  // disc's copy and reads are returned. Must succeed before SetTrack and Score.
  HRESULT Prepare(IDiscInfo* disc, std::u16string_view name_text, IFileTag* tag);

  // Selects track (1-based) of the disc copy and reads its artist and title. S_OK at once when
  // track is already current (so a disc's own track is scorable even when the disc's count is
  // below it); otherwise E_INVALIDARG outside 1..track count; disc failures are returned (the
  // scorer then has no track until a later SetTrack succeeds).
  HRESULT SetTrack(int32_t track);

  // The score of the current track: 100 when the tag's track identifier equals the one of the
  // tag built from the disc's track, or when the tag's iTunes identifiers name this disc and
  // track; otherwise (album + title + artist similarity) / 3, plus 10 (capped at 100) when the
  // current track equals the hint. E_POINTER for a null out; E_FAIL before a successful Prepare
  // or after a failed SetTrack; control failures are returned with *score untouched.
  HRESULT Score(int32_t* score);

  int32_t Hint() const { return hint_; }
  int32_t CurrentTrack() const { return current_track_; }
  // The last score, -1 before the first.
  int32_t LastScore() const { return score_; }
  const ScorerText& FolderA() const { return folder_a_; }
  const ScorerText& FolderB() const { return folder_b_; }
  const ScorerText& FileName() const { return file_name_; }
  // The file name with the disc artist, disc album and track artist stripped (F3).
  const ScorerText& StrippedFileName() const { return f3_; }
  // A comparison's cached similarity, -1 while not computed (for explaining a score).
  int32_t CachedSimilarity(Comparison which) const { return similarity_[which]; }
  // The two texts a comparison grades: the file side (a tag text, a path part or its stripped
  // variant) and the disc side (for explaining a score). Both empty for kSimilarityCount.
  std::pair<const ScorerText&, const ScorerText&> ComparedTexts(Comparison which) const;

 private:
  HRESULT LoadTrack();
  void ReadTagIdentifiers();
  HRESULT IdentifierShortcut(bool* hit);
  int32_t Similarity(Comparison which);

  ComPtr<IDiscInfo> disc_;
  ComPtr<IFileTag> tag_;
  std::u16string name_text_;
  bool prepared_ = false;
  bool track_loaded_ = false;
  // The track texts, f3_ and the track-dependent caches belong to the prepared path texts.
  bool track_texts_valid_ = false;
  int32_t current_track_ = 0;
  int32_t hint_ = 0;
  int32_t score_ = -1;

  ScorerText tag_artist_, tag_album_, tag_title_;
  // What the identifier shortcut compares, read from the tag once: its track identifier, and
  // the disc identifier and track number of its store identifiers (track 0 when there are none).
  std::u16string tag_identifier_, itunes_disc_id_;
  int32_t itunes_track_ = 0;
  ScorerText disc_artist_, disc_album_;
  ScorerText track_artist_, track_title_;
  ScorerText folder_a_, folder_b_, file_name_;
  // Path texts with the disc artist (1), then the disc album (2), then the track artist (3)
  // stripped.
  ScorerText a1_, a2_, b1_, b2_, f1_, f2_, f3_;

  std::array<int32_t, kSimilarityCount> similarity_;
};

}  // namespace pelk::text
