#pragma once
// The sending in progress, kept in a small file beside the working folders.
// An upload file found in "kvt/xml" is normally one the service refused, and
// is passed over until a reset. But a run stopped between building a file and
// filing it (killed, power gone) leaves the same trace for an upload that was
// never answered: without a note of it, that patient would never be sent.
// The note names the upload file whose building and sending has begun; it is
// removed once the file is filed, so a file it still names at the next run
// was interrupted and is made and sent again (at least once: an upload the
// service accepted just before the stop reaches it twice).
#include <optional>
#include <string>

namespace kvt {

class InvioInCorso {
  public:
    explicit InvioInCorso(std::string file) : file_(std::move(file)) {}

    // Notes that the upload file of this name is being built and sent, with
    // the last-visit text that its acceptance stores. A note that cannot be
    // written is not an error: the run goes on as it would without it.
    void inizia(const std::string& nomeFile, const std::string& ultimaVisita) const;
    // The file noted was filed: nothing is in progress any more.
    void termina() const;
    // The note as it stands: the upload file named and its last-visit text.
    struct Nota {
        std::string nomeFile;
        std::string ultimaVisita;
        // The last-visit text when the note names this upload file.
        std::optional<std::string> di(const std::string& nome) const {
            return nome == nomeFile ? std::optional(ultimaVisita) : std::nullopt;
        }
    };
    std::optional<Nota> leggi() const;

  private:
    std::string file_;
};

}  // namespace kvt
