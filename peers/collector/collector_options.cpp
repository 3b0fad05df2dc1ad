#include "collector/collector_options.h"

#include <charconv>
#include <stdexcept>

namespace kvt::collector {
namespace {

template <typename T>
T number(std::string_view text, T minimum, T maximum, std::string_view option) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        value < minimum || value > maximum) {
        throw std::invalid_argument(std::string(option) +
                                    ": numero non valido: " + std::string(text));
    }
    return value;
}

void parseListen(std::string_view text, ServeOptions& options) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) {
        throw std::invalid_argument("--listen: atteso INDIRIZZO:PORTA, per esempio 127.0.0.1:0");
    }
    options.host = std::string(text.substr(0, colon));
    if (options.host.size() > 2 && options.host.front() == '[' && options.host.back() == ']') {
        options.host = options.host.substr(1, options.host.size() - 2);
    }
    options.port = number<int>(text.substr(colon + 1), 0, 65535, "--listen");
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    bool listenGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::string value;
        bool inlineValue = false;
        if (option.starts_with("--")) {
            if (const std::size_t equals = option.find('='); equals != std::string::npos) {
                value = option.substr(equals + 1);
                option = option.substr(0, equals);
                inlineValue = true;
            }
        }
        const auto takeValue = [&]() -> std::string {
            if (inlineValue) {
                return value;
            }
            if (i + 1 >= args.size()) {
                throw std::invalid_argument(option + ": manca il valore");
            }
            return args[++i];
        };
        if (option == "--help" || option == "-h") {
            line.action = CommandLine::Action::Help;
            return line;
        }
        if (option == "--version") {
            line.action = CommandLine::Action::Version;
            return line;
        }
        if (option == "--listen") {
            parseListen(takeValue(), line.serve);
            listenGiven = true;
        } else if (option == "--store") {
            line.serve.store = takeValue();
        } else if (option == "--dtd") {
            line.serve.dtdFolder = takeValue();
        } else if (option == "--fault") {
            line.serve.faults.push_back(parseFault(takeValue()));
        } else if (option == "--cert") {
            line.serve.certFile = takeValue();
        } else if (option == "--key") {
            line.serve.keyFile = takeValue();
        } else if (option == "--token-file") {
            line.serve.tokenFile = takeValue();
        } else if (option == "--max-request") {
            line.serve.maxRequestBytes =
                number<std::size_t>(takeValue(), 1, std::size_t{1} << 30, "--max-request");
        } else if (option == "--journal") {
            line.serve.journalFile = takeValue();
        } else if (option == "--verbose") {
            line.serve.verbose = true;
        } else if (option == "--list") {
            line.action = CommandLine::Action::List;
            line.listFolder = takeValue();
        } else {
            throw std::invalid_argument("opzione sconosciuta: " + args[i]);
        }
    }
    if (line.action == CommandLine::Action::List) {
        return line;
    }
    if (!listenGiven || line.serve.store.empty()) {
        throw std::invalid_argument("servono --listen INDIRIZZO:PORTA e --store CARTELLA");
    }
    if (line.serve.certFile.empty() != line.serve.keyFile.empty()) {
        throw std::invalid_argument("--cert e --key vanno dati insieme");
    }
    return line;
}

std::string usage() {
    return "Uso: kvt-collector --listen 127.0.0.1:PORTA --store CARTELLA [opzioni]\n"
           "     kvt-collector --list CARTELLA\n"
           "Servizio di raccolta KVT di prova: GET /services/KVT, POST /services/KVT/requests.\n"
           "PORTA 0 sceglie una porta libera e la scrive sulla prima riga dell'uscita.\n"
           "  --dtd CARTELLA          dove si trova RichiestaCaricamento.dtd (kvt/dtd accanto\n"
           "                          al programma se non detto)\n"
           "  --cert FILE --key FILE  serve HTTPS con quel certificato e quella chiave (PEM)\n"
           "  --token-file FILE       ogni richiesta deve portare il token (prima riga di FILE)\n"
           "                          come Authorization: Bearer\n"
           "  --max-request BYTE      richieste piu' grandi hanno 413 (16 MiB se non detto)\n"
           "  --journal FILE          una riga per tracciato ricevuto in FILE: ricevuta,\n"
           "                          pseudonimo, codici, byte, archiviato, guasto\n"
           "  --verbose               una riga per richiesta sullo standard error\n"
           "  --list CARTELLA         mostra i tracciati archiviati (pseudonimo, ora, byte)\n" +
           std::string(faultUsage());
}

}  // namespace kvt::collector
