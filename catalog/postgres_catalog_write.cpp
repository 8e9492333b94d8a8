// The PostgreSQL store's one write, AddDiscs: a transaction that first takes the catalogue's
// write turn (the generation row), then checks, removes what it replaces and inserts in batches,
// a few statements per batch of discs rather than per track.
#include <cstdlib>
#include <map>
#include <set>

#include "catalog/index_words.h"
#include "catalog/pg_connection.h"
#include "catalog/postgres_catalog_store.h"

namespace pelk::catalog {
namespace {

// A write that lost its connection before its COMMIT, or met a racing writer's row, is run this
// many times in all.
constexpr int kWriteAttempts = 3;
// Tracks inserted per statement (whole discs).
constexpr size_t kBatchTracks = 2000;
// Identifiers checked per statement.
constexpr size_t kCheckBatch = 10000;
// A write adding at least this many tracks, and at least a tenth of what the catalogue held,
// refreshes the planner's statistics at once: an import into an empty catalogue would otherwise
// be read with plans made for empty tables until the server's own analysis comes round.
constexpr size_t kAnalyzeAfterTracks = 1000;
// Replaced discs are remembered for this many generations. A reader whose index is older than
// that reads the index afresh instead of following (CatchUpRungs).
constexpr int64_t kRemovalsKeptGenerations = 1000;

// The identifiers within one call must be distinct as they are in the catalogue.
bool BatchIsSound(const std::vector<DiscRecord>& discs, std::string* error) {
  std::set<std::string_view> disc_ids, track_ids;
  for (const DiscRecord& d : discs) {
    if (!disc_ids.insert(d.identifier).second) {
      *error = "disc " + d.identifier + " comes twice in what is being added";
      return false;
    }
    std::set<int32_t> numbers;
    for (const TrackRecord& t : d.tracks) {
      if (!track_ids.insert(t.identifier).second) {
        *error = "track identifier " + t.identifier + " of disc " + d.identifier +
                 " comes twice in what is being added";
        return false;
      }
      if (!numbers.insert(t.number).second) {
        *error = "disc " + d.identifier + " has two tracks numbered " + std::to_string(t.number);
        return false;
      }
    }
  }
  return true;
}

std::string Joined(const std::vector<std::string>& words) {
  std::string joined;
  for (const std::string& w : words) joined += (joined.empty() ? "" : " ") + w;
  return joined;
}

// A disc as the refusals name it, from columns identifier, artist, album, disc_number,
// disc_count starting at `first`.
std::string HeldDisc(const PgResult& r, int row, int first) {
  return DiscInWords(r.View(row, first), r.View(row, first + 1), r.View(row, first + 2),
                     r.Int(row, first + 3), r.Int(row, first + 4));
}

}  // namespace

bool PostgresCatalogStore::AddDiscs(const std::vector<DiscRecord>& discs, std::string* error,
                                    bool replace) {
  std::string ignored;
  if (!error) error = &ignored;
  if (!BatchIsSound(discs, error)) return false;
  if (discs.empty()) return true;
  std::lock_guard lock(mutex_);
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    if ((attempt > 0 || connection_->Lost()) && !connection_->Reconnect()) {
      *error = "cannot write the catalogue: cannot reach " + connection_->ServerName() + " (" +
               connection_->LastError() + ")";
      return false;
    }
    switch (TryAddDiscs(discs, replace, error)) {
      case WriteOutcome::kDone:
        RefreshStatistics(discs);
        return true;
      case WriteOutcome::kRefused:
      case WriteOutcome::kFailed:
      case WriteOutcome::kLostAtCommit:
        return false;
      case WriteOutcome::kLostBeforeCommit:  // the server dropped the transaction whole
      case WriteOutcome::kRaced:             // the checks run again and name what is there now
        continue;
    }
  }
  return false;
}

bool PostgresCatalogStore::ForgetOldRemovals(int64_t generation, std::string* why) {
  const int64_t through = generation - kRemovalsKeptGenerations;
  if (through <= 0) return true;
  const PgResult pruned = connection_->Exec(
      "WITH gone AS (DELETE FROM removed_discs WHERE generation <= $1 RETURNING 1) "
      "SELECT count(*) FROM gone",
      PgParams().Add(through));
  if (!Ran(pruned, why)) return false;
  if (pruned.Rows() != 1 || pruned.Int(0, 0) == 0) return true;
  return Ran(
      connection_->Exec("INSERT INTO meta(key, value) VALUES ('removals_pruned_through', $1) "
                        "ON CONFLICT (key) DO UPDATE SET value = excluded.value",
                        PgParams().Add(through)),
      why);
}

void PostgresCatalogStore::RefreshStatistics(const std::vector<DiscRecord>& discs) {
  size_t added = 0;
  for (const DiscRecord& d : discs) added += d.tracks.size();
  if (added < kAnalyzeAfterTracks) return;
  // reltuples: the last analysis's count, -1 or 0 before any.
  const PgResult held =
      connection_->Exec("SELECT reltuples FROM pg_class WHERE oid = 'tracks'::regclass");
  if (!held.Ok() || held.Rows() != 1) return;
  if (static_cast<double>(added) * 10 < std::strtod(held.Text(0, 0).c_str(), nullptr)) return;
  // A role that does not own the tables is only warned; nothing depends on it.
  connection_->Exec("ANALYZE discs, tracks, signatures, words");
}

PostgresCatalogStore::WriteOutcome PostgresCatalogStore::TryAddDiscs(
    const std::vector<DiscRecord>& discs, bool replace, std::string* error) {
  std::string why;
  lost_ = false;
  const auto failed = [&](std::string_view step, const PgResult* result = nullptr) {
    if (lost_) {
      *error = "lost the connection to " + connection_->ServerName() + " while writing (" + why +
               "); nothing was written";
      return WriteOutcome::kLostBeforeCommit;
    }
    connection_->RollbackIfOpen();
    // A unique row that appeared since the checks: a writer that does not take the write turn.
    *error = "cannot write the catalogue " + Location() + ": " + std::string(step) + ": " + why;
    return result && result->SqlState() == "23505" ? WriteOutcome::kRaced : WriteOutcome::kFailed;
  };
  const auto refused = [&](std::string words) {
    *error = std::move(words);
    connection_->RollbackIfOpen();
    return WriteOutcome::kRefused;
  };

  if (!Ran(connection_->Exec("BEGIN"), &why)) return failed("cannot begin");
  // The write turn: the row stays locked until COMMIT, so writers go one at a time and the
  // identity columns grow in commit order (what CatchUpRungs relies on).
  const PgResult turn = connection_->Exec(
      "UPDATE meta SET value = (value::bigint + 1)::text WHERE key = 'generation' "
      "RETURNING value::bigint");
  if (!Ran(turn, &why)) return failed("cannot take the write turn");
  if (turn.Rows() != 1) {
    why = "the catalogue has lost its generation row";
    return failed("cannot take the write turn");
  }
  const int64_t generation = turn.Int(0, 0);

  // Discs already there: refused, or removed with their tracks and rungs.
  std::map<std::string, std::pair<int64_t, std::string>, std::less<>> held_discs;
  for (size_t first = 0; first < discs.size(); first += kCheckBatch) {
    std::vector<std::string> ids;
    for (size_t i = first; i < std::min(discs.size(), first + kCheckBatch); ++i) {
      ids.push_back(discs[i].identifier);
    }
    const PgResult r = connection_->Exec(
        "SELECT id, identifier, artist, album, disc_number, disc_count FROM discs "
        "WHERE identifier = ANY($1::text[])",
        PgParams().AddTextArray(ids));
    if (!Ran(r, &why)) return failed("cannot look for the discs");
    for (int row = 0; row < r.Rows(); ++row) {
      held_discs[r.Text(row, 1)] = {r.Int(row, 0), HeldDisc(r, row, 1)};
    }
  }
  std::vector<int64_t> replaced;
  for (const DiscRecord& d : discs) {
    const auto held = held_discs.find(d.identifier);
    if (held == held_discs.end()) continue;
    if (!replace) return refused("disc " + held->second.second + " is already in the catalogue");
    replaced.push_back(held->second.first);
  }
  if (!replaced.empty()) {
    if (!Ran(connection_->Exec("DELETE FROM discs WHERE id = ANY($1::bigint[])",
                               PgParams().AddIntArray(replaced)),
             &why) ||
        !Ran(connection_->Exec(
                 "INSERT INTO removed_discs(generation, disc_id) SELECT $1, unnest($2::bigint[])",
                 PgParams().Add(generation).AddIntArray(replaced)),
             &why)) {
      return failed("cannot remove the discs replaced");
    }
  }
  if (!ForgetOldRemovals(generation, &why)) return failed("cannot prune the replaced discs");

  // Track identifiers that other discs hold.
  std::vector<std::string> track_ids;
  for (const DiscRecord& d : discs) {
    for (const TrackRecord& t : d.tracks) track_ids.push_back(t.identifier);
  }
  std::map<std::string, std::string, std::less<>> held_tracks;
  for (size_t first = 0; first < track_ids.size(); first += kCheckBatch) {
    const std::vector<std::string> ids(
        track_ids.begin() + static_cast<ptrdiff_t>(first),
        track_ids.begin() +
            static_cast<ptrdiff_t>(std::min(track_ids.size(), first + kCheckBatch)));
    const PgResult r = connection_->Exec(
        "SELECT t.identifier, d.identifier, d.artist, d.album, d.disc_number, d.disc_count "
        "FROM tracks t JOIN discs d ON d.id = t.disc_id WHERE t.identifier = ANY($1::text[])",
        PgParams().AddTextArray(ids));
    if (!Ran(r, &why)) return failed("cannot look for the tracks");
    for (int row = 0; row < r.Rows(); ++row) held_tracks[r.Text(row, 0)] = HeldDisc(r, row, 1);
  }
  for (const DiscRecord& d : discs) {
    for (const TrackRecord& t : d.tracks) {
      if (const auto held = held_tracks.find(t.identifier); held != held_tracks.end()) {
        return refused("track identifier " + t.identifier + " of disc " + d.identifier +
                       " is already in the catalogue, on disc " + held->second);
      }
    }
  }

  // Genres and the words of every column (for words given by their beginning).
  std::set<std::string> genres;
  std::set<std::pair<int64_t, std::string>> words;
  struct Texts {
    std::string artist, album, title;
    std::vector<std::string> artist_words, album_words, title_words;
  };
  std::vector<std::vector<Texts>> texts(discs.size());
  for (size_t i = 0; i < discs.size(); ++i) {
    const DiscRecord& d = discs[i];
    if (!d.genre.empty()) genres.insert(d.genre);
    const std::string album = NormalizedUtf8(d.album);
    const std::vector<std::string> album_words = IndexWords(album);
    for (const TrackRecord& t : d.tracks) {
      Texts x{
          NormalizedUtf8(d.TrackArtist(t)), album, NormalizedUtf8(t.title), {}, album_words, {}};
      x.artist_words = IndexWords(x.artist);
      x.title_words = IndexWords(x.title);
      for (const auto& [column, list] : {std::pair{WordColumn::kTitle, &x.title_words},
                                         std::pair{WordColumn::kArtist, &x.artist_words},
                                         std::pair{WordColumn::kAlbum, &x.album_words}}) {
        for (const std::string& w : *list) words.emplace(static_cast<int64_t>(column), w);
      }
      texts[i].push_back(std::move(x));
    }
  }
  if (!genres.empty() &&
      !Ran(connection_->Exec("INSERT INTO genres(name) SELECT unnest($1::text[]) "
                             "ON CONFLICT (name) DO NOTHING",
                             PgParams().AddTextArray({genres.begin(), genres.end()})),
           &why)) {
    return failed("cannot add the genres");
  }
  if (!words.empty()) {
    std::vector<int64_t> columns;
    std::vector<std::string> list;
    for (const auto& [column, word] : words) {
      columns.push_back(column);
      list.push_back(word);
    }
    if (!Ran(connection_->Exec("INSERT INTO words(col, word) "
                               "SELECT * FROM unnest($1::smallint[], $2::text[]) "
                               "ON CONFLICT DO NOTHING",
                               PgParams().AddIntArray(columns).AddTextArray(list)),
             &why)) {
      return failed("cannot add the words");
    }
  }

  // The discs in batches: the discs, then their tracks, then the tracks' rungs.
  for (size_t first = 0; first < discs.size();) {
    size_t end = first, tracks = 0;
    while (end < discs.size() &&
           (end == first || tracks + discs[end].tracks.size() <= kBatchTracks)) {
      tracks += discs[end++].tracks.size();
    }
    std::vector<std::string> identifier, album, artist, compilation, genre, store1, store2;
    std::vector<int64_t> count, number, total, level, rank, year;
    for (size_t i = first; i < end; ++i) {
      const DiscRecord& d = discs[i];
      identifier.push_back(d.identifier);
      album.push_back(d.album);
      artist.push_back(d.artist);
      count.push_back(d.SoundTrackCount());
      number.push_back(d.disc_number);
      total.push_back(d.disc_count);
      compilation.push_back(d.compilation ? "true" : "false");
      level.push_back(d.certified_level);
      rank.push_back(d.release_rank);
      year.push_back(d.year);
      genre.push_back(d.genre);
      store1.push_back(d.store_id1);
      store2.push_back(d.store_id2);
    }
    PgParams disc_params;
    disc_params.AddTextArray(identifier).AddTextArray(album).AddTextArray(artist);
    disc_params.AddIntArray(count).AddIntArray(number).AddIntArray(total);
    disc_params.AddTextArray(compilation).AddIntArray(level).AddIntArray(rank).AddIntArray(year);
    disc_params.AddTextArray(genre).AddTextArray(store1).AddTextArray(store2);
    const PgResult disc_rows = connection_->Exec(
        "INSERT INTO discs(identifier, album, artist, track_count, disc_number, disc_count, "
        "compilation, certified_level, release_rank, year, genre, store_id1, store_id2) "
        "SELECT * FROM unnest($1::text[], $2::text[], $3::text[], $4::int[], $5::int[], "
        "$6::int[], $7::boolean[], $8::int[], $9::int[], $10::int[], $11::text[], $12::text[], "
        "$13::text[]) RETURNING identifier, id",
        disc_params);
    if (!Ran(disc_rows, &why)) return failed("cannot add the discs", &disc_rows);
    std::map<std::string, int64_t, std::less<>> disc_ids;
    for (int row = 0; row < disc_rows.Rows(); ++row) {
      disc_ids[disc_rows.Text(row, 0)] = disc_rows.Int(row, 1);
    }

    std::vector<int64_t> t_disc, t_number, t_length;
    std::vector<std::string> t_title, t_artist, t_identifier, t_artist_norm, t_album_norm,
        t_title_norm, t_artist_words, t_album_words, t_title_words, t_key;
    for (size_t i = first; i < end; ++i) {
      for (size_t k = 0; k < discs[i].tracks.size(); ++k) {
        const TrackRecord& t = discs[i].tracks[k];
        const Texts& x = texts[i][k];
        t_disc.push_back(disc_ids[discs[i].identifier]);
        t_number.push_back(t.number);
        t_title.push_back(t.title);
        t_artist.push_back(t.artist);
        t_length.push_back(t.length_ms);
        t_identifier.push_back(t.identifier);
        t_artist_norm.push_back(x.artist);
        t_album_norm.push_back(x.album);
        t_title_norm.push_back(x.title);
        // Index words never hold a blank: the database splits them back at blanks.
        t_artist_words.push_back(Joined(x.artist_words));
        t_album_words.push_back(Joined(x.album_words));
        t_title_words.push_back(Joined(x.title_words));
        t_key.push_back(TitleKey(x.title));
      }
    }
    if (t_disc.empty()) {
      first = end;
      continue;
    }
    PgParams track_params;
    track_params.AddIntArray(t_disc).AddIntArray(t_number).AddTextArray(t_title);
    track_params.AddTextArray(t_artist).AddIntArray(t_length).AddTextArray(t_identifier);
    track_params.AddTextArray(t_artist_norm).AddTextArray(t_album_norm);
    track_params.AddTextArray(t_title_norm).AddTextArray(t_artist_words);
    track_params.AddTextArray(t_album_words).AddTextArray(t_title_words).AddTextArray(t_key);
    const PgResult track_rows = connection_->Exec(
        "INSERT INTO tracks(disc_id, number, title, artist, length_ms, identifier, artist_norm, "
        "album_norm, title_norm, artist_words, album_words, title_words, title_key) "
        "SELECT u.d, u.n, u.ti, u.ar, u.len, u.id, u.an, u.aln, u.tn, "
        "string_to_array(u.aw, ' '), string_to_array(u.alw, ' '), string_to_array(u.tw, ' '), "
        "u.tk FROM unnest($1::bigint[], $2::int[], $3::text[], $4::text[], $5::int[], "
        "$6::text[], $7::text[], $8::text[], $9::text[], $10::text[], $11::text[], $12::text[], "
        "$13::text[]) AS u(d, n, ti, ar, len, id, an, aln, tn, aw, alw, tw, tk) "
        "RETURNING identifier, id",
        track_params);
    if (!Ran(track_rows, &why)) return failed("cannot add the tracks", &track_rows);
    std::map<std::string, int64_t, std::less<>> track_row_ids;
    for (int row = 0; row < track_rows.Rows(); ++row) {
      track_row_ids[track_rows.Text(row, 0)] = track_rows.Int(row, 1);
    }

    std::vector<int64_t> s_track, s_rung;
    std::vector<std::string> s_values;
    for (size_t i = first; i < end; ++i) {
      for (const TrackRecord& t : discs[i].tracks) {
        // Rung 0 first; the ladder only beside it.
        for (size_t r = 0; t.signature && r <= t.ladder.size(); ++r) {
          s_track.push_back(track_row_ids[t.identifier]);
          s_rung.push_back(static_cast<int64_t>(r));
          s_values.push_back(SignatureLiteral(r == 0 ? *t.signature : t.ladder[r - 1]));
        }
      }
    }
    if (!s_track.empty()) {
      const PgResult rung_rows = connection_->Exec(
          "INSERT INTO signatures(track_id, rung, signature) "
          "SELECT u.t, u.r, u.s::smallint[] FROM unnest($1::bigint[], $2::int[], $3::text[]) "
          "AS u(t, r, s)",
          PgParams().AddIntArray(s_track).AddIntArray(s_rung).AddTextArray(s_values));
      if (!Ran(rung_rows, &why)) return failed("cannot add the signatures", &rung_rows);
    }
    first = end;
  }

  const PgResult commit = connection_->Exec("COMMIT");
  if (!Ran(commit, &why)) {
    if (lost_) {
      *error = "lost the connection to " + connection_->ServerName() +
               " while committing: the discs may or may not be in the catalogue (" + why + ")";
      return WriteOutcome::kLostAtCommit;
    }
    return failed("cannot commit", &commit);
  }
  return WriteOutcome::kDone;
}

}  // namespace pelk::catalog
