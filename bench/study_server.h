// The studies' catalogues on a PostgreSQL server: a database per catalogue beside the one the
// given location names, its size on disk, and the CPU time of the server processes that serve
// it. The server's CPU is read from /proc (schedstat, nanoseconds), so only when the server runs
// on this machine: when the study reaches it through a Unix socket.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/study_measure.h"
#include "catalog/pg_connection.h"

namespace pelk::bench {

// The location with another database: postgresql://who@host/OLD?settings becomes
// postgresql://who@host/NEW?settings (a socket folder in the host part is percent-encoded, so
// the first slash after the scheme starts the database).
inline std::string LocationWithDatabase(const std::string& location, const std::string& database) {
  const size_t start = location.find("://") + 3;
  const size_t query = location.find('?', start);
  const size_t end = query == std::string::npos ? location.size() : query;
  const size_t slash = location.find('/', start);
  const size_t cut = slash == std::string::npos || slash > end ? end : slash;
  return location.substr(0, cut) + "/" + database + location.substr(end);
}

class StudyServer {
 public:
  // Connects to the location's own database, which must exist; the study ends when it cannot.
  explicit StudyServer(std::string location) : location_(std::move(location)) {
    std::string error;
    admin_ = catalog::PgConnection::Connect(location_, &error);
    if (!admin_) Die(error);
    Query("SET client_min_messages = warning");  // no notice for a database not there to drop
    std::string local;
    Query("SELECT inet_server_addr() IS NULL", &local);
    local_ = local == "t";
  }

  std::string LocationOf(const std::string& database) const {
    return LocationWithDatabase(location_, database);
  }
  // Whether its processes' CPU time can be read here.
  bool local() const { return local_; }

  // A new empty database (an old one of that name dropped first, with its connections).
  void Create(const std::string& database) {
    Drop(database);
    Query("CREATE DATABASE " + Quoted(database));
  }
  void Drop(const std::string& database) {
    Query("DROP DATABASE IF EXISTS " + Quoted(database) + " WITH (FORCE)");
  }
  // A database's mark that its catalogue was written whole (for --keep).
  void MarkComplete(const std::string& database) {
    Query("COMMENT ON DATABASE " + Quoted(database) + " IS 'complete'");
  }
  bool Complete(const std::string& database) {
    std::string comment;
    Query("SELECT shobj_description(oid, 'pg_database') FROM pg_database WHERE datname = $1",
          &comment, database);
    return comment == "complete";
  }
  double SizeMb(const std::string& database) {
    std::string bytes;
    Query("SELECT pg_database_size($1)", &bytes, database);
    return std::atof(bytes.c_str()) / 1e6;
  }

  // The server processes connected to a database now.
  std::vector<int> Backends(const std::string& database) {
    const catalog::PgResult r = admin_->Exec(
        "SELECT pid FROM pg_stat_activity WHERE datname = $1 AND pid <> pg_backend_pid()",
        catalog::PgParams().Add(database));
    if (!r.Ok()) Die(r.Error());
    std::vector<int> pids;
    for (int row = 0; row < r.Rows(); ++row) pids.push_back(static_cast<int>(r.Int(row, 0)));
    return pids;
  }
  // The CPU time the processes serving a database have used so far, read now and again at
  // each call (ms); empty when the server is not on this machine.
  std::function<double()> CpuMeter(const std::string& database) {
    if (!local_) return {};
    return [pids = Backends(database)] { return ProcessesCpuMs(pids); };
  }
  // "PostgreSQL 15.2, fsync on, synchronous_commit on, shared_buffers 128MB".
  std::string Describe() {
    const catalog::PgResult r = admin_->Exec(
        "SELECT current_setting('server_version'), current_setting('fsync'), "
        "current_setting('synchronous_commit'), current_setting('full_page_writes'), "
        "current_setting('shared_buffers')");
    if (!r.Ok() || r.Rows() != 1) Die(r.Error());
    return "PostgreSQL " + r.Text(0, 0) + ", fsync " + r.Text(0, 1) + ", synchronous_commit " +
           r.Text(0, 2) + ", full_page_writes " + r.Text(0, 3) + ", shared_buffers " +
           r.Text(0, 4) + (local_ ? ", on this machine" : ", elsewhere: its CPU is not measured");
  }

 private:
  [[noreturn]] static void Die(const std::string& why) {
    std::fprintf(stderr, "PostgreSQL: %s\n", why.c_str());
    std::exit(1);
  }
  static std::string Quoted(const std::string& name) { return "\"" + name + "\""; }
  void Query(const std::string& sql, std::string* value = nullptr,
             const std::string& parameter = {}) {
    const catalog::PgResult r = parameter.empty()
                                    ? admin_->Exec(sql)
                                    : admin_->Exec(sql, catalog::PgParams().Add(parameter));
    if (!r.Ok()) Die(sql + ": " + r.Error());
    if (value) *value = r.Rows() > 0 && !r.IsNull(0, 0) ? r.Text(0, 0) : std::string();
  }

  std::string location_;
  std::unique_ptr<catalog::PgConnection> admin_;
  bool local_ = false;
};

}  // namespace pelk::bench
