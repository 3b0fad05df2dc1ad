#pragma once
// An in-memory "Vellodoc.Server" for the record builder's tests: patient
// attributes and dataset rows set by the test, every filter and every
// attribute read recorded, the row count answer scriptable, and a count of
// the dataset objects still alive.
#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/errors.h"
#include "host/automation.h"

namespace kvt::test {

using Riga = std::map<std::string, std::string>;

class FakeHost final : public automation::Object {
  public:
    struct Dataset {
        std::vector<Riga> righe;
        // When set, "rowcount" answers this text instead of the row count.
        std::optional<std::string> rowcount;
    };

    // Attributes of the current patient, by path.
    std::map<std::string, std::string> attributi;
    // Rows by dataset name. "carica" keeps the rows that its filter selects:
    // "filtro_classe_patologia=X" those whose "classe_patologia" is X;
    // "filtro_lista_codici_accertamento_spaziati=a b" those whose
    // "codice_accertamento" is a or b, and "variato_dopo_datatime=V" those
    // whose "variato_il" comes after V, as the host does, keeping rows that
    // lack the column.
    std::map<std::string, Dataset> datasets;

    // Every "carica" of a dataset object, as "dataset: filter".
    std::vector<std::string> filtri;
    // Every attribute read, patient ("paziente:path") or row ("dataset:column").
    std::vector<std::string> letture;
    std::vector<std::string> selezioni;

    int oggettiVivi() const { return static_cast<int>(oggetti_.size()); }

    automation::Variant call(std::string_view method, const automation::Arguments& args) override {
        using automation::Variant;
        const auto arg = [&](std::size_t i) {
            return i < args.size() && !args[i].isMissing() ? args[i].toText() : std::string();
        };
        if (method == "leggi_attributo") {
            letture.push_back("paziente:" + arg(0));
            const auto it = attributi.find(arg(0));
            return Variant::text(it == attributi.end() ? std::string() : it->second);
        }
        if (method == "select_single") {
            selezioni.push_back(arg(0));
            return Variant();
        }
        if (method == "new_object") {
            if (arg(0) != "i_hl_dataset") {
                throw Error("classe sconosciuta: " + arg(0));
            }
            const std::string handle = "ds" + std::to_string(++creati_);
            oggetti_[handle] = Oggetto{arg(1), {}, 0};
            return Variant::text(handle);
        }
        if (method == "destroy_object") {
            if (oggetti_.erase(arg(0)) == 0) {
                throw Error("oggetto sconosciuto: " + arg(0));
            }
            return Variant();
        }
        if (method == "call_method_pipe") {
            return chiamaOggetto(arg(0), arg(1), arg(2));
        }
        return Variant();  // new, connetti, get_error, disconnetti, Destroy, Free
    }

  private:
    struct Oggetto {
        std::string dataset;
        std::vector<Riga> righe;
        int corrente;
    };

    automation::Variant chiamaOggetto(const std::string& handle, const std::string& metodo,
                                      const std::string& parametro) {
        using automation::Variant;
        const auto it = oggetti_.find(handle);
        if (it == oggetti_.end()) {
            throw Error("oggetto sconosciuto: " + handle);
        }
        Oggetto& oggetto = it->second;
        const Dataset& dati = datasets[oggetto.dataset];
        if (metodo == "carica") {
            filtri.push_back(oggetto.dataset + ": " + parametro);
            oggetto.righe.clear();
            for (const Riga& riga : dati.righe) {
                if (passaFiltro(riga, parametro)) {
                    oggetto.righe.push_back(riga);
                }
            }
            return Variant::text(std::to_string(oggetto.righe.size()));
        }
        if (metodo == "rowcount") {
            return Variant::text(dati.rowcount ? *dati.rowcount
                                               : std::to_string(oggetto.righe.size()));
        }
        if (metodo == "setrow") {
            oggetto.corrente = std::stoi(parametro);
            return Variant();
        }
        if (metodo == "leggi_attributo") {
            letture.push_back(oggetto.dataset + ":" + parametro);
            if (oggetto.corrente < 1 || oggetto.corrente > static_cast<int>(oggetto.righe.size())) {
                throw Error("riga non valida");
            }
            const Riga& riga = oggetto.righe[static_cast<std::size_t>(oggetto.corrente - 1)];
            const auto c = riga.find(parametro);
            return Variant::text(c == riga.end() ? std::string() : c->second);
        }
        throw Error("metodo sconosciuto: " + metodo);
    }

    // The clauses the host applies to a column, as the host does; a row
    // without that column is kept, so a test sets only the columns it needs.
    static bool passaFiltro(const Riga& riga, const std::string& filtro) {
        std::size_t inizio = 0;
        while (inizio <= filtro.size()) {
            const std::size_t fine = std::min(filtro.find('|', inizio), filtro.size());
            const std::string clausola = filtro.substr(inizio, fine - inizio);
            inizio = fine + 1;
            const std::size_t uguale = clausola.find('=');
            if (uguale == std::string::npos) {
                continue;
            }
            const std::string nome = clausola.substr(0, uguale);
            const std::string valore = clausola.substr(uguale + 1);
            const auto colonna = [&](const char* nomeColonna) -> const std::string* {
                const auto c = riga.find(nomeColonna);
                return c == riga.end() ? nullptr : &c->second;
            };
            if (nome == "filtro_classe_patologia") {
                const std::string* classe = colonna("classe_patologia");
                if (valore != (classe ? *classe : std::string())) {
                    return false;
                }
            } else if (nome == "filtro_lista_codici_accertamento_spaziati") {
                if (const std::string* codice = colonna("codice_accertamento")) {
                    if ((" " + valore + " ").find(" " + *codice + " ") == std::string::npos) {
                        return false;
                    }
                }
            } else if (nome == "variato_dopo_datatime") {
                if (const std::string* variato = colonna("variato_il")) {
                    if (!(*variato > valore)) {
                        return false;
                    }
                }
            }
        }
        return true;
    }

    std::map<std::string, Oggetto> oggetti_;
    int creati_ = 0;
};

}  // namespace kvt::test
