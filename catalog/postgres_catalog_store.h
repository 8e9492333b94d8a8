// The catalogue in a PostgreSQL database that many hosts share, read and written at once
// (the tables: postgres_schema.h).
//
// One connection per store, used under the base class's mutex_. Every value travels as a
// statement parameter. Each read is one statement or one REPEATABLE READ transaction, so it sees
// one state of the catalogue (a disc with all its tracks and rungs). A read that finds the
// connection gone connects again and runs again, at most three times; when it still fails it
// answers as "not found" does and leaves its reason for TakeFailure. A write is one transaction:
// one lost before its COMMIT was sent is run again on a new connection (the server dropped it
// whole), one lost during the COMMIT is reported, never repeated.
//
// Writers wait for each other (the generation row, see postgres_schema.h), so they cannot lose or
// duplicate a disc. The signature index follows every writer, this store included: before each
// waveform lookup one small query compares the generation, and when it moved only the rungs and
// replaced discs written since are read.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "catalog/catalog_store.h"
#include "catalog/postgres_text_query.h"

namespace pelk::catalog {

class PgConnection;
class PgParams;
class PgResult;

class PostgresCatalogStore final : public CatalogStore {
 public:
  // See CatalogStore::Open; the database must exist.
  static std::unique_ptr<CatalogStore> Open(const std::string& location, OpenMode mode,
                                            std::string* error);
  ~PostgresCatalogStore() override;

  bool AddDiscs(const std::vector<DiscRecord>& discs, std::string* error,
                bool replace = false) override;
  DiscPtr DiscById(int64_t id) override;
  DiscPtr DiscByIdentifier(std::string_view identifier) override;
  std::optional<TrackHit> TrackByIdentifier(std::string_view identifier) override;
  DiscPtr DiscByStoreIds(std::string_view first, std::string_view second) override;
  std::vector<DiscPtr> AllDiscs() override;
  std::vector<DiscPtr> ReleaseDiscs(const DiscRecord& disc) override;
  int64_t GenreNumber(std::string_view genre) override;
  CatalogStats Stats() override;
  std::vector<TrackHit> TextCandidates(const std::vector<std::string>& words,
                                       std::string_view column, bool all_words,
                                       size_t limit) override;
  bool HasWordIndex() override { return true; }
  bool HasWord(WordColumn column, std::string_view word) override;
  size_t WordMatches(const WordQuery& query, size_t at_most) override;
  std::vector<TextCandidate> WordCandidates(const WordQuery& query, size_t limit,
                                            bool ranked = true) override;
  std::string TakeFailure() override;

 private:
  enum class WriteOutcome { kDone, kRefused, kFailed, kLostBeforeCommit, kLostAtCommit, kRaced };
  // A rung row: its id, the track it belongs to (disc, number) and its place on the ladder.
  struct RungRow {
    int64_t id;
    int64_t disc_id;
    int32_t track;
    int32_t rung;
    Signature signature;
  };
  using RungRowSink = std::function<void(const RungRow&)>;
  // What one snapshot showed: its generation, and the discs replaced after a generation
  // (followable: false when some of those are no longer remembered).
  struct Snapshot {
    int64_t generation = 0;
    bool followable = true;
    std::vector<int64_t> removed;
  };

  PostgresCatalogStore(std::unique_ptr<PgConnection> connection, std::string location);

  // Runs a read, connecting again and running it again while the connection was lost, at most
  // kReadAttempts times. False when it failed; the reason is kept for TakeFailure. REQUIRES:
  // mutex_ held; read reports its statements through Ran.
  bool Read(std::string_view what, const std::function<bool(std::string* why)>& read);
  // Whether a statement ran; if not, *why says why and lost_ whether the connection went.
  bool Ran(const PgResult& result, std::string* why);
  void Fail(std::string why);

  // The discs a condition on d selects, in one statement (or, with a cursor, one snapshot).
  bool LoadDiscs(std::string_view condition, const PgParams& params, std::string_view order,
                 bool cursor, std::vector<DiscPtr>* discs, std::string* why);
  DiscPtr OneDisc(std::string_view what, std::string_view condition, const PgParams& params);

  // The words of a column that a LIKE pattern matches. REQUIRES: mutex_ held, inside Read.
  bool WordsBeginningWith(WordColumn column, const std::string& pattern,
                          std::vector<std::string>* words, std::string* why);
  PrefixWords PrefixWordsFor(std::string* why) {
    return [this, why](WordColumn column, const std::string& pattern,
                       std::vector<std::string>* words) {
      return WordsBeginningWith(column, pattern, words, why);
    };
  }

  WriteOutcome TryAddDiscs(const std::vector<DiscRecord>& discs, bool replace, std::string* error);
  // Deletes the removals older than the generations kept, and records up to which generation
  // they are gone. REQUIRES: inside the write's transaction, which holds the write turn.
  bool ForgetOldRemovals(int64_t generation, std::string* why);
  // After a write that added many tracks against what the catalogue held: the planner's
  // statistics made anew (best effort).
  void RefreshStatistics(const std::vector<DiscRecord>& discs);

  // In one REPEATABLE READ snapshot: the generation, the discs replaced after removed_after (when
  // not negative), and the rungs with ids above rung_after, by track and rung. When the replaced
  // discs are no longer all remembered, only the generation is read and followable is false.
  bool ReadSnapshot(int64_t removed_after, int64_t rung_after, const RungRowSink& sink,
                    Snapshot* snapshot, std::string* why);
  void ReadAllRungs(const RungSink& sink) override;
  void CatchUpRungs() override;

  std::unique_ptr<PgConnection> connection_;
  bool lost_ = false;  // the last statement that failed lost the connection
  // Where the signature index stands: the generation it holds (-1: it follows nothing, read it
  // again), the highest rung id in it, and how many rungs the last full read brought.
  int64_t indexed_generation_ = -1;
  int64_t indexed_rung_id_ = 0;
  int64_t rungs_read_ = 0;
  std::map<std::thread::id, std::string> failures_;  // by the thread whose read failed
};

// The catalogue at a postgresql:// (or postgres://) location; see CatalogStore::Open.
std::unique_ptr<CatalogStore> OpenPostgresCatalog(const std::string& location,
                                                  CatalogStore::OpenMode mode, std::string* error);

}  // namespace pelk::catalog
