// Databases on the tests' private PostgreSQL server (tests/support/pg_test_server.sh, started
// by the postgres_server_start test). Each test makes its own, so tests run side by side.
#pragma once

#include <string>
#include <string_view>

namespace pelk::testing {

// A new, empty database, dropped (with whatever still connects to it) when this goes. When the
// server is not running or refuses, error() says why and location() is empty.
class ScopedPgDatabase {
 public:
  ScopedPgDatabase();
  ~ScopedPgDatabase();
  ScopedPgDatabase(const ScopedPgDatabase&) = delete;
  ScopedPgDatabase& operator=(const ScopedPgDatabase&) = delete;

  const std::string& error() const { return error_; }
  const std::string& name() const { return name_; }
  // postgresql:///<name>?host=<socket folder>&user=postgres
  const std::string& location() const { return location_; }
  // Runs SQL in this database through a connection of its own, as another program would.
  // Returns the server's error, empty when it ran; *value gets the first row's first column.
  std::string Sql(std::string_view sql, std::string* value = nullptr) const;

 private:
  std::string socket_folder_;
  std::string name_, location_, error_;
};

// Runs SQL in a database of the test server (an empty name: its maintenance database);
// returns the error, empty when it ran.
std::string PgServerSql(const std::string& database, std::string_view sql,
                        std::string* value = nullptr);

}  // namespace pelk::testing
