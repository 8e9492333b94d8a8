// The catalogue backends the store-level suites run on: each such suite is a TEST_P suite
// instantiated once per backend, a SQLite file and a database on the tests' private PostgreSQL
// server ("Postgres" in a test's name makes ctest start that server first).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "catalog/catalog_store.h"
#include "tests/support/pcm_synth.h"
#include "tests/support/pg_test_database.h"

namespace pelk::catalog {

enum class Backend { kSqlite, kPostgres };

inline std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::kSqlite ? "Sqlite" : "Postgres";
}
inline void PrintTo(Backend backend, std::ostream* os) {
  *os << (backend == Backend::kSqlite ? "SQLite" : "PostgreSQL");
}

// A place for a new catalogue of one backend (a file in a temporary folder, or a new database),
// removed with whatever it holds when this goes.
class ScopedCatalogPlace {
 public:
  explicit ScopedCatalogPlace(Backend backend) {
    if (backend == Backend::kSqlite) {
      file_ = std::make_unique<testing::ScopedTempFile>("catalog.db");
      location_ = file_->str();
    } else {
      database_ = std::make_unique<testing::ScopedPgDatabase>();
      location_ = database_->location();
      error_ = database_->error();
    }
  }
  const std::string& location() const { return location_; }
  // Why no place could be made; empty when it was.
  const std::string& error() const { return error_; }
  // The database, for SQL of another program; null for a file.
  const testing::ScopedPgDatabase* database() const { return database_.get(); }

 private:
  std::unique_ptr<testing::ScopedTempFile> file_;
  std::unique_ptr<testing::ScopedPgDatabase> database_;
  std::string location_, error_;
};

// A suite over one catalogue place per test.
class BackendTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    place_ = std::make_unique<ScopedCatalogPlace>(GetParam());
    ASSERT_TRUE(place_->error().empty()) << place_->error();
  }
  const std::string& Location() const { return place_->location(); }
  std::unique_ptr<CatalogStore> OpenStore(
      CatalogStore::OpenMode mode = CatalogStore::OpenMode::kCreate) const {
    std::string error;
    auto store = CatalogStore::Open(Location(), mode, &error);
    EXPECT_TRUE(store) << error;
    return store;
  }

  std::unique_ptr<ScopedCatalogPlace> place_;
};

}  // namespace pelk::catalog

// Runs a TEST_P suite on every backend.
#define INSTANTIATE_ON_EVERY_BACKEND(suite)                                                      \
  INSTANTIATE_TEST_SUITE_P(                                                                      \
      Backends, suite,                                                                           \
      ::testing::Values(::pelk::catalog::Backend::kSqlite, ::pelk::catalog::Backend::kPostgres), \
      ::pelk::catalog::BackendName)
