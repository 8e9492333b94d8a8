// The catalogue store: discs and their tracks in one SQLite file, with two full-text indexes over
// the normalized artist, album and title of every track (whole words, word_index.h, and
// trigrams) and the tracks' fingerprint signatures (a ladder of them per track, see TrackRecord).
//
// The file carries its schema version; Open migrates older versions (version 2 added the discs'
// disc number and count, version 3 several signatures per track, the one signature of an older
// file becoming rung 0) and refuses a file that is not a catalogue or whose schema is newer,
// without changing it. Opening a catalogue of the
// current schema also raises every disc's track count that is below its highest track number
// (older builds of add-album counted files, not tracks). One store may be shared by the
// control's objects on several threads: every operation takes the store's lock.
//
// Several processes may write one file: a write waits up to a minute for another's to finish,
// and each write is one transaction, so a process killed at any moment leaves the file as it was
// before that write or with all of it. A file without any write permission bit is opened for
// reading only. A write that fails because the disk is full, the file is read-only or another
// process kept it busy says so in its error.
#pragma once

#include <sqlite3.h>

#include <array>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelk::catalog {

class Statement;

constexpr size_t kSignatureValues = 30;
using Signature = std::array<int16_t, kSignatureValues>;
class SignatureIndex;
struct SignatureIndexOptions;

// The text of a FINGERPRINT signature ("v1 v2 ... v30"), or nullopt when it is not 30 integers
// in the 16-bit range separated by blanks.
std::optional<Signature> ParseSignature(std::string_view text);
std::string FormatSignature(const Signature& signature);

struct TrackRecord {
  int64_t id = 0;
  int32_t number = 0;
  std::string title;
  std::string artist;  // empty: the disc artist
  int32_t length_ms = 0;
  std::string identifier;
  // The engine's signature of the track's audio, exactly as a lookup computes it: rung 0.
  std::optional<Signature> signature;
  // Rungs 1, 2, ... : signatures of the same audio as copies that went through other hands give
  // them (the windows the silence gate chooses at lower levels, later start points). Kept only
  // beside a rung 0; a track made from one signature has none.
  std::vector<Signature> ladder;
};

struct DiscRecord {
  int64_t id = 0;
  std::string identifier;
  std::string album;
  std::string artist;
  // Of the album. The store keeps it at least the highest track number (and the number of
  // tracks): a disc is never handed out with a track numbered beyond its count.
  int32_t track_count = 0;
  // Which disc of its release this is, and how many discs the release has; 0: not said (a
  // single disc, or a catalogue written before discs were numbered).
  int32_t disc_number = 0;
  int32_t disc_count = 0;
  bool compilation = false;
  int32_t certified_level = 0;
  int32_t release_rank = 0;
  int32_t year = 0;
  std::string genre;
  std::string store_id1, store_id2;  // the pair a tag's "iTunes_PELK_IDs" carries
  std::vector<TrackRecord> tracks;   // ordered by number

  const TrackRecord* Track(int32_t number) const;
  // The highest track number, 0 without tracks.
  int32_t HighestTrack() const;
  // The count the store keeps: track_count raised to the highest number and the number of
  // tracks.
  int32_t SoundTrackCount() const;
  const std::string& TrackArtist(const TrackRecord& track) const {
    return track.artist.empty() ? artist : track.artist;
  }
};
using DiscPtr = std::shared_ptr<const DiscRecord>;

struct TrackHit {
  int64_t disc_id = 0;
  int32_t track = 0;
  int64_t distance = 0;
};

// A text lookup's candidate with what scoring it needs, read with the candidate.
struct TextCandidate {
  int64_t disc_id = 0;
  int32_t track = 0;
  std::string title;
  std::string artist;  // the track's own; empty: the disc artist
  std::string disc_artist;
  std::string album;
};

struct CatalogStats {
  int64_t discs = 0;
  int64_t tracks = 0;
  int64_t signatures = 0;            // every rung of every track
  int64_t fingerprinted_tracks = 0;  // tracks with a signature
};

class CatalogStore {
 public:
  enum class OpenMode { kExisting, kCreate };
  static constexpr int kSchemaVersion = 3;

  // $PELK_CATALOG, else $XDG_DATA_HOME/pelk/catalog.db, else ~/.local/share/pelk/catalog.db.
  static std::filesystem::path DefaultPath();
  // Null with *error set when the file cannot be opened, is not a catalogue, or has a newer
  // schema (nothing in the file is changed then).
  static std::unique_ptr<CatalogStore> Open(const std::filesystem::path& path, OpenMode mode,
                                            std::string* error);
  ~CatalogStore();
  CatalogStore(const CatalogStore&) = delete;
  CatalogStore& operator=(const CatalogStore&) = delete;

  const std::filesystem::path& Path() const { return path_; }

  // Adds discs with their tracks in one transaction: all or nothing. Refuses a disc or track
  // identifier that is already in the catalogue (or twice in the batch), saying which disc and
  // what holds it. With replace, a disc whose identifier is already there is removed with its
  // tracks first, in the same transaction.
  bool AddDiscs(const std::vector<DiscRecord>& discs, std::string* error, bool replace = false);

  DiscPtr DiscById(int64_t id);
  DiscPtr DiscByIdentifier(std::string_view identifier);
  // The disc and track number of a track identifier.
  std::optional<TrackHit> TrackByIdentifier(std::string_view identifier);
  DiscPtr DiscByStoreIds(std::string_view first, std::string_view second);
  // Ordered by artist, album and disc number: the discs of one release come together.
  std::vector<DiscPtr> AllDiscs();
  // The discs of the release a disc belongs to (same artist and album, compared exactly), the
  // disc itself included, by disc number.
  std::vector<DiscPtr> ReleaseDiscs(const DiscRecord& disc);
  // The catalogue number of a genre (stable once the genre is in), 0 for none.
  int64_t GenreNumber(std::string_view genre);
  CatalogStats Stats();

  // Tracks whose nearest rung lies within max_distance (sum of absolute differences), one hit
  // per track carrying that rung's distance, nearest first (ties by disc id, then track), at
  // most limit of them. Answered by the signature index (catalog/signature_index.h), which holds
  // every rung of the catalogue in memory: built from the file on the first waveform lookup,
  // kept in step by AddDiscs after that.
  std::vector<TrackHit> NearestSignatures(const Signature& signature, int64_t max_distance,
                                          size_t limit);
  // The same answer from a scan of every rung: the reference the index answers are measured
  // against.
  std::vector<TrackHit> NearestSignaturesByScan(const Signature& signature, int64_t max_distance,
                                                size_t limit);
  // How the index is laid out (the defaults suit any catalogue; tests make small catalogues
  // clustered); the index is rebuilt on the next waveform lookup.
  void SetSignatureIndexOptions(const SignatureIndexOptions& options);
  // Tracks whose normalized fields hold the words (each at least three characters, matched as
  // substrings), best full-text rank first, at most limit. column is "title", "artist", "album"
  // or empty for any; all_words asks for every word, else any one of them.
  std::vector<TrackHit> TextCandidates(const std::vector<std::string>& words,
                                       std::string_view column, bool all_words, size_t limit);

  // Whether lookups can use the word index (word_index.h). False for a file that had none and
  // could not be written when it was opened, or that a program without the index has written
  // since: such lookups use TextCandidates alone.
  bool HasWordIndex();
  // Whether a normalized word (one of IndexWords; with a trailing *, any word beginning with it)
  // is in the column of any track.
  bool HasWord(std::string_view column, std::string_view word);
  // How many tracks match a MATCH expression over the word index (built with word_index.h),
  // counted up to at_most: cheap, the matches are not ranked.
  size_t WordMatches(const std::string& match, size_t at_most);
  // Tracks matching a MATCH expression over the word index, at most limit, with their texts;
  // ranked: best full-text rank first (every match is ranked), else in the index's order.
  std::vector<TextCandidate> WordCandidates(const std::string& match, size_t limit,
                                            bool ranked = true);

 private:
  CatalogStore(sqlite3* db, std::filesystem::path path);
  bool Migrate(std::string* error);
  DiscPtr LoadDisc(int64_t id);
  void LoadSignatures();
  // After AddDiscs committed: the replaced discs' rungs stop answering, the added ones answer.
  void IndexAddedDiscs(const std::vector<int64_t>& replaced,
                       const std::vector<std::pair<int64_t, const DiscRecord*>>& added);
  std::vector<TrackHit> RankedHits(const std::vector<std::pair<uint32_t, int64_t>>& near,
                                   size_t limit) const;

  std::mutex mutex_;
  sqlite3* db_;
  std::filesystem::path path_;
  bool word_index_ = false;  // built or found current at open
  // The word lookups' statements, prepared once (a lookup runs several); reset after each use.
  Statement& Cached(std::unique_ptr<Statement>& slot, std::string_view sql);
  std::unique_ptr<Statement> word_state_, has_word_, word_count_, ranked_words_, unranked_words_;
  // Every rung in the signature index; loaded on the first waveform lookup.
  bool signatures_loaded_ = false;
  std::unique_ptr<SignatureIndexOptions> index_options_;
  std::unique_ptr<SignatureIndex> signature_index_;
  // The index's owners: (disc id, track number); a replaced disc's owners stay, removed.
  std::vector<std::pair<int64_t, int32_t>> signature_owners_;
};

}  // namespace pelk::catalog
