#include "peers/vellodoc/patients.h"

#include <algorithm>
#include <utility>

#include "common/errors.h"

namespace kvt::vellodoc {
namespace {

constexpr PatientAttribute kAttributes[] = {
    {"cognome", "cognome"},
    {"nome", "nome"},
    {"codice_fiscale", "codice_fiscale"},
    {"id_paziente_vd", "codice"},
    {"large_string:vd-xtac", "xtac"},
    {"asl_di_assistenza\\asl\\codice_asl", "codice_asl"},
    {"persona\\residenza\\indirizzo\\via_piazza", "via_piazza"},
    {"persona\\residenza\\indirizzo\\numero_civico", "numero_civico"},
    {"sesso", "sesso"},
    {"data_nascita", "data_nascita"},
    {"gruppo_sanguigno", "gruppo_sanguigno"},
    {"attributi_paziente\\rh", "rh"},
    {"mmg_data_scelta", "mmg_data_scelta"},
    {"mmg_data_revoca", "mmg_data_revoca"},
    {"decesso\\data_evento", "decesso_data_evento"},
    {"decesso\\codice_icd9_cm", "decesso_codice_icd9_cm"},
    {"decesso\\causa", "decesso_causa"},
};

constexpr ClauseRule kListRules[] = {
    {"codice_medico", ClauseKind::Equals, "codice_medico"},
    {"tipo_di_convenzione", ClauseKind::Equals, "tipo_di_convenzione"},
    {"codice", ClauseKind::PatientCode, "codice"},
};

constexpr std::string_view kListColumns[] = {"codice"};

const std::string& attributeQuery() {
    static const std::string sql = [] {
        std::string text = "SELECT ";
        for (std::size_t i = 0; i < std::size(kAttributes); ++i) {
            text += i ? ", " : "";
            text += kAttributes[i].column;
        }
        return text + " FROM pazienti WHERE codice = ?1";
    }();
    return sql;
}

}  // namespace

std::span<const PatientAttribute> patientAttributes() {
    return kAttributes;
}

std::size_t PatientCursor::load(Database& db, std::string_view filter, std::string_view order,
                                const CodeResolver& resolveCode) {
    std::string_view orderBy;
    if (order == "alfabetico") {
        orderBy = "cognome COLLATE NOCASE, nome COLLATE NOCASE, codice";
    } else if (order.empty()) {
        orderBy = "rowid";
    } else {
        throw Error("Ordinamento dei pazienti sconosciuto: " + std::string(order));
    }
    const SelectTarget target{"pazienti", kListColumns, kListRules, false, orderBy};
    const SelectQuery query = buildSelect(target, parseFilter(filter), resolveCode);
    Statement& select = db.cached(query.sql);
    ResetOnExit resetOnExit(select);
    for (std::size_t i = 0; i < query.parameters.size(); ++i) {
        select.bind(static_cast<int>(i + 1), query.parameters[i]);
    }
    std::vector<std::string> codes;
    while (select.step()) {
        codes.emplace_back(select.text(0));
    }
    rowsRead_ += codes.size();
    codes_ = std::move(codes);
    position_ = 0;
    valuesRead_ = false;
    return codes_.size();
}

void PatientCursor::selectOnly(std::string code) {
    codes_.assign(1, std::move(code));
    position_ = 0;
    valuesRead_ = false;
}

void PatientCursor::skip() {
    if (position_ < codes_.size()) {
        ++position_;
    }
    valuesRead_ = false;
}

void PatientCursor::clear() {
    codes_.clear();
    position_ = 0;
    valuesRead_ = false;
}

std::string_view PatientCursor::currentCode() const {
    return hasCurrent() ? std::string_view(codes_[position_]) : std::string_view();
}

std::uint64_t PatientCursor::takeRowsRead() {
    return std::exchange(rowsRead_, 0);
}

const std::string& PatientCursor::attribute(Database& db, std::string_view path) {
    const auto it = std::find_if(std::begin(kAttributes), std::end(kAttributes),
                                 [&](const PatientAttribute& a) { return a.path == path; });
    if (it == std::end(kAttributes)) {
        throw Error("Attributo sconosciuto: " + std::string(path));
    }
    if (!hasCurrent()) {
        throw Error("Nessun paziente corrente");
    }
    if (!valuesRead_) {
        Statement& select = db.cached(attributeQuery());
        ResetOnExit resetOnExit(select);
        select.bind(1, codes_[position_]);
        if (!select.step()) {
            throw Error("Il paziente corrente non è più nell'archivio");
        }
        values_.resize(std::size(kAttributes));
        for (std::size_t i = 0; i < values_.size(); ++i) {
            values_[i] = select.text(static_cast<int>(i));
        }
        ++rowsRead_;
        valuesRead_ = true;
    }
    return values_[static_cast<std::size_t>(it - std::begin(kAttributes))];
}

}  // namespace kvt::vellodoc
