#include "sqlite_db.h"

SqliteDb::~SqliteDb() {
    Close();
}

void SqliteDb::Close() {
    cached_.clear(); // finalized before the connection closes
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool SqliteDb::Open(const std::string& file, std::string& error) {
    Close(); // opened again: the earlier connection is not left behind
    int rc =
        sqlite3_open_v2(file.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        error = file + ": " + (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
        return false;
    }
    // Readers and the writer use their own connections; a writer holding the lock briefly
    // makes the other wait rather than fail.
    sqlite3_busy_timeout(db_, 10000);
    return true;
}

bool SqliteDb::Exec(const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    error = message ? message : Error();
    sqlite3_free(message);
    return false;
}

Statement& SqliteDb::Cached(const char* sql) {
    std::unique_ptr<Statement>& kept = cached_[sql];
    if (kept && kept->ok())
        kept->Reset();
    else
        kept = std::make_unique<Statement>(*this, sql);
    return *kept;
}

Statement::Statement(const SqliteDb& db, const char* sql) {
    if (sqlite3_prepare_v2(db.handle(), sql, -1, &stmt_, nullptr) != SQLITE_OK)
        stmt_ = nullptr;
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::Bind(int index, const std::string& text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::Bind(int index, std::int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
}

Statement& Statement::BindNull(int index) {
    sqlite3_bind_null(stmt_, index);
    return *this;
}

int Statement::Step() {
    return stmt_ ? sqlite3_step(stmt_) : SQLITE_MISUSE;
}

void Statement::Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

bool Statement::IsNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::int64_t Statement::Int(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

std::string Statement::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
                : std::string();
}
