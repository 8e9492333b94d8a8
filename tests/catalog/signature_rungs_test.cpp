#include "catalog/signature_rungs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

namespace pelk::catalog {
namespace {

Signature Filled(int16_t v) {
  Signature s;
  s.fill(v);
  return s;
}

// Tracks with several rungs, one rung, none; a rung left behind by a removed track and a rung
// whose stored value is no signature: each kept rung comes with its own track's disc and
// number, track by track and rung by rung, and the others are skipped.
TEST(SignatureRungsTest, ReadsEveryRungWithItsTrackAndSkipsTheRest) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("pelk-signature-rungs-" + std::to_string(::getpid()) + ".db");
  std::filesystem::remove(path);
  std::string error;
  auto store = CatalogStore::Open(path, CatalogStore::OpenMode::kCreate, &error);
  ASSERT_TRUE(store) << error;
  DiscRecord disc{.identifier = "D1", .album = "A", .artist = "B"};
  disc.tracks.push_back({.number = 1, .title = "one", .identifier = "T1"});
  disc.tracks.push_back({.number = 2,
                         .title = "two",
                         .identifier = "T2",
                         .signature = Filled(20),
                         .ladder = {Filled(21), Filled(22), Filled(23)}});
  disc.tracks.push_back(
      {.number = 3, .title = "three", .identifier = "T3", .signature = Filled(30)});
  DiscRecord other{.identifier = "D2", .album = "C", .artist = "D"};
  other.tracks.push_back({.number = 5,
                          .title = "five",
                          .identifier = "T5",
                          .signature = Filled(50),
                          .ladder = {Filled(51)}});
  ASSERT_TRUE(store->AddDiscs({disc, other}, &error)) << error;
  const int64_t d1 = store->DiscByIdentifier("D1")->id, d2 = store->DiscByIdentifier("D2")->id;
  store.reset();

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  // Written as a program that ignores the foreign keys could: a rung of no track, and a value
  // of the wrong size.
  ASSERT_EQ(sqlite3_exec(db,
                         "INSERT INTO signatures(track_id, rung, signature) "
                         "VALUES ((SELECT max(id) FROM tracks) + 1, 0, zeroblob(60));"
                         "UPDATE signatures SET signature = x'0102' WHERE rung = 2;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  const CatalogRungs rungs = ReadRungs(db);
  sqlite3_close(db);
  std::filesystem::remove(path);

  EXPECT_EQ(rungs.signatures, (std::vector<Signature>{Filled(20), Filled(21), Filled(23),
                                                      Filled(30), Filled(50), Filled(51)}));
  EXPECT_EQ(rungs.owners, (std::vector<uint32_t>{0, 0, 0, 1, 2, 2}));
  EXPECT_EQ(rungs.tracks, (std::vector<std::pair<int64_t, int32_t>>{{d1, 2}, {d1, 3}, {d2, 5}}));
}

}  // namespace
}  // namespace pelk::catalog
