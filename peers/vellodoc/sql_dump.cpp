#include "peers/vellodoc/sql_dump.h"

#include <sqlite3.h>

#include "common/errors.h"

namespace kvt::vellodoc {
namespace {

bool onlyBlanksAndSemicolons(std::string_view text) {
    for (const char c : text) {
        if (c != ';' && static_cast<unsigned char>(c) > 32) {
            return false;
        }
    }
    return true;
}

void appendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    out += '"';
}

}  // namespace

std::string sqlDump(Database& db, std::string_view sql, std::uint64_t& rowsRead) {
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db.handle(), sql.data(), static_cast<int>(sql.size()), &raw, &tail) !=
        SQLITE_OK) {
        const std::string reason = sqlite3_errmsg(db.handle());
        sqlite3_finalize(raw);
        throw Error("Istruzione SQL non valida: " + reason);
    }
    struct Finalizer {
        sqlite3_stmt* stmt;
        ~Finalizer() { sqlite3_finalize(stmt); }
    } finalizer{raw};
    if (!raw) {
        throw Error("Istruzione SQL vuota");
    }
    const std::size_t used = static_cast<std::size_t>(tail - sql.data());
    if (!onlyBlanksAndSemicolons(sql.substr(used))) {
        throw Error("sql_dump_string esegue una sola istruzione SQL");
    }
    if (!sqlite3_stmt_readonly(raw)) {
        throw Error("sql_dump_string esegue solo istruzioni di lettura");
    }

    std::string out;
    const int columns = sqlite3_column_count(raw);
    bool first = true;
    while (true) {
        const int rc = sqlite3_step(raw);
        if (rc == SQLITE_DONE) {
            break;
        }
        if (rc != SQLITE_ROW) {
            throw Error(std::string("Errore nell'esecuzione della query: ") +
                        sqlite3_errmsg(db.handle()));
        }
        if (!first) {
            out += "\r\n";
        }
        first = false;
        for (int c = 0; c < columns; ++c) {
            if (c) {
                out += '\t';
            }
            const int type = sqlite3_column_type(raw, c);
            if (type == SQLITE_NULL) {
                continue;
            }
            const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(raw, c));
            const std::string_view text(data ? data : "",
                                        static_cast<std::size_t>(sqlite3_column_bytes(raw, c)));
            if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
                out += text;
            } else {
                appendQuoted(out, text);
            }
        }
        ++rowsRead;
    }
    return out;
}

}  // namespace kvt::vellodoc
