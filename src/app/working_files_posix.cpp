// Working files on POSIX: modes 0700/0600 for what the program creates,
// O_APPEND writes for the log, flock for the folder lock.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "app/working_files.h"
#include "common/clock.h"

namespace kvt {
namespace fs = std::filesystem;

bool creaCartellaPrivata(const std::string& cartella) {
    std::error_code errore;
    if (fs::is_directory(cartella, errore)) {
        return true;
    }
    // Parents first, each created with mode 0700 (an existing one is left as
    // it is).
    const fs::path percorso = fs::path(cartella).lexically_normal();
    fs::path parziale;
    for (const fs::path& parte : percorso) {
        parziale /= parte;
        if (parte.empty() || parziale == percorso.root_path()) {
            continue;
        }
        if (::mkdir(parziale.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return fs::is_directory(cartella, errore);
}

void accodaAFile(const std::string& file, std::string_view testo) {
    const int descrittore = ::open(
        file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, 0600);
    if (descrittore < 0) {
        throw std::system_error(errno, std::generic_category());
    }
    // The end before this write: a write cut short (disk full, file size
    // limit) is taken back, so that the file never ends in half a line.
    struct stat prima {};
    const bool misurato = ::fstat(descrittore, &prima) == 0;
    std::size_t scritti = 0;
    while (scritti < testo.size()) {
        const ssize_t n = ::write(descrittore, testo.data() + scritti, testo.size() - scritti);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int codice = errno;
            if (scritti > 0 && misurato) {
                [[maybe_unused]] const int ignorato = ::ftruncate(descrittore, prima.st_size);
            }
            ::close(descrittore);
            throw std::system_error(codice, std::generic_category());
        }
        scritti += static_cast<std::size_t>(n);
    }
    if (::close(descrittore) != 0 && errno != EINTR) {
        throw std::system_error(errno, std::generic_category());
    }
}

std::optional<DateTime> dataUltimaScrittura(const std::string& file) {
    struct stat stato {};
    if (::stat(file.c_str(), &stato) != 0) {
        return std::nullopt;
    }
    DateTime data = clock::fromTimeT(stato.st_mtime);
    // The date stamps the program compared with count seconds in steps of
    // two; a later comparison with a visit time keeps that rounding down.
    data.second -= data.second % 2;
    return data;
}

std::optional<std::string> cartellaNonSicura(const std::string& cartella) {
    struct stat stato {};
    if (::stat(cartella.c_str(), &stato) != 0) {
        return std::nullopt;  // not there yet: made by the program, 0700
    }
    if (stato.st_uid != ::geteuid()) {
        return "la cartella " + cartella + " appartiene a un altro utente";
    }
    if ((stato.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return "la cartella " + cartella + " è scrivibile da altri utenti (chmod 700)";
    }
    return std::nullopt;
}

BloccoCartella::Esito BloccoCartella::prendi(const std::string& cartella,
                                             std::unique_ptr<BloccoCartella>& blocco,
                                             std::string* motivo) {
    blocco.reset();
    const auto impossibile = [motivo](int codice) {
        if (motivo) {
            *motivo = std::generic_category().message(codice);
        }
        return Esito::Impossibile;
    };
    const std::string percorso = (fs::path(cartella) / kFileBlocco).native();
    const int descrittore =
        ::open(percorso.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, 0600);
    if (descrittore < 0) {
        return impossibile(errno);
    }
    while (::flock(descrittore, LOCK_EX | LOCK_NB) != 0) {
        const int codice = errno;
        if (codice == EINTR) {
            continue;
        }
        ::close(descrittore);
        return codice == EWOULDBLOCK ? Esito::Occupato : impossibile(codice);
    }
    blocco.reset(new BloccoCartella(descrittore));
    return Esito::Preso;
}

BloccoCartella::~BloccoCartella() {
    // Closing the descriptor releases the lock; the file stays, so that a
    // waiting process never locks a file that is being removed.
    ::close(static_cast<int>(descrittore_));
}

}  // namespace kvt
