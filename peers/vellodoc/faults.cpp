#include "peers/vellodoc/faults.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "common/errors.h"

namespace kvt::vellodoc {
namespace {

const std::string kInForce =
    "SELECT rowid, metodo, argomento, paziente, risposta, fallisce, volte, guasto, parametro "
    "FROM standin_guasti WHERE volte IS NULL OR volte > 0 ORDER BY rowid";

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
        row.guasto = select.text(7);
        row.parametro = select.integer(8);
        rows.push_back(std::move(row));
    }
    // A spell of refusals goes on across readings of the table.
    for (Row& row : rows) {
        for (const Row& old : rows_) {
            if (old.rowid == row.rowid) {
                row.dal = old.dal;
            }
        }
    }
    rows_ = std::move(rows);
}

std::optional<FaultHit> FaultTable::take(std::string_view metodo, std::string_view key,
                                         std::string_view paziente) {
    for (Row& row : rows_) {
        if (!row.guasto.empty() || row.metodo != metodo || (row.volte && *row.volte <= 0)) {
            continue;
        }
        if (!matches(row, metodo, key, paziente)) {
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

bool FaultTable::matches(const Row& row, std::string_view metodo, std::string_view key,
                         std::string_view paziente) const {
    if (!row.metodo.empty() && row.metodo != metodo) {
        return false;
    }
    if (!row.paziente.empty() && row.paziente != paziente) {
        return false;
    }
    return row.argomento.empty() ||
           sqlite3_strglob(row.argomento.c_str(), std::string(key).c_str()) == 0;
}

std::optional<ProcessFaultHit> FaultTable::takeProcess(std::string_view metodo,
                                                       std::string_view key,
                                                       std::string_view paziente,
                                                       std::uint64_t chiamata, bool refuses) {
    using Kind = ProcessFaultHit::Kind;
    for (Row& row : rows_) {
        if (row.guasto.empty() || !matches(row, metodo, key, paziente) ||
            (!refuses && row.guasto.starts_with("occupato"))) {
            continue;
        }
        if (row.guasto == "lento") {
            std::this_thread::sleep_for(std::chrono::milliseconds(row.parametro));
        } else if (row.guasto == "muore" || row.guasto == "blocca") {
            if (chiamata >= static_cast<std::uint64_t>(std::max<std::int64_t>(row.parametro, 0))) {
                return ProcessFaultHit{row.guasto == "muore" ? Kind::Dies : Kind::Hangs,
                                       row.parametro};
            }
        } else if (row.guasto == "occupato") {
            if (row.parametro > 0 && chiamata % static_cast<std::uint64_t>(row.parametro) == 0) {
                return ProcessFaultHit{Kind::Refused, row.parametro};
            }
        } else if (row.guasto == "occupato_per") {
            const std::int64_t adesso = std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now().time_since_epoch())
                                            .count();
            if (!row.dal) {
                row.dal = adesso;
            }
            if (adesso - *row.dal < row.parametro) {
                return ProcessFaultHit{Kind::RefusedForNow, row.parametro};
            }
        }
    }
    return std::nullopt;
}

}  // namespace kvt::vellodoc
