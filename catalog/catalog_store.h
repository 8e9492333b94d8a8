// The catalogue store: discs and their tracks, the normalized artist, album and title of every
// track indexed for text lookups (whole words, word_index.h, and trigrams), and the tracks'
// fingerprint signatures (a ladder of them per track, see TrackRecord).
//
// A catalogue carries its schema version. Opening one migrates older versions (version 2 added
// the discs' disc number and count, version 3 several signatures per track, the one signature of
// an older catalogue becoming rung 0) and refuses one that is not a catalogue or whose schema is
// newer, without changing it. Every write is one transaction, so a reader never sees half of it,
// and a process killed during a write leaves the catalogue as it was before or with all of it.
// Several processes may write one catalogue at once: a write waits for another's to finish.
#pragma once

#include <array>
#include <functional>
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

// "Artist - Album, disc 2 of 3 (D-...)": a disc named in words for messages.
std::string DiscInWords(std::string_view identifier, std::string_view artist,
                        std::string_view album, int64_t number, int64_t count);

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

// A word-index query (word_index.h): the tracks for which every clause holds. A clause asks for
// index words (IndexWords) of one column, every one of them or all but at most one; a word
// ending in * stands for the words that begin with it. Each backend turns it into its own query
// language, so no word can change a query's syntax.
enum class WordColumn { kTitle, kArtist, kAlbum, kTitleKey };
struct WordClause {
  WordColumn column = WordColumn::kTitle;
  std::vector<std::string> words;
  bool all_but_one = false;  // needs two words or more
  bool operator==(const WordClause&) const = default;
};
using WordQuery = std::vector<WordClause>;

// The catalogue's storage. Two backends answer it: one SQLite file (the default) and a PostgreSQL
// database that many hosts share (a location beginning with postgresql:// or postgres://). The
// in-memory signature index is common to both and lives here; everything else is the backend's.
//
// One store may be shared by the control's objects on several threads: every operation takes
// mutex_. Backends read and write their connection under it, and the signature index is kept
// in step with the backend's writes under the same lock.
class CatalogStore {
 public:
  enum class OpenMode { kExisting, kCreate };
  static constexpr int kSchemaVersion = 3;

  // $PELK_CATALOG, else $XDG_DATA_HOME/pelk/catalog.db, else ~/.local/share/pelk/catalog.db.
  static std::string DefaultLocation();
  // Whether a location names a catalogue on a server (postgresql:// or postgres://) rather
  // than a file.
  static bool IsServerLocation(std::string_view location);
  // Null with *error set when the catalogue cannot be opened (or, with kExisting, does not
  // exist), is not a catalogue, or has a newer schema (nothing in it is changed then). A file
  // location is created with its folders under kCreate; a server database must exist, its
  // catalogue tables are laid out under kCreate.
  static std::unique_ptr<CatalogStore> Open(const std::string& location, OpenMode mode,
                                            std::string* error);
  virtual ~CatalogStore();
  CatalogStore(const CatalogStore&) = delete;
  CatalogStore& operator=(const CatalogStore&) = delete;

  // Where the catalogue is, for people: the file path, or the server location without its
  // password.
  const std::string& Location() const { return location_; }

  // Adds discs with their tracks in one transaction: all or nothing. Refuses a disc or track
  // identifier that is already in the catalogue (or twice in the batch), saying which disc and
  // what holds it. With replace, a disc whose identifier is already there is removed with its
  // tracks first, in the same transaction.
  virtual bool AddDiscs(const std::vector<DiscRecord>& discs, std::string* error,
                        bool replace = false) = 0;

  virtual DiscPtr DiscById(int64_t id) = 0;
  virtual DiscPtr DiscByIdentifier(std::string_view identifier) = 0;
  // The disc and track number of a track identifier.
  virtual std::optional<TrackHit> TrackByIdentifier(std::string_view identifier) = 0;
  virtual DiscPtr DiscByStoreIds(std::string_view first, std::string_view second) = 0;
  // Ordered by artist, album and disc number: the discs of one release come together.
  virtual std::vector<DiscPtr> AllDiscs() = 0;
  // The discs of the release a disc belongs to (same artist and album, compared exactly), the
  // disc itself included, by disc number.
  virtual std::vector<DiscPtr> ReleaseDiscs(const DiscRecord& disc) = 0;
  // The catalogue number of a genre (stable once the genre is in), 0 for none.
  virtual int64_t GenreNumber(std::string_view genre) = 0;
  virtual CatalogStats Stats() = 0;

  // Tracks whose nearest rung lies within max_distance (sum of absolute differences), one hit
  // per track carrying that rung's distance, nearest first (ties by disc id, then track), at
  // most limit of them. Answered by the signature index (catalog/signature_index.h), which holds
  // every rung of the catalogue in memory: read from the backend on the first waveform lookup,
  // kept in step with writes after that.
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
  // substrings), best first, at most limit. column is "title", "artist", "album" or empty for
  // any; all_words asks for every word, else any one of them.
  virtual std::vector<TrackHit> TextCandidates(const std::vector<std::string>& words,
                                               std::string_view column, bool all_words,
                                               size_t limit) = 0;

  // Whether lookups can use the word index (word_index.h). When false, text lookups use
  // TextCandidates alone.
  virtual bool HasWordIndex() = 0;
  // Whether a normalized word (one of IndexWords; with a trailing *, any word beginning with it)
  // is in the column of any track.
  virtual bool HasWord(WordColumn column, std::string_view word) = 0;
  // How many tracks match a word query, counted up to at_most: cheap, the matches are not
  // ranked.
  virtual size_t WordMatches(const WordQuery& query, size_t at_most) = 0;
  // Tracks matching a word query, at most limit, with their texts; ranked: best full-text rank
  // first (every match is ranked), else in the index's order.
  virtual std::vector<TextCandidate> WordCandidates(const WordQuery& query, size_t limit,
                                                    bool ranked = true) = 0;

  // Why reads on the calling thread failed since its last call, empty when none did. A read that
  // fails (a server that cannot be reached) answers as "not found" does; a caller that must tell
  // the two apart takes the failure before and after its reads. Reads of a file do not fail so.
  virtual std::string TakeFailure() { return {}; }

 protected:
  explicit CatalogStore(std::string location);

  // One rung for the signature index: the track it belongs to and the signature.
  using RungSink = std::function<void(int64_t disc_id, int32_t track, const Signature&)>;
  // Every rung of the catalogue, the rungs of one track one after another.
  // REQUIRES: mutex_ held.
  virtual void ReadAllRungs(const RungSink& sink) = 0;
  // Called before every waveform lookup once the index is read: a backend that other processes
  // write to brings in their changes here (RemoveIndexedDiscs, IndexTrack). REQUIRES: mutex_
  // held.
  virtual void CatchUpRungs() {}

  // Whether the signature index has been read (before, there is nothing to keep in step).
  bool SignatureIndexRead() const { return signatures_loaded_; }
  // Keep the index in step with a committed write: the discs' rungs stop answering; a track's
  // rungs answer. REQUIRES: mutex_ held, SignatureIndexRead().
  void RemoveIndexedDiscs(const std::vector<int64_t>& disc_ids);
  void IndexTrack(int64_t disc_id, const TrackRecord& track);
  // Drops the index: the next waveform lookup reads every rung again. REQUIRES: mutex_ held.
  void ForgetSignatureIndex() { signatures_loaded_ = false; }

  std::mutex mutex_;

 private:
  void LoadSignatures();
  // The index read, or brought up to date with what others wrote.
  void ReadyIndex();
  std::vector<TrackHit> RankedHits(const std::vector<std::pair<uint32_t, int64_t>>& near,
                                   size_t limit) const;

  std::string location_;
  bool signatures_loaded_ = false;
  std::unique_ptr<SignatureIndexOptions> index_options_;
  std::unique_ptr<SignatureIndex> signature_index_;
  // The index's owners: (disc id, track number); a removed disc's owners stay, without rungs.
  std::vector<std::pair<int64_t, int32_t>> signature_owners_;
};

}  // namespace pelk::catalog
