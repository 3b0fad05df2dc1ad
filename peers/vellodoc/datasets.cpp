#include "peers/vellodoc/datasets.h"

#include <algorithm>

#include "common/errors.h"

namespace kvt::vellodoc {
namespace {

// Every clause a dataset may understand; a dataset understands those whose
// column it has.
constexpr ClauseRule kDatasetRules[] = {
    {"codice", ClauseKind::PatientCode, "codice"},
    {"variato_dopo_datatime", ClauseKind::After, "variato_il"},
    {"filtro_classe_patologia", ClauseKind::Equals, "classe_patologia"},
    {"filtro_lista_codici_accertamento_spaziati", ClauseKind::BlankList, "codice_accertamento"},
    {"filtro_solo_con_risultato", ClauseKind::NotEmpty, "risultato_valore_breve"},
    {"ordinamento", ClauseKind::Order, "data_esecuzione"},
};

DatasetKind kind(std::string_view name, std::vector<std::string_view> columns) {
    DatasetKind k{name, std::move(columns), {}};
    for (const ClauseRule& rule : kDatasetRules) {
        if (std::find(k.columns.begin(), k.columns.end(), rule.column) != k.columns.end()) {
            k.rules.push_back(rule);
        }
    }
    return k;
}

const std::vector<DatasetKind>& kinds() {
    static const std::vector<DatasetKind> table = {
        kind("intolleranza_da_farmaco",
             {"codice", "nome_intolleranza", "data_registrazione", "codice_minsan", "variato_il"}),
        kind("problema", {"codice", "codice_icd9_cm", "nome_problema", "certezza", "data_inizio",
                          "classe_patologia", "variato_il"}),
        kind("esenzione",
             {"codice", "codice_nazionale_esenzione", "nome_esenzione", "numero_esenzione",
              "codice_icd9_cm", "data_rilascio", "data_scadenza", "variato_il"}),
        kind("prescrizione_accertamento",
             {"codice", "id_prescrizione_vd", "codice_accertamento", "codice_vd_prescrizione",
              "codice_vd_tipo_prescrizione", "codice_nomenclatore_tariffario", "nome_prescrizione",
              "data_richiesta", "data_esecuzione_presunta", "data_esecuzione",
              "codice_vd_fuori_norma", "risultato_valore_breve", "risultato_unita_di_misura",
              "risultato_referto", "prezzo_unitario_euro", "variato_il"}),
        kind("prescrizione_varia", {"codice", "nome_prescrizione", "data_prescrizione", "quantita",
                                    "prezzo_unitario_euro", "variato_il"}),
        kind("prescrizione_farmaco",
             {"codice", "codice_minsan", "nome_prescrizione", "data_prescrizione", "quantita",
              "farmaco_fascia", "farmaco_continuativo", "posologia", "variato_il"}),
        kind("prestazione_incentivante", {"codice", "data_esecuzione", "nome_prestazione",
                                          "breve_nota_prestazione", "variato_il"}),
        kind("pressione", {"codice", "data_esecuzione", "pressione_massima", "pressione_minima",
                           "frequenza_cardiaca", "variato_il"}),
    };
    return table;
}

}  // namespace

std::span<const DatasetKind> datasetKinds() {
    return kinds();
}

const DatasetKind* findDatasetKind(std::string_view name) {
    for (const DatasetKind& k : kinds()) {
        if (k.name == name) {
            return &k;
        }
    }
    return nullptr;
}

std::size_t DatasetObject::load(Database& db, std::string_view filter,
                                const CodeResolver& resolveCode) {
    const SelectTarget target{kind_->name, kind_->columns, kind_->rules, true, "rowid"};
    const SelectQuery query = buildSelect(target, parseFilter(filter), resolveCode);
    Statement& select = db.cached(query.sql);
    ResetOnExit resetOnExit(select);
    for (std::size_t i = 0; i < query.parameters.size(); ++i) {
        select.bind(static_cast<int>(i + 1), query.parameters[i]);
    }
    std::vector<std::string> cells;
    std::size_t rows = 0;
    const auto columns = static_cast<int>(kind_->columns.size());
    while (select.step()) {
        for (int c = 0; c < columns; ++c) {
            cells.emplace_back(select.text(c));
        }
        ++rows;
    }
    cells_ = std::move(cells);
    rows_ = rows;
    current_ = 0;
    return rows_;
}

void DatasetObject::setRow(std::string_view number) {
    std::size_t row = 0;
    const bool digits =
        !number.empty() && number.size() <= 9 &&
        std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits) {
        throw Error("Numero di riga non valido: \"" + std::string(number) + "\"");
    }
    for (const char c : number) {
        row = row * 10 + static_cast<std::size_t>(c - '0');
    }
    if (row < 1 || row > rows_) {
        throw Error("Riga " + std::to_string(row) + " fuori intervallo: \"" +
                    std::string(kind_->name) + "\" ha " + std::to_string(rows_) + " righe");
    }
    current_ = row;
}

const std::string& DatasetObject::value(std::string_view column) const {
    const auto& columns = kind_->columns;
    const auto it = std::find(columns.begin(), columns.end(), column);
    if (it == columns.end()) {
        throw Error("Colonna sconosciuta in \"" + std::string(kind_->name) +
                    "\": " + std::string(column));
    }
    if (current_ == 0) {
        throw Error("Nessuna riga corrente in \"" + std::string(kind_->name) + "\": manca setrow");
    }
    const auto index = static_cast<std::size_t>(it - columns.begin());
    return cells_[(current_ - 1) * columns.size() + index];
}

}  // namespace kvt::vellodoc
