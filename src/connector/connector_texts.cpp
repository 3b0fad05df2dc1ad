#include "connector/connector_texts.h"

#include <array>
#include <string_view>

namespace kvt {
namespace {

constexpr std::array<std::string_view, 33> kTexts = {
    "ERR_OK: comando eseguito con successo",
    "ERR_BUSY: libreria occupata",
    "ERR_INVSVC: nome servizio non valido",
    "ERR_NORAS: parametri RAS errati",
    "ERR_DIAL: connessione RAS fallita",
    "ERR_HANGUP: disconnessione RAS fallita",
    "ERR_CONNECT: connessione fallita",
    "ERR_DISCONN: disconnessione fallita",
    "ERR_TIMEOUT: mancata risposta",
    "ERR_NETWORK: errore generico di rete",
    "ERR_PROTO: errata versione protocollo",
    "ERR_CMD: comando sconosciuto",
    "ERR_LOGIN: credenziali non valide",
    "ERR_AUTH: non autenticato",
    "ERR_UNCONN: non connesso",
    "ERR_MEM: errore memoria (remoto)",
    "ERR_INV: comando o parametri non validi",
    "ERR_NOTFOUND: richiesta non trovata",
    "ERR_QUEUED: richiesta in coda",
    "ERR_SERVICING: richiesta in elaborazione",
    "ERR_ANSWERED: risposta gia' inviata",
    "ERR_NOSVC: servizio non disponibile",
    "ERR_DUPSVC: servizio gia\u2019 allocato",
    "ERR_NOREG: registrazione servizio fallita",
    "ERR_RES: risorse esaurite",
    "ERR_LMEM: errore memoria (locale)",
    "ERR_SESS: allocazione sessione fallita",
    "ERR_DROP: client remoto disconnesso",
    "ERR_UNK: errore sconosciuto",
    "ERR_CRYPT: errore motore crittografico",
    "ERR_MAC: errore autenticazione dati",
    "ERR_PROP: proposta negoziazione respinta",
    "ERR_LOOKUP: servizio non localizzabile",
};

}  // namespace

std::string descriviCodice(int code) {
    if (code >= 0 && code < static_cast<int>(kTexts.size())) {
        return std::string(kTexts[static_cast<std::size_t>(code)]);
    }
    return "ERR_ERRUNKNOW:" + std::to_string(code);
}

}  // namespace kvt
