#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

class Statement;

// One SQLite connection, closed with the object.
class SqliteDb {
  public:
    SqliteDb() = default;
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    bool Open(const std::string& file, std::string& error);
    void Close();
    // Runs statements that return no rows.
    bool Exec(const char* sql, std::string& error);
    // The statement for `sql`, prepared at its first use on this connection and kept until it
    // closes (what runs for every batch need not be parsed again); reset and unbound. Check
    // ok() as for a Statement of one's own.
    Statement& Cached(const char* sql);
    sqlite3* handle() const { return db_; }
    std::string Error() const { return db_ ? sqlite3_errmsg(db_) : "no database"; }

  private:
    sqlite3* db_ = nullptr;
    std::map<std::string, std::unique_ptr<Statement>> cached_;
};

// A prepared statement, finalized with the object. Columns and parameters count from 0 and 1
// as in SQLite.
class Statement {
  public:
    Statement(const SqliteDb& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    Statement& Bind(int index, const std::string& text);
    Statement& Bind(int index, std::int64_t value);
    Statement& BindNull(int index);
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step();
    void Reset();

    bool IsNull(int column) const;
    std::int64_t Int(int column) const;
    std::string Text(int column) const;

  private:
    sqlite3_stmt* stmt_ = nullptr;
};
