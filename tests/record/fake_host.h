#pragma once
// An in-memory "Vellodoc.Server" for the record builder's tests: patient
// attributes and dataset rows set by the test, every filter and every
// attribute read recorded, the row count answer scriptable, and a count of
// the dataset objects still alive.
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
    // Rows by dataset name; "filtro_classe_patologia=X" keeps the rows whose
    // column "classe_patologia" is X, as the host does.
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
            const std::string classe = "filtro_classe_patologia=";
            std::optional<std::string> richiesta;
            if (const auto p = parametro.find(classe); p != std::string::npos) {
                const auto fine = parametro.find('|', p);
                richiesta = parametro.substr(p + classe.size(), fine == std::string::npos
                                                                    ? std::string::npos
                                                                    : fine - p - classe.size());
            }
            for (const Riga& riga : dati.righe) {
                const auto c = riga.find("classe_patologia");
                const std::string valore = c == riga.end() ? std::string() : c->second;
                if (!richiesta || valore == *richiesta) {
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

    std::map<std::string, Oggetto> oggetti_;
    int creati_ = 0;
};

}  // namespace kvt::test
