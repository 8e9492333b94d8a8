#include "catalog/postgres_catalog_store.h"

#include <algorithm>

#include "catalog/index_words.h"
#include "catalog/pg_connection.h"
#include "catalog/postgres_schema.h"
#include "catalog/postgres_text_query.h"

namespace pelk::catalog {
namespace {

// A read that lost its connection is tried this many times in all.
constexpr int kReadAttempts = 3;
// Rows fetched at a time from a cursor over the whole catalogue.
constexpr int kFetchRows = 20000;
// Rungs written since the index was read, beyond which it is built anew rather than added to
// (its cells were drawn for a smaller catalogue), when they also outnumber the rungs it was
// built from.
constexpr int64_t kRebuildAfterRungs = 50000;

// Every column of a disc, its tracks and their rungs; one row per rung (or per track without
// rungs, or per disc without tracks).
constexpr std::string_view kDiscRows =
    "SELECT d.id, d.identifier, d.album, d.artist, d.track_count, d.compilation, "
    "d.certified_level, d.release_rank, d.year, d.genre, d.store_id1, d.store_id2, "
    "d.disc_number, d.disc_count, t.id, t.number, t.title, t.artist, t.length_ms, t.identifier, "
    "s.rung, array_to_string(s.signature, ' ') "
    "FROM discs d LEFT JOIN tracks t ON t.disc_id = d.id "
    "LEFT JOIN signatures s ON s.track_id = t.id WHERE ";
// Discs in the order AllDiscs lists them (the texts compared byte by byte, as the file catalogue
// does), each disc's rows by track and rung.
constexpr std::string_view kCatalogueOrder =
    "d.artist COLLATE \"C\", d.album COLLATE \"C\", d.disc_number, d.id, t.number, s.rung";

// Puts discs together from the rows of kDiscRows, which may come in several batches.
class DiscAssembler {
 public:
  void Add(const PgResult& r) {
    for (int row = 0; row < r.Rows(); ++row) {
      const int64_t disc_id = r.Int(row, 0);
      if (!disc_ || disc_->id != disc_id) StartDisc(r, row);
      if (r.IsNull(row, 14)) continue;
      const int64_t track_id = r.Int(row, 14);
      if (disc_->tracks.empty() || disc_->tracks.back().id != track_id) {
        TrackRecord t;
        t.id = track_id;
        t.number = static_cast<int32_t>(r.Int(row, 15));
        t.title = r.Text(row, 16);
        t.artist = r.Text(row, 17);
        t.length_ms = static_cast<int32_t>(r.Int(row, 18));
        t.identifier = r.Text(row, 19);
        disc_->tracks.push_back(std::move(t));
      }
      if (r.IsNull(row, 20)) continue;
      TrackRecord& t = disc_->tracks.back();
      const std::optional<Signature> s = ParseSignature(r.View(row, 21));
      if (!s) continue;
      if (r.Int(row, 20) == 0) {
        t.signature = s;
      } else if (t.signature) {
        t.ladder.push_back(*s);
      }
    }
  }
  std::vector<DiscPtr> Take() {
    Finish();
    return std::move(discs_);
  }

 private:
  void StartDisc(const PgResult& r, int row) {
    Finish();
    disc_ = std::make_shared<DiscRecord>();
    disc_->id = r.Int(row, 0);
    disc_->identifier = r.Text(row, 1);
    disc_->album = r.Text(row, 2);
    disc_->artist = r.Text(row, 3);
    disc_->track_count = static_cast<int32_t>(r.Int(row, 4));
    disc_->compilation = r.View(row, 5) == "t";
    disc_->certified_level = static_cast<int32_t>(r.Int(row, 6));
    disc_->release_rank = static_cast<int32_t>(r.Int(row, 7));
    disc_->year = static_cast<int32_t>(r.Int(row, 8));
    disc_->genre = r.Text(row, 9);
    disc_->store_id1 = r.Text(row, 10);
    disc_->store_id2 = r.Text(row, 11);
    disc_->disc_number = static_cast<int32_t>(r.Int(row, 12));
    disc_->disc_count = static_cast<int32_t>(r.Int(row, 13));
  }
  void Finish() {
    if (!disc_) return;
    disc_->track_count = disc_->SoundTrackCount();
    discs_.push_back(std::move(disc_));
    disc_.reset();
  }

  std::shared_ptr<DiscRecord> disc_;
  std::vector<DiscPtr> discs_;
};

}  // namespace

std::unique_ptr<CatalogStore> OpenPostgresCatalog(const std::string& location,
                                                  CatalogStore::OpenMode mode, std::string* error) {
  return PostgresCatalogStore::Open(location, mode, error);
}

PostgresCatalogStore::PostgresCatalogStore(std::unique_ptr<PgConnection> connection,
                                           std::string location)
    : CatalogStore(std::move(location)), connection_(std::move(connection)) {}

PostgresCatalogStore::~PostgresCatalogStore() = default;

std::unique_ptr<CatalogStore> PostgresCatalogStore::Open(const std::string& location, OpenMode mode,
                                                         std::string* error) {
  std::unique_ptr<PgConnection> connection = PgConnection::Connect(location, error);
  if (!connection) return nullptr;
  std::unique_ptr<PostgresCatalogStore> store(
      new PostgresCatalogStore(std::move(connection), LocationWithoutPassword(location)));
  if (!PreparePostgresCatalogue(*store->connection_, store->Location(), mode, error)) {
    return nullptr;
  }
  return store;
}

bool PostgresCatalogStore::Ran(const PgResult& result, std::string* why) {
  if (result.Ok()) return true;
  lost_ = connection_->Lost(result);
  *why = result.Error().empty() ? connection_->LastError() : result.Error();
  return false;
}

void PostgresCatalogStore::Fail(std::string why) {
  failures_[std::this_thread::get_id()] = std::move(why);
}

std::string PostgresCatalogStore::TakeFailure() {
  std::lock_guard lock(mutex_);
  const auto found = failures_.find(std::this_thread::get_id());
  if (found == failures_.end()) return {};
  std::string why = std::move(found->second);
  failures_.erase(found);
  return why;
}

bool PostgresCatalogStore::Read(std::string_view what,
                                const std::function<bool(std::string* why)>& read) {
  std::string why;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (attempt > 0 || connection_->Lost()) {
      if (!connection_->Reconnect()) {
        why = connection_->LastError();
        continue;
      }
    }
    lost_ = false;
    if (read(&why)) return true;
    if (!lost_) {
      connection_->RollbackIfOpen();
      Fail("cannot " + std::string(what) + " in " + Location() + ": " + why);
      return false;
    }
  }
  Fail("cannot " + std::string(what) + ": lost the connection to " + connection_->ServerName() +
       " and could not get it back in " + std::to_string(kReadAttempts) + " tries (" + why + ")");
  return false;
}

bool PostgresCatalogStore::LoadDiscs(std::string_view condition, const PgParams& params,
                                     std::string_view order, bool cursor,
                                     std::vector<DiscPtr>* discs, std::string* why) {
  const std::string sql =
      std::string(kDiscRows) + std::string(condition) + " ORDER BY " + std::string(order);
  DiscAssembler assembler;
  if (!cursor) {
    const PgResult r = connection_->Exec(sql, params);
    if (!Ran(r, why)) return false;
    assembler.Add(r);
    *discs = assembler.Take();
    return true;
  }
  // Many discs: fetched in batches from one snapshot, so none is seen half-written.
  if (!Ran(connection_->Exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"), why) ||
      !Ran(connection_->Exec("DECLARE disc_rows NO SCROLL CURSOR FOR " + sql, params), why)) {
    return false;
  }
  const std::string fetch = "FETCH FORWARD " + std::to_string(kFetchRows) + " FROM disc_rows";
  for (;;) {
    const PgResult r = connection_->Exec(fetch);
    if (!Ran(r, why)) return false;
    if (r.Rows() == 0) break;
    assembler.Add(r);
  }
  if (!Ran(connection_->Exec("COMMIT"), why)) return false;
  *discs = assembler.Take();
  return true;
}

DiscPtr PostgresCatalogStore::OneDisc(std::string_view what, std::string_view condition,
                                      const PgParams& params) {
  std::vector<DiscPtr> discs;
  Read(what, [&](std::string* why) {
    return LoadDiscs(condition, params, "t.number, s.rung", false, &discs, why);
  });
  return discs.empty() ? nullptr : discs.front();
}

DiscPtr PostgresCatalogStore::DiscById(int64_t id) {
  std::lock_guard lock(mutex_);
  return OneDisc("read a disc", "d.id = $1", PgParams().Add(id));
}

DiscPtr PostgresCatalogStore::DiscByIdentifier(std::string_view identifier) {
  std::lock_guard lock(mutex_);
  return OneDisc("read a disc", "d.identifier = $1", PgParams().Add(identifier));
}

DiscPtr PostgresCatalogStore::DiscByStoreIds(std::string_view first, std::string_view second) {
  if (first.empty() || second.empty()) return nullptr;
  std::lock_guard lock(mutex_);
  return OneDisc("read a disc",
                 "d.id = (SELECT id FROM discs WHERE store_id1 = $1 AND store_id2 = $2 "
                 "ORDER BY id LIMIT 1)",
                 PgParams().Add(first).Add(second));
}

std::optional<TrackHit> PostgresCatalogStore::TrackByIdentifier(std::string_view identifier) {
  std::lock_guard lock(mutex_);
  std::optional<TrackHit> hit;
  Read("look up a track", [&](std::string* why) {
    const PgResult r = connection_->Exec("SELECT disc_id, number FROM tracks WHERE identifier = $1",
                                         PgParams().Add(identifier));
    if (!Ran(r, why)) return false;
    if (r.Rows() > 0) hit = TrackHit{r.Int(0, 0), static_cast<int32_t>(r.Int(0, 1)), 0};
    return true;
  });
  return hit;
}

std::vector<DiscPtr> PostgresCatalogStore::AllDiscs() {
  std::lock_guard lock(mutex_);
  std::vector<DiscPtr> discs;
  Read("read the discs", [&](std::string* why) {
    return LoadDiscs("true", PgParams(), kCatalogueOrder, true, &discs, why);
  });
  return discs;
}

std::vector<DiscPtr> PostgresCatalogStore::ReleaseDiscs(const DiscRecord& disc) {
  std::lock_guard lock(mutex_);
  std::vector<DiscPtr> discs;
  Read("read the discs of a release", [&](std::string* why) {
    return LoadDiscs("d.artist = $1 AND d.album = $2", PgParams().Add(disc.artist).Add(disc.album),
                     "d.disc_number, d.id, t.number, s.rung", false, &discs, why);
  });
  return discs;
}

int64_t PostgresCatalogStore::GenreNumber(std::string_view genre) {
  if (genre.empty()) return 0;
  std::lock_guard lock(mutex_);
  int64_t number = 0;
  Read("look up a genre", [&](std::string* why) {
    const PgResult r =
        connection_->Exec("SELECT id FROM genres WHERE name = $1", PgParams().Add(genre));
    if (!Ran(r, why)) return false;
    number = r.Rows() > 0 ? r.Int(0, 0) : 0;
    return true;
  });
  return number;
}

CatalogStats PostgresCatalogStore::Stats() {
  std::lock_guard lock(mutex_);
  CatalogStats stats;
  Read("count the catalogue", [&](std::string* why) {
    // Every fingerprinted track has exactly one rung 0.
    const PgResult r = connection_->Exec(
        "SELECT (SELECT count(*) FROM discs), (SELECT count(*) FROM tracks), "
        "(SELECT count(*) FROM signatures), (SELECT count(*) FROM signatures WHERE rung = 0)");
    if (!Ran(r, why)) return false;
    stats = {r.Int(0, 0), r.Int(0, 1), r.Int(0, 2), r.Int(0, 3)};
    return true;
  });
  return stats;
}

std::vector<TrackHit> PostgresCatalogStore::TextCandidates(const std::vector<std::string>& words,
                                                           std::string_view column, bool all_words,
                                                           size_t limit) {
  if (!column.empty() && column != "title" && column != "artist" && column != "album") return {};
  PgParams params;
  const PgCondition condition = SubstringCondition(words, column, all_words, &params);
  if (condition.where.empty()) return {};
  params.Add(static_cast<int64_t>(limit));
  const std::string sql = "SELECT t.disc_id, t.number FROM tracks t WHERE " + condition.where +
                          " ORDER BY " + condition.rank + ", t.id LIMIT " + params.Last();
  std::lock_guard lock(mutex_);
  std::vector<TrackHit> hits;
  Read("search the texts", [&](std::string* why) {
    const PgResult r = connection_->Exec(sql, params);
    if (!Ran(r, why)) return false;
    hits.clear();
    for (int row = 0; row < r.Rows(); ++row) {
      hits.push_back(TrackHit{r.Int(row, 0), static_cast<int32_t>(r.Int(row, 1)), 0});
    }
    return true;
  });
  return hits;
}

bool PostgresCatalogStore::HasWord(WordColumn column, std::string_view word) {
  if (word.empty()) return false;
  return WordMatches(AllWordsIn(column, {std::string(word)}), 1) > 0;
}

bool PostgresCatalogStore::WordsBeginningWith(WordColumn column, const std::string& pattern,
                                              std::vector<std::string>* words, std::string* why) {
  const PgResult r = connection_->Exec("SELECT word FROM words WHERE col = $1 AND word LIKE $2",
                                       PgParams().Add(static_cast<int64_t>(column)).Add(pattern));
  if (!Ran(r, why)) return false;
  words->clear();
  for (int row = 0; row < r.Rows(); ++row) words->push_back(r.Text(row, 0));
  return true;
}

size_t PostgresCatalogStore::WordMatches(const WordQuery& query, size_t at_most) {
  std::lock_guard lock(mutex_);
  size_t count = 0;
  Read("search the words", [&](std::string* why) {
    PgParams params;
    PgCondition condition;
    if (!WordQueryCondition(query, PrefixWordsFor(why), &params, &condition)) return false;
    count = 0;
    if (condition.where.empty()) return true;
    params.Add(static_cast<int64_t>(at_most));
    const PgResult r = connection_->Exec("SELECT count(*) FROM (SELECT 1 FROM tracks t WHERE " +
                                             condition.where + " LIMIT " + params.Last() + ") AS m",
                                         params);
    if (!Ran(r, why)) return false;
    count = static_cast<size_t>(r.Int(0, 0));
    return true;
  });
  return count;
}

std::vector<TextCandidate> PostgresCatalogStore::WordCandidates(const WordQuery& query,
                                                                size_t limit, bool ranked) {
  std::lock_guard lock(mutex_);
  std::vector<TextCandidate> candidates;
  Read("search the words", [&](std::string* why) {
    PgParams params;
    PgCondition condition;
    if (!WordQueryCondition(query, PrefixWordsFor(why), &params, &condition)) return false;
    candidates.clear();
    if (condition.where.empty()) return true;
    params.Add(static_cast<int64_t>(limit));
    const std::string sql =
        "SELECT t.disc_id, t.number, t.title, t.artist, d.artist, d.album "
        "FROM tracks t JOIN discs d ON d.id = t.disc_id WHERE " +
        condition.where +
        (ranked ? " ORDER BY " + condition.rank + (condition.rank.empty() ? "" : ", ") + "t.id"
                : "") +
        " LIMIT " + params.Last();
    const PgResult r = connection_->Exec(sql, params);
    if (!Ran(r, why)) return false;
    for (int row = 0; row < r.Rows(); ++row) {
      candidates.push_back(TextCandidate{r.Int(row, 0), static_cast<int32_t>(r.Int(row, 1)),
                                         r.Text(row, 2), r.Text(row, 3), r.Text(row, 4),
                                         r.Text(row, 5)});
    }
    return true;
  });
  return candidates;
}

bool PostgresCatalogStore::ReadSnapshot(int64_t removed_after, int64_t rung_after,
                                        const RungRowSink& sink, Snapshot* snapshot,
                                        std::string* why) {
  // Every row is read: the plan need not favour the first ones.
  if (!Ran(connection_->Exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"), why) ||
      !Ran(connection_->Exec("SET LOCAL cursor_tuple_fraction = 1"), why)) {
    return false;
  }
  const PgResult marks = connection_->Exec(
      "SELECT key, value::bigint FROM meta "
      "WHERE key IN ('generation', 'removals_pruned_through')");
  if (!Ran(marks, why)) return false;
  int64_t pruned_through = 0;
  bool generation = false;
  for (int row = 0; row < marks.Rows(); ++row) {
    if (marks.View(row, 0) == "generation") {
      snapshot->generation = marks.Int(row, 1);
      generation = true;
    } else {
      pruned_through = marks.Int(row, 1);
    }
  }
  if (!generation) {
    *why = "the catalogue has lost its generation row";
    return false;
  }
  snapshot->removed.clear();
  snapshot->followable = removed_after < 0 || removed_after >= pruned_through;
  if (!snapshot->followable) return Ran(connection_->Exec("COMMIT"), why);
  if (removed_after >= 0) {
    const PgResult removed = connection_->Exec(
        "SELECT disc_id FROM removed_discs WHERE generation > $1", PgParams().Add(removed_after));
    if (!Ran(removed, why)) return false;
    for (int row = 0; row < removed.Rows(); ++row) snapshot->removed.push_back(removed.Int(row, 0));
  }
  if (!Ran(connection_->Exec("DECLARE rung_rows BINARY NO SCROLL CURSOR FOR "
                             "SELECT s.id, t.disc_id, t.number, s.rung, s.signature "
                             "FROM signatures s JOIN tracks t ON t.id = s.track_id "
                             "WHERE s.id > $1 ORDER BY s.track_id, s.rung",
                             PgParams().Add(rung_after)),
           why)) {
    return false;
  }
  const std::string fetch = "FETCH FORWARD " + std::to_string(kFetchRows) + " FROM rung_rows";
  for (;;) {
    const PgResult r = connection_->Exec(fetch);
    if (!Ran(r, why)) return false;
    if (r.Rows() == 0) break;
    for (int row = 0; row < r.Rows(); ++row) {
      const std::optional<Signature> s = r.BinarySignature(row, 4);
      if (!s) continue;
      sink(RungRow{r.BinaryInt64(row, 0), r.BinaryInt64(row, 1), r.BinaryInt32(row, 2),
                   r.BinaryInt32(row, 3), *s});
    }
  }
  return Ran(connection_->Exec("COMMIT"), why);
}

void PostgresCatalogStore::ReadAllRungs(const RungSink& sink) {
  // Rows handed to the sink cannot be taken back: a read that loses its connection after the
  // first is not run again here; the index is read anew on the next lookup instead.
  indexed_generation_ = -1;
  int64_t rungs = 0, last_id = 0;
  Snapshot snapshot;
  const auto take = [&](const RungRow& row) {
    sink(row.disc_id, row.track, row.signature);
    ++rungs;
    last_id = std::max(last_id, row.id);
  };
  std::string why;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if ((attempt > 0 || connection_->Lost()) && !connection_->Reconnect()) {
      why = connection_->LastError();
      continue;
    }
    lost_ = false;
    if (ReadSnapshot(-1, 0, take, &snapshot, &why)) {
      indexed_generation_ = snapshot.generation;
      indexed_rung_id_ = last_id;
      rungs_read_ = rungs;
      return;
    }
    if (!lost_ || rungs > 0) break;
  }
  connection_->RollbackIfOpen();
  Fail("cannot read the signatures of " + Location() + ": " + why);
}

void PostgresCatalogStore::CatchUpRungs() {
  if (indexed_generation_ < 0) {
    ForgetSignatureIndex();
    return;
  }
  int64_t generation = 0;
  if (!Read("check the catalogue for changes", [&](std::string* why) {
        const PgResult r =
            connection_->Exec("SELECT value::bigint FROM meta WHERE key = 'generation'");
        if (!Ran(r, why)) return false;
        generation = r.Rows() == 1 ? r.Int(0, 0) : -1;
        return true;
      })) {
    return;  // the index stays as it was
  }
  if (generation == indexed_generation_) return;
  if (generation < indexed_generation_) {  // not the catalogue the index was read from
    ForgetSignatureIndex();
    return;
  }
  std::vector<RungRow> rows;
  Snapshot snapshot;
  if (!Read("read the signatures written since", [&](std::string* why) {
        rows.clear();
        return ReadSnapshot(
            indexed_generation_, indexed_rung_id_, [&](const RungRow& row) { rows.push_back(row); },
            &snapshot, why);
      })) {
    return;
  }
  if (!snapshot.followable ||
      static_cast<int64_t>(rows.size()) > std::max(kRebuildAfterRungs, rungs_read_)) {
    ForgetSignatureIndex();
    return;
  }
  RemoveIndexedDiscs(snapshot.removed);
  for (size_t i = 0; i < rows.size();) {
    // One track's rungs come together, rung 0 first.
    TrackRecord track;
    track.number = rows[i].track;
    const int64_t disc_id = rows[i].disc_id;
    size_t end = i;
    for (; end < rows.size() && rows[end].disc_id == disc_id && rows[end].track == track.number;
         ++end) {
      if (rows[end].rung == 0) {
        track.signature = rows[end].signature;
      } else {
        track.ladder.push_back(rows[end].signature);
      }
      indexed_rung_id_ = std::max(indexed_rung_id_, rows[end].id);
    }
    IndexTrack(disc_id, track);
    i = end;
  }
  indexed_generation_ = snapshot.generation;
}

}  // namespace pelk::catalog
