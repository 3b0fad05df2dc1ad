#include "peers/vellodoc/sqlite_db.h"

#include <sqlite3.h>

#include <utility>

#include "common/errors.h"
#include "common/paths.h"

namespace kvt::vellodoc {
namespace {

[[noreturn]] void raise(sqlite3* db, std::string_view what) {
    std::string message = "Errore dell'archivio dello studio (" + std::string(what) + ")";
    if (db) {
        message += ": ";
        message += sqlite3_errmsg(db);
    }
    throw Error(message);
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, &tail) !=
        SQLITE_OK) {
        raise(db, "preparazione");
    }
    if (!stmt_) {
        raise(nullptr, "istruzione vuota");
    }
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement::Statement(Statement&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), stmt_(std::exchange(other.stmt_, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(stmt_);
        db_ = std::exchange(other.db_, nullptr);
        stmt_ = std::exchange(other.stmt_, nullptr);
    }
    return *this;
}

void Statement::fail(std::string_view what) const {
    raise(db_, what);
}

Statement& Statement::bind(int index, std::string_view text) {
    if (sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK) {
        fail("parametro");
    }
    return *this;
}

Statement& Statement::bind(int index, std::int64_t number) {
    if (sqlite3_bind_int64(stmt_, index, number) != SQLITE_OK) {
        fail("parametro");
    }
    return *this;
}

Statement& Statement::bindNull(int index) {
    if (sqlite3_bind_null(stmt_, index) != SQLITE_OK) {
        fail("parametro");
    }
    return *this;
}

Statement& Statement::bindOrNull(int index, std::string_view text) {
    return text.empty() ? bindNull(index) : bind(index, text);
}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    fail("lettura");
}

void Statement::run() {
    while (step()) {
    }
}

void Statement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

int Statement::columnCount() const {
    return sqlite3_column_count(stmt_);
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::string_view Statement::text(int column) const {
    const auto* data = sqlite3_column_text(stmt_, column);
    if (!data) {
        return {};
    }
    return {reinterpret_cast<const char*>(data),
            static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))};
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

int Statement::columnType(int column) const {
    return sqlite3_column_type(stmt_, column);
}

bool Statement::readOnly() const {
    return sqlite3_stmt_readonly(stmt_) != 0;
}

Database::~Database() {
    close();
}

Database::Database(Database&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), cache_(std::move(other.cache_)) {}

Database& Database::operator=(Database&& other) noexcept {
    if (this != &other) {
        close();
        db_ = std::exchange(other.db_, nullptr);
        cache_ = std::move(other.cache_);
    }
    return *this;
}

Database Database::open(const std::filesystem::path& path, Mode mode) {
    int flags = SQLITE_OPEN_NOMUTEX;
    switch (mode) {
        case Mode::ReadOnly:
            flags |= SQLITE_OPEN_READONLY;
            break;
        case Mode::ReadWrite:
            flags |= SQLITE_OPEN_READWRITE;
            break;
        case Mode::Create:
            flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
            break;
    }
    Database database;
    // SQLite takes file names as UTF-8 on every platform.
    const std::string name = paths::toUtf8(path);
    const int rc = sqlite3_open_v2(name.c_str(), &database.db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string reason = database.db_ ? sqlite3_errmsg(database.db_) : sqlite3_errstr(rc);
        throw Error("Impossibile aprire l'archivio dello studio " + name + ": " + reason);
    }
    sqlite3_extended_result_codes(database.db_, 1);
    sqlite3_busy_timeout(database.db_, 5000);
    return database;
}

void Database::close() {
    cache_.clear();
    if (db_) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

void Database::exec(std::string_view sql) {
    const std::string text(sql);
    char* error = nullptr;
    if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = "Errore dell'archivio dello studio: ";
        message += error ? error : sqlite3_errmsg(db_);
        sqlite3_free(error);
        throw Error(message);
    }
}

Statement Database::prepare(std::string_view sql) const {
    return Statement(db_, sql);
}

Statement& Database::cached(const std::string& sql) {
    auto it = cache_.find(sql);
    if (it == cache_.end()) {
        it = cache_.emplace(sql, std::make_unique<Statement>(db_, sql)).first;
    } else {
        it->second->reset();
    }
    return *it->second;
}

std::int64_t Database::lastInsertRowid() const {
    return sqlite3_last_insert_rowid(db_);
}

int Database::changes() const {
    return sqlite3_changes(db_);
}

Transaction::Transaction(Database& db) : db_(db) {
    db_.exec("BEGIN");
}

Transaction::~Transaction() {
    if (!done_) {
        try {
            db_.exec("ROLLBACK");
        } catch (const Error&) {
            // Nothing more can be done about a failed rollback here.
        }
    }
}

void Transaction::commit() {
    db_.exec("COMMIT");
    done_ = true;
}

}  // namespace kvt::vellodoc
