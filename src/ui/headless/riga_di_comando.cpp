#include "ui/headless/riga_di_comando.h"

#include <stdexcept>
#include <string_view>

namespace kvt::headless {
namespace {

struct OpzioneComando {
    const char* nome;
    Comando comando;
};
const OpzioneComando kComandi[] = {
    {"--nuovo-invio", Comando::NuovoInvio}, {"--riprendi", Comando::Riprendi},
    {"--test-linea", Comando::TestLinea},   {"--invio-singolo", Comando::InvioSingolo},
    {"--opzioni", Comando::Opzioni},        {"--verifica", Comando::Verifica},
};

[[noreturn]] void errore(const std::string& motivo) {
    throw std::invalid_argument(motivo);
}

// An option with a value, given as "--name VALUE" or "--name=VALUE".
class Argomenti {
  public:
    explicit Argomenti(const std::vector<std::string>& argomenti) : argomenti_(argomenti) {}
    bool finiti() const { return posizione_ >= argomenti_.size(); }
    const std::string& corrente() const { return argomenti_[posizione_]; }
    void avanti() { ++posizione_; }

    // The value of the option at the current position when its name is
    // `nome`; nothing when the current argument is another option.
    std::optional<std::string> valore(std::string_view nome) {
        const std::string& argomento = corrente();
        if (argomento == nome) {
            if (posizione_ + 1 >= argomenti_.size()) {
                errore("manca il valore di " + std::string(nome));
            }
            ++posizione_;
            return argomenti_[posizione_];
        }
        if (argomento.size() > nome.size() && argomento.compare(0, nome.size(), nome) == 0 &&
            argomento[nome.size()] == '=') {
            return argomento.substr(nome.size() + 1);
        }
        return std::nullopt;
    }

  private:
    const std::vector<std::string>& argomenti_;
    std::size_t posizione_ = 0;
};

void unaVolta(std::optional<std::string>& campo, std::string valore, std::string_view nome) {
    if (campo) {
        errore(std::string(nome) + " è dato due volte");
    }
    campo = std::move(valore);
}

}  // namespace

RigaDiComando analizzaRigaDiComando(const std::vector<std::string>& argomenti) {
    RigaDiComando riga;
    bool aiuto = false;
    bool versione = false;
    for (Argomenti scorri(argomenti); !scorri.finiti(); scorri.avanti()) {
        const std::string& argomento = scorri.corrente();
        if (argomento == "--help" || argomento == "-h") {
            aiuto = true;
            continue;
        }
        if (argomento == "--version") {
            versione = true;
            continue;
        }
        if (argomento == "--debug") {
            riga.debug = true;
            continue;
        }
        if (argomento == "--password" || argomento.rfind("--password=", 0) == 0) {
            errore(
                "la password non si dà sulla riga di comando: usare --password-file FILE "
                "o la variabile KVT_PASSWORD");
        }
        if (auto valore = scorri.valore("--program-dir")) {
            if (valore->empty()) {
                errore("--program-dir vuoto");
            }
            unaVolta(riga.cartellaProgramma, std::move(*valore), "--program-dir");
            continue;
        }
        if (auto valore = scorri.valore("--utente")) {
            unaVolta(riga.utente, std::move(*valore), "--utente");
            continue;
        }
        if (auto valore = scorri.valore("--password-file")) {
            if (valore->empty()) {
                errore("--password-file vuoto");
            }
            unaVolta(riga.filePassword, std::move(*valore), "--password-file");
            continue;
        }
        bool trovato = false;
        for (const OpzioneComando& opzione : kComandi) {
            if (argomento == opzione.nome) {
                riga.comandi.push_back(opzione.comando);
                trovato = true;
                break;
            }
        }
        if (!trovato) {
            errore(argomento.rfind('-', 0) == 0 ? "opzione sconosciuta: " + argomento
                                                : "argomento inatteso: " + argomento);
        }
    }

    if (aiuto) {
        riga.azione = RigaDiComando::Azione::Aiuto;
    } else if (versione) {
        riga.azione = RigaDiComando::Azione::Versione;
    } else if (riga.utente) {
        riga.azione = RigaDiComando::Azione::NonPresidiato;
    } else if (!riga.comandi.empty() || riga.filePassword || riga.debug) {
        // Unattended, the login needs its user; the window asks for it.
        errore("manca --utente UTENTE");
    }
    return riga;
}

const char* nomeOpzione(Comando comando) {
    for (const OpzioneComando& opzione : kComandi) {
        if (opzione.comando == comando) {
            return opzione.nome;
        }
    }
    return "";
}

std::string testoAiuto() {
    return "Uso: vd_kvt [--program-dir CARTELLA]\n"
           "     vd_kvt [--program-dir CARTELLA] --utente UTENTE [--password-file FILE]\n"
           "            [--debug] COMANDO...\n"
           "\n"
           "Invia al progetto KVT le cartelle cliniche pseudonimizzate dei pazienti del medico.\n"
           "Senza COMANDO apre la finestra di accesso. Con --utente accede senza finestre, come\n"
           "farebbe la finestra di accesso, esegue i comandi nell'ordine dato ed esce come\n"
           "\"Uscita\": adatto a un invio programmato (cron); non attende mai risposte.\n"
           "\n"
           "Comandi:\n"
           "  --nuovo-invio     \"Nuovo Invio\": ruota il log, svuota le cartelle di lavoro e "
           "invia\n"
           "  --riprendi        \"Riprendi\": riprende l'invio sulle cartelle come sono\n"
           "  --test-linea      \"Test Linea\": prova la connessione al servizio di raccolta\n"
           "  --invio-singolo   \"Invio Singolo\": invia il file fisso AAAAAA00A00A000A_kvt.xml\n"
           "  --opzioni         \"Opzioni\": le impostazioni del connettore (senza finestre:\n"
           "                    usare lkconfig --show e lkconfig --set NOME=VALORE)\n"
           "  --verifica        prova senza inviare nulla: dice paziente per paziente che cosa\n"
           "                    farà il prossimo \"Riprendi\" e quali dati mancano; scrive il\n"
           "                    rapporto (HTML e CSV) in kvt/verifica/ e non cambia altro\n"
           "\n"
           "Opzioni:\n"
           "  --program-dir CARTELLA  cartella del programma (predefinita: quella\n"
           "                          dell'eseguibile); i file di lavoro stanno in kvt/\n"
           "  --utente UTENTE         utente dell'archivio clinico\n"
           "  --password-file FILE    la password è la prima riga del FILE; senza, la\n"
           "                          variabile KVT_PASSWORD, altrimenti vuota. La password\n"
           "                          non si dà mai sulla riga di comando.\n"
           "  --debug                 mostra anche i dettagli degli errori (\"Debug\")\n"
           "  --help, --version\n"
           "\n"
           "I messaggi vanno sullo standard error e sono confermati subito; il riepilogo\n"
           "dell'invio va sullo standard output. Su un terminale lo standard error mostra\n"
           "l'avanzamento su una riga.\n"
           "\n"
           "Stato d'uscita: 0 fatto; 1 accesso non riuscito; 2 uso errato; 3 fatto, ma con\n"
           "errori di creazione o di invio, o un comando non riuscito (anche una verifica\n"
           "il cui rapporto non si è potuto scrivere).\n";
}

}  // namespace kvt::headless
