#pragma once
// A thin owner of SQLite connections and statements for the host stand-in and
// its generator. Every failure raises kvt::Error with an Italian message.
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace kvt::vellodoc {

class Statement {
  public:
    Statement() = default;
    Statement(sqlite3* db, std::string_view sql);
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Parameters are numbered from 1, as SQLite numbers them.
    Statement& bind(int index, std::string_view text);
    Statement& bind(int index, std::int64_t number);
    Statement& bindNull(int index);
    // Binds the text, or NULL when it is empty.
    Statement& bindOrNull(int index, std::string_view text);

    // Advances to the next row; false when there are no more.
    bool step();
    // Runs a statement that gives no rows.
    void run();
    // Ready to run again, with its bindings cleared.
    void reset();

    int columnCount() const;
    bool isNull(int column) const;
    // The column's text; NULL reads as the empty text.
    std::string_view text(int column) const;
    std::int64_t integer(int column) const;
    int columnType(int column) const;

    bool readOnly() const;
    sqlite3_stmt* handle() const { return stmt_; }

  private:
    [[noreturn]] void fail(std::string_view what) const;

    sqlite3* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
};

class Database {
  public:
    enum class Mode { ReadOnly, ReadWrite, Create };

    Database() = default;
    ~Database();
    Database(Database&& other) noexcept;
    Database& operator=(Database&& other) noexcept;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens the file; ReadWrite and ReadOnly never create a missing file.
    static Database open(const std::filesystem::path& path, Mode mode);

    bool isOpen() const { return db_ != nullptr; }
    void close();
    // Runs one or more statements that give no rows.
    void exec(std::string_view sql);
    Statement prepare(std::string_view sql) const;
    // A statement prepared once and kept for the connection's life, reset and
    // ready to bind.
    Statement& cached(const std::string& sql);
    std::int64_t lastInsertRowid() const;
    int changes() const;
    sqlite3* handle() const { return db_; }

  private:
    sqlite3* db_ = nullptr;
    std::map<std::string, std::unique_ptr<Statement>, std::less<>> cache_;
};

// Resets a cached statement when the scope ends, so that no read stays open
// between host calls (other connections may write meanwhile).
class ResetOnExit {
  public:
    explicit ResetOnExit(Statement& statement) : statement_(statement) {}
    ~ResetOnExit() { statement_.reset(); }
    ResetOnExit(const ResetOnExit&) = delete;
    ResetOnExit& operator=(const ResetOnExit&) = delete;

  private:
    Statement& statement_;
};

// Holds a transaction open until commit(); rolls back otherwise.
class Transaction {
  public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

  private:
    Database& db_;
    bool done_ = false;
};

}  // namespace kvt::vellodoc
