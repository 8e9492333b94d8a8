// Thin RAII helpers over libpq: one connection that can name its server in messages and connect
// again after losing it, statement parameters that are always sent apart from the SQL text, and
// results read by row and column.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog_store.h"

namespace pelk::catalog {

// The values of one statement's parameters $1, $2, ... in the order added, sent as text. Arrays
// are sent as array literals with every element quoted, so no element can change their shape.
class PgParams {
 public:
  PgParams& Add(std::string_view text);
  PgParams& Add(int64_t value);
  PgParams& AddTextArray(const std::vector<std::string>& values);
  PgParams& AddIntArray(const std::vector<int64_t>& values);
  // The number of the parameter added last, as SQL names it ("$3").
  std::string Last() const { return "$" + std::to_string(values_.size()); }
  int Count() const { return static_cast<int>(values_.size()); }
  std::vector<const char*> Pointers() const;

 private:
  std::vector<std::string> values_;
};

// A signature as an array literal ("{1,2,...}") for a smallint[] parameter.
std::string SignatureLiteral(const Signature& signature);

class PgResult {
 public:
  explicit PgResult(PGresult* result = nullptr) : result_(result, &PQclear) {}

  // The statement ran (a command, or a query with rows).
  bool Ok() const;
  int Rows() const { return result_ ? PQntuples(result_.get()) : 0; }
  bool IsNull(int row, int column) const { return PQgetisnull(result_.get(), row, column) != 0; }
  std::string_view View(int row, int column) const;
  std::string Text(int row, int column) const { return std::string(View(row, column)); }
  // A value in text format as an integer (0 when null or not a number).
  int64_t Int(int row, int column) const;
  // Values of a result in binary format: bigint, integer, and a smallint[] of 30 values.
  int64_t BinaryInt64(int row, int column) const;
  int32_t BinaryInt32(int row, int column) const;
  std::optional<Signature> BinarySignature(int row, int column) const;

  // The five-character SQLSTATE of a failure, empty when none.
  std::string SqlState() const;
  // The server's message for a failure, on one line; empty when none.
  std::string Error() const;

 private:
  std::unique_ptr<PGresult, decltype(&PQclear)> result_;
};

class PgConnection {
 public:
  // Connects to a postgresql:// (or postgres://) location, in UTF-8. Null with *error naming the
  // server (host or socket folder, port, database) and libpq's reason when that fails.
  static std::unique_ptr<PgConnection> Connect(const std::string& location, std::string* error);
  ~PgConnection();
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  // SQL without parameters; may hold several statements.
  PgResult Exec(std::string_view sql);
  // One statement with parameters; its rows in binary format when asked.
  PgResult Exec(std::string_view sql, const PgParams& params, bool binary_rows = false);

  // Whether the connection is gone: the server ended it or could not be reached. Also true after
  // a failure the server gave because it is ending the connection (shut down, or terminated by
  // an administrator), which libpq may notice only on the next statement.
  bool Lost(const PgResult& failure) const;
  bool Lost() const { return PQstatus(conn_) == CONNECTION_BAD; }
  // Connects again with the same settings; false when the server cannot be reached.
  bool Reconnect();
  // Ends a transaction a failed statement left open (nothing when none is open).
  void RollbackIfOpen();

  // "the PostgreSQL server on socket folder /run/x (port 5432), database d": for messages.
  std::string ServerName() const;
  // libpq's reason for the last failure, on one line.
  std::string LastError() const;

 private:
  explicit PgConnection(PGconn* conn) : conn_(conn) {}
  PGconn* conn_;
};

// The location for people: without the password of its user part or of a password= setting.
std::string LocationWithoutPassword(std::string_view location);

}  // namespace pelk::catalog
