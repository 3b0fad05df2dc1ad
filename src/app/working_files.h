#pragma once
// The working files below "kvt" hold patient data (names and fiscal codes in
// the log, uploads, answers, the last-visit file). What the run needs of the
// file system beyond the standard library sits here, one file per platform:
// folders and files created readable by their owner only, files written
// under a temporary name and renamed into place (the common helpers' saves
// do that), appends that open and close the file each time, and the lock that
// keeps two runs off one folder.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/date_time.h"

namespace kvt {

// Creates the folder with its missing parents, each one it creates readable
// by its owner only; true when the folder exists afterwards. Never raises.
bool creaCartellaPrivata(const std::string& cartella);

// Why the working folder cannot be trusted with patient data; nothing when it
// can. On POSIX a folder owned by another user, or that others may write in
// (and so replace a file of ours by a link), is refused; on Windows the
// folder's access list is the program's own from its creation.
std::optional<std::string> cartellaNonSicura(const std::string& cartella);

// Appends the bytes to the file, creating it readable by its owner only;
// opened and closed for this one write, never through a symbolic link. Raises std::system_error
// (with the system's text) when the file cannot be opened or written.
void accodaAFile(const std::string& file, std::string_view testo);

// True when a file (not a folder) exists at the path.
bool esisteFile(const std::string& file);
// True when the file exists and holds nothing: no upload is ever empty, so
// such a file is what a power cut left of one whose content never reached
// the disk.
bool fileVuoto(const std::string& file);
// Removes the file if it exists; true when it is gone afterwards.
bool cancellaFile(const std::string& file);
// Moves the file by renaming it within its file system, replacing `a` in one
// step, durably, riding out another program's brief hold on Windows; true
// when done.
bool spostaFile(const std::string& da, const std::string& a);
// The same, with the system's reason when it fails.
bool spostaFile(const std::string& da, const std::string& a, std::string& motivo);

// True when the file holds a zero byte, as a power cut can leave one: none of
// the working files (uploads, answers, the last-visit file, the note) ever
// does, so its content is not to be trusted.
bool fileDanneggiato(const std::string& file);
// Renames a damaged file aside (its name + kSuffissoDanneggiato), kept for
// whoever looks into it; the new name, or nothing with the system's reason.
std::optional<std::string> mettiDaParte(const std::string& file, std::string& motivo);
inline constexpr const char* kSuffissoDanneggiato = ".danneggiato";

// Before a run reads its state: sets aside the damaged last-visit file, the
// damaged note of the sending in progress and every damaged upload waiting in
// the upload folder or in its "no_conn" (a damaged upload is never sent: the
// patient's file is built again). Gives one log line for each file found.
std::vector<std::string> mettiDaParteFileDanneggiati(const std::string& fileUltimeVisite,
                                                     const std::string& fileInvioInCorso,
                                                     const std::string& cartellaTracciati);

// The file's last-write time as a local date and time, at the two-second
// precision of the date stamps the program has always compared with;
// nothing when the file cannot be read.
std::optional<DateTime> dataUltimaScrittura(const std::string& file);

// An exclusive lock on a folder, held by one upload run at a time across
// processes: a lock file inside the folder, locked while this object lives.
// The lock goes with the process, also when it is killed.
class BloccoCartella {
  public:
    enum class Esito {
        Preso,
        // Another holder (this process or another) has the lock.
        Occupato,
        // The lock file cannot be made (folder missing or not writable).
        Impossibile
    };
    // Tries once, without waiting; `blocco` holds the lock when Preso, and
    // `motivo` (when given) the system's reason when Impossibile. The lock
    // file is never opened through a symbolic link.
    static Esito prendi(const std::string& cartella, std::unique_ptr<BloccoCartella>& blocco,
                        std::string* motivo = nullptr);
    ~BloccoCartella();
    BloccoCartella(const BloccoCartella&) = delete;
    BloccoCartella& operator=(const BloccoCartella&) = delete;

  private:
    // The platform's handle of the open lock file (a descriptor on POSIX).
    explicit BloccoCartella(std::intptr_t descrittore) : descrittore_(descrittore) {}
    std::intptr_t descrittore_;
};

// The name of the lock file inside the locked folder.
inline constexpr const char* kFileBlocco = "vd_kvt.lock";

}  // namespace kvt
