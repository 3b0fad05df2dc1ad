#pragma once
// The command line of vd_kvt:
//   vd_kvt [--program-dir DIR]                      the login window, then the main window
//   vd_kvt [--program-dir DIR] --utente USER [--password-file FILE] [--debug] COMMAND...
//   vd_kvt --help | --version
// COMMAND is --nuovo-invio, --riprendi, --test-linea, --invio-singolo,
// --opzioni or --verifica (the dry run), clicked in the order given. The password is never an
// argument.
#include <optional>
#include <string>
#include <vector>

namespace kvt::headless {

// A command of the unattended run: the button of the main window it clicks.
enum class Comando { NuovoInvio, Riprendi, TestLinea, InvioSingolo, Opzioni, Verifica };

struct RigaDiComando {
    enum class Azione {
        Finestre,       // no unattended option: the login window
        NonPresidiato,  // log in and click the commands
        Aiuto,
        Versione,
    };
    Azione azione = Azione::Finestre;
    std::optional<std::string> cartellaProgramma;
    std::optional<std::string> utente;
    std::optional<std::string> filePassword;
    bool debug = false;
    std::vector<Comando> comandi;
};

// Raises std::invalid_argument with an Italian reason for a command line
// that cannot be run.
RigaDiComando analizzaRigaDiComando(const std::vector<std::string>& argomenti);

// The option that clicks the command ("--nuovo-invio", ...).
const char* nomeOpzione(Comando comando);

// The text of --help.
std::string testoAiuto();

}  // namespace kvt::headless
