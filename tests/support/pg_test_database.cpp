#include "tests/support/pg_test_database.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <fstream>

namespace pelk::testing {
namespace {

// The socket folder of the running test server, empty (with *error) when there is none.
std::string SocketFolder(std::string* error) {
  std::ifstream state(SONQUIX_PG_SERVER_FILE);
  for (std::string line; std::getline(state, line);) {
    constexpr std::string_view kKey = "PELK_TEST_PG_SOCKET=";
    if (line.starts_with(kKey)) return line.substr(kKey.size());
  }
  *error = "the PostgreSQL test server is not running: no " + std::string(SONQUIX_PG_SERVER_FILE) +
           " (ctest starts it in the test postgres_server_start; by hand: "
           "tests/support/pg_test_server.sh start " SONQUIX_PG_SERVER_FILE ")";
  return {};
}

std::string Location(const std::string& folder, const std::string& database) {
  return "postgresql:///" + database + "?host=" + folder + "&user=postgres";
}

std::string Run(const std::string& location, std::string_view sql, std::string* value) {
  PGconn* conn = PQconnectdb(location.c_str());
  std::string error;
  if (PQstatus(conn) != CONNECTION_OK) {
    error = PQerrorMessage(conn);
  } else {
    PGresult* r = PQexec(conn, std::string(sql).c_str());
    const ExecStatusType status = PQresultStatus(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      error = PQresultErrorMessage(r);
      if (error.empty()) error = "failed";
    } else if (value) {
      *value = PQntuples(r) > 0 && PQnfields(r) > 0 ? PQgetvalue(r, 0, 0) : "";
    }
    PQclear(r);
  }
  PQfinish(conn);
  return error;
}

}  // namespace

std::string PgServerSql(const std::string& database, std::string_view sql, std::string* value) {
  std::string error;
  const std::string folder = SocketFolder(&error);
  if (folder.empty()) return error;
  return Run(Location(folder, database.empty() ? "postgres" : database), sql, value);
}

ScopedPgDatabase::ScopedPgDatabase() {
  socket_folder_ = SocketFolder(&error_);
  if (socket_folder_.empty()) return;
  static std::atomic<int> counter{0};
  name_ = "sonquix_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
  error_ = Run(Location(socket_folder_, "postgres"), "CREATE DATABASE " + name_, nullptr);
  if (error_.empty()) location_ = Location(socket_folder_, name_);
}

ScopedPgDatabase::~ScopedPgDatabase() {
  if (location_.empty()) return;
  Run(Location(socket_folder_, "postgres"), "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)",
      nullptr);
}

std::string ScopedPgDatabase::Sql(std::string_view sql, std::string* value) const {
  if (location_.empty()) return error_;
  return Run(location_, sql, value);
}

}  // namespace pelk::testing
