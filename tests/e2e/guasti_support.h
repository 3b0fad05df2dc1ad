#pragma once
// The frame of the fault runs: an unattended sending of a generated practice
// while something goes wrong, and one checker of what every run must leave
// behind whatever the fault: the program ended by itself, each patient is
// filed in at most one state, the printed counters agree with the working
// folders, and what was filed as accepted is what the collector stored.
#include <set>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace kvt::e2e {

// The upload files found in the working folders, by state (file names).
struct StatoCartelle {
    std::vector<std::string> inviati;   // kvt/xml/inviati/*_kvt.xml
    std::vector<std::string> noConn;    // kvt/xml/no_conn/*_kvt.xml
    std::vector<std::string> inAttesa;  // kvt/xml/*_kvt.xml (refused or failed exchange)
    std::vector<std::string> err;       // kvt/xml/*_kvt.xml.err, without ".err"
};

class Guasti : public E2e {
  protected:
    // Patients of the generated practice: a few dozen.
    static constexpr int kPazienti = 30;

    StatoCartelle cartelle() const;
    // The contents of the collector's store, one text per stored upload.
    std::multiset<std::string> archiviati() const;
    // The log from the last start of the program on.
    std::string ultimaSessione() const;
    // The host codes of the patients of the doctor's list, in its order.
    std::vector<std::string> elencoPazienti() const;

    // Runs vd_kvt --utente demo with one command ("--nuovo-invio" or
    // "--riprendi"), then checks what every run must leave (see verifica).
    Riepilogo invio(const std::string& comando);

    // What every run must leave behind, given the folders before it; `nuovo`
    // tells that the run started with a reset, so the folders hold only its
    // own outcomes. Returns the summary read from standard output.
    Riepilogo verifica(const Esito& esito, const StatoCartelle& prima, bool nuovo);

    // A new sending some of whose outcomes cannot be recorded: it must still
    // end with its summary, and with status 3 and the warning that says so.
    // Without the checks of `invio`, which take every outcome as recorded.
    Riepilogo invioConEsitiNonRegistrati();

    // After the fault is removed: every patient with data reached the
    // collector, as accepted now or as already sent before.
    void verificaTuttiArrivati(const Riepilogo& riepilogo);

    // Sets a value of the connector's settings in the registry file.
    void impostaConnettore(const std::string& riga);

    // The lines of the last session's log that begin with the text.
    int righeLog(const std::string& inizio) const;

    // Records the run's summary and folders in the test report.
    void registra(const std::string& comando, const Riepilogo& riepilogo);

    Esito ultimoEsito_;
    int registrati_ = 0;
};

}  // namespace kvt::e2e
