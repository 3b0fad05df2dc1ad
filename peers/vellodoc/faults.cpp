#include "peers/vellodoc/faults.h"

#include <sqlite3.h>

#include "common/errors.h"

namespace kvt::vellodoc {
namespace {

const std::string kInForce =
    "SELECT rowid, metodo, argomento, paziente, risposta, fallisce, volte FROM standin_guasti "
    "WHERE volte IS NULL OR volte > 0 ORDER BY rowid";

const std::string kCount =
    "UPDATE standin_guasti SET volte = volte - 1 WHERE rowid = ?1 AND volte > 0";

}  // namespace

void FaultTable::attach(Database& db) {
    detach();
    Statement probe =
        db.prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'standin_guasti'");
    if (probe.step()) {
        db_ = &db;
        refresh();
    }
}

void FaultTable::detach() {
    db_ = nullptr;
    rows_.clear();
}

void FaultTable::refresh() {
    if (!db_) {
        return;
    }
    std::vector<Row> rows;
    Statement& select = db_->cached(kInForce);
    ResetOnExit resetOnExit(select);
    while (select.step()) {
        Row row;
        row.rowid = select.integer(0);
        row.metodo = select.text(1);
        row.argomento = select.text(2);
        row.paziente = select.text(3);
        if (!select.isNull(4)) {
            row.risposta = std::string(select.text(4));
        }
        row.fallisce = select.integer(5) != 0;
        if (!select.isNull(6)) {
            row.volte = select.integer(6);
        }
        rows.push_back(std::move(row));
    }
    rows_ = std::move(rows);
}

std::optional<FaultHit> FaultTable::take(std::string_view metodo, std::string_view key,
                                         std::string_view paziente) {
    for (Row& row : rows_) {
        if (row.metodo != metodo || (row.volte && *row.volte <= 0)) {
            continue;
        }
        if (!row.paziente.empty() && row.paziente != paziente) {
            continue;
        }
        if (!row.argomento.empty() &&
            sqlite3_strglob(row.argomento.c_str(), std::string(key).c_str()) != 0) {
            continue;
        }
        if (row.volte) {
            --*row.volte;
            try {
                Statement& count = db_->cached(kCount);
                ResetOnExit resetOnExit(count);
                count.bind(1, row.rowid).run();
            } catch (const Error&) {
                // A practice opened read-only cannot count its faults down;
                // this object still counts them in memory.
            }
        }
        return FaultHit{row.risposta, row.fallisce};
    }
    return std::nullopt;
}

}  // namespace kvt::vellodoc
