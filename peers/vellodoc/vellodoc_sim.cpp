// vellodoc-sim: writes a synthetic general practice for the host stand-in.
//
//   vellodoc-sim generate --patients N --years Y --seed S
//                [--doctor CODE] [--user NAME] [--password PW | --password-file FILE]
//                [--until YYYY-MM-DD] OUT.sqlite
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/errors.h"
#include "peers/vellodoc/generator.h"

namespace {

constexpr int kUsageError = 2;

void printUsage(std::ostream& out) {
    out << "Uso: vellodoc-sim generate --patients N --years Y --seed S [opzioni] OUT.sqlite\n"
           "\n"
           "Scrive in OUT.sqlite una pratica di medicina generale sintetica per il server\n"
           "Vellodoc di prova; lo stesso seme dà sempre la stessa pratica.\n"
           "\n"
           "  --patients N          numero di pazienti\n"
           "  --years Y             anni di storia clinica\n"
           "  --seed S              seme (numero intero)\n"
           "  --doctor CODE         codice del medico (predefinito "
        << kvt::vellodoc::kDefaultDoctorCode
        << ")\n"
           "  --user NAME           utente dell'archivio (predefinito "
        << kvt::vellodoc::kDefaultUser
        << ")\n"
           "  --password PW         password dell'utente (predefinita "
        << kvt::vellodoc::kDefaultPassword
        << ")\n"
           "  --password-file FILE  la password dalla prima riga del file\n"
           "  --until AAAA-MM-GG    ultimo giorno della storia (predefinito "
        << kvt::vellodoc::kDefaultUntil
        << ")\n"
           "\n"
           "Un file esistente viene sostituito solo se scritto da vellodoc-sim.\n";
}

std::optional<std::uint64_t> parseNumber(std::string_view text) {
    if (text.empty() || text.size() > 19) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

int usageError(const std::string& message) {
    std::cerr << "vellodoc-sim: " << message << "\n"
              << "Provare 'vellodoc-sim --help'.\n";
    return kUsageError;
}

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw kvt::Error("Impossibile leggere il file della password: " + path);
    }
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

std::string secondsText(double seconds) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", seconds);
    std::string text = buf;
    for (char& c : text) {
        if (c == '.') {
            c = ',';
        }
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        printUsage(std::cerr);
        return kUsageError;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        printUsage(std::cout);
        return 0;
    }
    if (args[0] != "generate") {
        return usageError("comando sconosciuto: " + args[0]);
    }

    kvt::vellodoc::GeneratorOptions options;
    std::optional<std::uint64_t> patients, years, seed;
    std::optional<std::string> passwordFile;
    std::string out;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            printUsage(std::cout);
            return 0;
        }
        if (arg.rfind("--", 0) != 0) {
            if (!out.empty()) {
                return usageError("un solo file di uscita: " + arg);
            }
            out = arg;
            continue;
        }
        if (i + 1 >= args.size()) {
            return usageError("manca il valore di " + arg);
        }
        const std::string& value = args[++i];
        if (arg == "--patients") {
            patients = parseNumber(value);
        } else if (arg == "--years") {
            years = parseNumber(value);
        } else if (arg == "--seed") {
            seed = parseNumber(value);
            if (!seed) {
                return usageError("seme non valido: " + value);
            }
        } else if (arg == "--doctor") {
            options.doctorCode = value;
        } else if (arg == "--user") {
            options.user = value;
        } else if (arg == "--password") {
            options.password = value;
        } else if (arg == "--password-file") {
            passwordFile = value;
        } else if (arg == "--until") {
            options.until = value;
        } else {
            return usageError("opzione sconosciuta: " + arg);
        }
    }
    if (!patients || !years || !seed) {
        return usageError("servono --patients, --years e --seed (numeri interi)");
    }
    if (out.empty()) {
        return usageError("manca il file di uscita");
    }
    if (*patients < 1 || *patients > 1000000 || *years < 1 || *years > 50) {
        return usageError("da 1 a 1000000 pazienti e da 1 a 50 anni");
    }
    options.patients = static_cast<int>(*patients);
    options.years = static_cast<int>(*years);
    options.seed = *seed;

    try {
        if (passwordFile) {
            options.password = firstLine(*passwordFile);
        }
        const auto started = std::chrono::steady_clock::now();
        const auto summary = kvt::vellodoc::generatePractice(options, out);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
        std::cout << "vellodoc-sim: " << summary.patients << " pazienti (" << summary.doctorPatients
                  << " del medico " << options.doctorCode << " in convenzione, "
                  << summary.awkwardPatients << " casi particolari, " << summary.changeDocuments
                  << " documenti di variazione), " << options.years << " anni fino al "
                  << options.until << ", " << summary.visits << " visite, " << summary.datasetRows
                  << " righe di dati, seme " << options.seed << ", " << secondsText(elapsed.count())
                  << " s: " << out << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "vellodoc-sim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
