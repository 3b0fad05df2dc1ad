// The list pattern: how every list section reads a host dataset.
#include "common/radix.h"
#include "record/tld_crea_nodo.h"

namespace kvt {

namespace {

// A dataset object on the host, destroyed when the section is done with it,
// also when an error ends the section: a failed record must not leave host
// objects behind for the rest of the run.
class OggettoDataset {
  public:
    OggettoDataset(Tvellopat& host, std::string_view dataset)
        : host_(host), handle_(host.new_object("i_hl_dataset", std::string(dataset))) {}
    ~OggettoDataset() {
        try {
            host_.destroy_object(handle_);
        } catch (...) {
            // The adapter reports its own failures; nothing more to do here.
        }
    }
    OggettoDataset(const OggettoDataset&) = delete;
    OggettoDataset& operator=(const OggettoDataset&) = delete;

    const std::string& handle() const { return handle_; }

  private:
    Tvellopat& host_;
    std::string handle_;
};

}  // namespace

int TldCreaNodo::scorriDataset(std::string_view dataset, const std::string& filtro,
                               const VisitaRiga& visita) {
    OggettoDataset oggetto(host, dataset);
    const std::string& handle = oggetto.handle();
    host.call_method_pipe(handle, "carica", filtro);
    const int righe = str2int(host.call_method_pipe(handle, "rowcount", ""));
    for (int riga = 1; riga <= righe; ++riga) {
        host.call_method_pipe(handle, "setrow", std::to_string(riga));
        visita(handle, riga);
    }
    return righe > 0 ? righe : 0;
}

EsitoLista TldCreaNodo::accodaVoci(XmlNode lista, std::string_view dataset,
                                   const std::string& filtro, const CostruttoreVoce& voce) {
    EsitoLista esito;
    esito.righe = scorriDataset(dataset, filtro, [&](const std::string& handle, int) {
        if (const Sezione elemento = voce(handle)) {
            lista.appendChild(elemento);
            ++esito.voci;
        }
    });
    return esito;
}

Sezione TldCreaNodo::caricaLista(std::string_view elemento, std::string_view dataset,
                                 const std::string& filtro, const CostruttoreVoce& voce) {
    XmlNode lista = documento.createElement(elemento);
    if (accodaVoci(lista, dataset, filtro, voce).righe > 0) {
        return lista;
    }
    return Sezione{};
}

}  // namespace kvt
