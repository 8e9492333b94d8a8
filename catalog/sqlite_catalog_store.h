// The catalogue in one SQLite file: the embedded default. The normalized texts are indexed twice
// with FTS5 (whole words, word_index.h, and trigrams), the signatures are blobs of 30 16-bit
// values.
//
// Opening a catalogue of the current schema also raises every disc's track count that is below
// its highest track number (older builds of add-album counted files, not tracks).
//
// Several processes may write one file: a write waits up to a minute for another's to finish. A
// file without any write permission bit is opened for reading only. A write that fails because
// the disk is full, the file is read-only or another process kept it busy says so in its error.
// Writes by other processes reach this store's text and identifier lookups at once; its
// signature index holds what was in the file when it was read, and this store's own writes.
#pragma once

#include <sqlite3.h>

#include "catalog/catalog_store.h"

namespace pelk::catalog {

class Statement;

class SqliteCatalogStore final : public CatalogStore {
 public:
  // The file at path (":memory:" for a private in-memory catalogue); see CatalogStore::Open.
  static std::unique_ptr<CatalogStore> Open(const std::string& path, OpenMode mode,
                                            std::string* error);
  ~SqliteCatalogStore() override;

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
  // False for a file that had no word index and could not be written when it was opened, or
  // that a program without the index has written since.
  bool HasWordIndex() override;
  bool HasWord(WordColumn column, std::string_view word) override;
  size_t WordMatches(const WordQuery& query, size_t at_most) override;
  std::vector<TextCandidate> WordCandidates(const WordQuery& query, size_t limit,
                                            bool ranked = true) override;

 private:
  SqliteCatalogStore(sqlite3* db, std::string path);
  bool Migrate(std::string* error);
  DiscPtr LoadDisc(int64_t id);
  void ReadAllRungs(const RungSink& sink) override;

  sqlite3* db_;
  bool word_index_ = false;  // built or found current at open
  // The word lookups' statements, prepared once (a lookup runs several); reset after each use.
  Statement& Cached(std::unique_ptr<Statement>& slot, std::string_view sql);
  std::unique_ptr<Statement> word_state_, has_word_, word_count_, ranked_words_, unranked_words_;
};

}  // namespace pelk::catalog
