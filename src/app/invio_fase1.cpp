// The upload run and its first phase: walk the doctor's patients, decide for
// each from the working folders and the last-visit file what to do, build the
// upload file when one is needed, and keep the counters and labels.
#include <filesystem>
#include <string>
#include <thread>

#include "app/frm_main.h"
#include "app/working_files.h"
#include "common/clock.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/general_functions.h"
#include "common/paths.h"
#include "common/windowing.h"
#include "common/xml_document.h"
#include "host/tvellopat.h"
#include "record/tld_crea_nodo.h"

namespace kvt {
namespace {

constexpr const char* kSezioneVisite = "data_visita";
constexpr int kModalitaCompleta = 2;

// An identifier between apostrophes in an SQL text: an apostrophe inside it
// is doubled, so it stays part of the text.
std::string letteraleSql(const std::string& testo) {
    std::string raddoppiato;
    for (const char c : testo) {
        raddoppiato += c;
        if (c == '\'') {
            raddoppiato += '\'';
        }
    }
    return traApici(raddoppiato);
}

std::string nomeFile(const std::string& percorso) {
    return paths::toUtf8(paths::fromUtf8(percorso).filename());
}

}  // namespace

void TfrmMain::cmdInvioClick() {
    Comando comando(*this);
    if (!comando.avviato() || !comando.bloccaCartella()) {
        return;
    }
    eseguiInvio();
}

void TfrmMain::eseguiInvio() {
    Clessidra clessidra;
    contatori_ = {};
    esitiNonRegistrati_ = 0;
    erroreInvio_.clear();
    try {
        eseguiPazienti();
    } catch (const std::exception& errore) {
        chiudiConErrore(errore.what());
        return;
    } catch (...) {
        chiudiConErrore("errore sconosciuto");
        return;
    }

    lblFase.setCaption("---");
    lblPaz.setCaption("---");
    const std::string riepilogo = testoRiepilogo();
    esito_ = EsitoInvio::Completato;
    windowing().messageBox(riepilogo);
    const std::string riga(57, '-');
    suLog(riga);
    suLog(riepilogo);
    suLog(riga);
    if (esitiNonRegistrati_ > 0) {
        // The summary counts what the service said; that some of it could not
        // be recorded must not pass unseen, nor an unattended run for clean.
        const std::string avviso = "Attenzione: per " + std::to_string(esitiNonRegistrati_) +
                                   " pazienti l'esito non è stato registrato nelle cartelle di "
                                   "lavoro (dettagli nel log).";
        suLog(avviso);
        windowing().messageBox(avviso);
    }
}

void TfrmMain::chiudiConErrore(const std::string& testo) {
    // An error that ends the run (the last-visit file cannot be written, the
    // connector fails inside a call) reaches the operator as the program's
    // general error message: its own text, shown and logged. The summary is
    // not shown, since the run did not end.
    lblFase.setCaption("---");
    lblPaz.setCaption("---");
    erroreInvio_ = testo;
    esito_ = EsitoInvio::Interrotto;
    suLog("Invio interrotto - Errore: " + testo);
    windowing().messageBox(testo, "Vello KVT", MessageIcon::Error);
}

std::string TfrmMain::testoRiepilogo() const {
    return "Procedura terminata.\r\nInviati: " + std::to_string(contatori_.nInviati) +
           "\r\nGià inviati: " + std::to_string(contatori_.nGiaInviati) +
           "\r\nScartati dal server:" + std::to_string(contatori_.nScartati) +
           "\r\nErrore creazione:" + std::to_string(contatori_.nErroriCreazione) +
           "\r\nErrore connessione invio:" + std::to_string(contatori_.nErroriInvio);
}

Tvellopat& TfrmMain::hostAttivo() const {
    if (host_ == nullptr) {
        throw Error("Nessuna sessione con il programma di cartella clinica.");
    }
    return *host_;
}

void TfrmMain::eseguiPazienti() {
    if (!controlliIniziali()) {
        return;
    }
    rimuoviScrittureInterrotte();
    for (const std::string& riga :
         mettiDaParteFileDanneggiati(fileIni_, fileInvioInCorso_, cartellaXml())) {
        suLog(riga);
    }
    leggiInvioInterrotto();
    codiciDelGiro_.azzera();
    riapriHostPerso();
    Tvellopat& host = hostAttivo();
    const std::string medico = host.leggi_attributo("userid_utente");
    const int n = host.carica("codice_medico =" + medico + "|tipo_di_convenzione=S", "alfabetico");

    pBar.setRange(0, n);
    lblFase.setCaption("Fase 1 di 2: creazione tracciato");
    lblConteggio.setCaption("---");
    suLog("START - Pazienti totali: " + std::to_string(n) + " versione " + kVersione);

    for (int i = 1; i <= n; ++i) {
        try {
            elaboraPaziente(i, n);
        } catch (const HostPerso& errore) {
            throw HostPerso(testoHostPerso(errore, "Invio fermato", i, n) +
                            " Riaprire il programma di cartella clinica, poi \"Riprendi\".");
        }
    }
}

std::string TfrmMain::testoHostPerso(const HostPerso& errore, const std::string& fermato, int i,
                                     int n) {
    // The patient being read is neither skipped nor marked: the note of the
    // sending in progress stays as a kill leaves it, and the next resume
    // starts again from this patient.
    return std::string(errore.what()) + " " + fermato + " al paziente " + std::to_string(i) +
           " di " + std::to_string(n) +
           ": nessun paziente è stato scartato o registrato per questo motivo.";
}

void TfrmMain::riapriHostPerso() {
    // A host lost in an earlier run of this window may be back: the session is
    // opened again with the same user; if it cannot be, the run does not start.
    Tvellopat& host = hostAttivo();
    if (host.perso() && !host.start()) {
        throw HostPerso("Il programma di cartella clinica non è raggiungibile.");
    }
}

void TfrmMain::elaboraPaziente(int i, int n) {
    Tvellopat& host = hostAttivo();
    pBar.setPosition(i);
    const std::string cognome = host.leggi_attributo("cognome");
    const std::string nome = host.leggi_attributo("nome");
    lblPaz.setCaption(std::to_string(i) + " di " + std::to_string(n) + ": " +
                      testoVisibile(cognome + " " + nome));
    ridisegna();

    // Texts from the host reach the log shown visibly: a code or a name
    // holding a line break never forges a line of its own.
    const std::string codiceFiscale = host.leggi_attributo("codice_fiscale");
    const PercorsiPaziente percorsi = percorsiPaziente(codiceFiscale);
    suLog("paz:" + testoVisibile(codiceFiscale) + " " + lblPaz.caption() + " in " +
          testoVisibile(percorsi.fileXml));

    const std::string fase = "Fase 1: paz" + std::to_string(i);
    const StatoCartelle stato = statoNelGiro(codiceFiscale, percorsi, i, codiciDelGiro_);
    switch (stato) {
        case StatoCartelle::SenzaCodiceFiscale:
            suLog(fase + "  SCARTATO (non inviabile perchè privo di codice fiscale) " +
                  testoVisibile(percorsi.fileXml));
            ++contatori_.nScartati;
            break;
        case StatoCartelle::CodiceNonValido:
        case StatoCartelle::AltraGrafia:
            suLog(fase + "  SCARTATO (" + motivoScarto(stato, codiceFiscale, codiciDelGiro_) +
                  ") " + testoVisibile(codiceFiscale));
            ++contatori_.nScartati;
            break;
        case StatoCartelle::Inviato:
            suLog(fase + " INVIATO_PREC (già inviato )  " + percorsi.fileXml);
            completaInvioInterrotto(percorsi, codiceFiscale);
            ++contatori_.nGiaInviati;
            break;
        case StatoCartelle::ConErr:
            suLog(fase +
                  "  SCARTATO (già presente con .err. e non inviabile perchè dati obbligatori "
                  "mancanti) " +
                  percorsi.fileXml);
            ++contatori_.nScartati;
            break;
        case StatoCartelle::InvioInterrotto:
            suLog(fase + "  RIPRESO (invio precedente interrotto, tracciato da rifare) " +
                  percorsi.fileXml);
            cancellaFile(percorsi.fileXml);
            costruisciEInvia(i, n, percorsi, codiceFiscale);
            break;
        case StatoCartelle::Rifiutato:
            suLog(fase + "  SCARTATO (già tentato invio ma rifiutato dal server) " +
                  percorsi.fileXml);
            ++contatori_.nScartati;
            break;
        case StatoCartelle::Libero:
            costruisciEInvia(i, n, percorsi, codiceFiscale);
            break;
    }

    lblConteggio.setCaption("OK:" + std::to_string(contatori_.nInviati + contatori_.nGiaInviati) +
                            ", KO:" +
                            std::to_string(contatori_.nScartati + contatori_.nErroriCreazione +
                                           contatori_.nErroriInvio));
    host.skip();
    suLog("");

    ridisegna();
    windowing().processMessages();
    if (pausa_.count() > 0) {
        std::this_thread::sleep_for(pausa_);
    }
}

void TfrmMain::costruisciEInvia(int i, int n, const PercorsiPaziente& percorsi,
                                const std::string& codiceFiscale) {
    const std::string fase = "Fase 1: paz" + std::to_string(i);
    const DateTime ultimaVisita = dataUltimaVisita();
    const Ripresa ripresa = decidiRipresa(percorsi, codiceFiscale, ultimaVisita);
    if (ripresa == Ripresa::NonVisitato) {
        suLog(fase + " INVIATO_PREC ( già inviato. Non visitato/modificato )");
        ++contatori_.nGiaInviati;
        return;
    }

    const InvioInCorso inCorso = invioInCorso();
    inCorso.inizia(nomeFile(percorsi.fileXml), dataOraATesto(ultimaVisita));
    switch (ripresa) {
        case Ripresa::RecuperoNoConn:
            if (std::string motivo; !spostaFile(percorsi.fileNoConn, percorsi.fileXml, motivo)) {
                // Held by another program past the waits, say: the upload
                // stays where it is, still waiting, and the next run takes it up.
                suLog(fase + "  NOCONN non recuperato (" + motivo +
                      "), resta in attesa: " + percorsi.fileNoConn);
                ++contatori_.nErroriInvio;
                inCorso.termina();
                return;
            }
            suLog(fase + "  NOCONN (recupero xml precedente) " + percorsi.fileNoConn);
            break;
        case Ripresa::RicostruzioneNoConn:
            // Visited since the file was made: it no longer holds the record.
            // An empty one never held it.
            cancellaFile(percorsi.fileNoConn);
            creaTracciato(percorsi.fileXml);
            break;
        case Ripresa::Costruzione:
        case Ripresa::NonVisitato:
            creaTracciato(percorsi.fileXml);
            break;
    }

    if (!esisteFile(percorsi.fileXml)) {
        ++contatori_.nErroriCreazione;
        suLog("creaTracciato: ERRORE_CREAZIONE: file non trovato");
        inCorso.termina();
        return;
    }
    inviaPaziente(i, n, percorsi, codiceFiscale, ultimaVisita);
    inCorso.termina();
}

TfrmMain::StatoCartelle TfrmMain::statoNelGiro(const std::string& codiceFiscale,
                                               const PercorsiPaziente& percorsi, int i,
                                               CodiciDelGiro& giro) const {
    const StatoCartelle stato = statoCartelle(codiceFiscale, percorsi);
    if (stato != StatoCartelle::SenzaCodiceFiscale && stato != StatoCartelle::CodiceNonValido &&
        giro.altraGrafia(codiceFiscale, i)) {
        return StatoCartelle::AltraGrafia;
    }
    return stato;
}

std::string TfrmMain::motivoScarto(StatoCartelle stato, const std::string& codiceFiscale,
                                   const CodiciDelGiro& giro) {
    if (stato == StatoCartelle::AltraGrafia && giro.ultimaAltraGrafia()) {
        return "codice fiscale non valido: è quello del paz" +
               std::to_string(*giro.ultimaAltraGrafia()) + " scritto con maiuscole o spazi diversi";
    }
    return "codice fiscale non valido " + motivoCodiceNonValido(codiceFiscale).value_or("");
}

TfrmMain::StatoCartelle TfrmMain::statoCartelle(const std::string& codiceFiscale,
                                                const PercorsiPaziente& percorsi) const {
    // One blank-padded column gives a code of blanks: no code at all, never
    // a name, a key or a pseudonym shared by every such patient.
    if (codiceFiscaleAssente(codiceFiscale)) {
        return StatoCartelle::SenzaCodiceFiscale;
    }
    // The code names the patient's files and keys the last-visit file: one
    // that could name another place, a device, or break the file is never
    // used for anything.
    if (motivoCodiceNonValido(codiceFiscale)) {
        return StatoCartelle::CodiceNonValido;
    }
    if (esisteFile(percorsi.fileInviato)) {
        return StatoCartelle::Inviato;
    }
    if (esisteFile(percorsi.fileErr)) {
        return StatoCartelle::ConErr;
    }
    if (!esisteFile(percorsi.fileXml)) {
        return StatoCartelle::Libero;
    }
    // The run that built this file stopped before filing it (or the file's
    // content was lost with the power): it may never have reached the
    // service, so it is made and sent again.
    if (fileVuoto(percorsi.fileXml) ||
        (invioInterrotto_ && invioInterrotto_->di(nomeFile(percorsi.fileXml)))) {
        return StatoCartelle::InvioInterrotto;
    }
    return StatoCartelle::Rifiutato;
}

TfrmMain::Ripresa TfrmMain::decidiRipresa(const PercorsiPaziente& percorsi,
                                          const std::string& codiceFiscale,
                                          const DateTime& ultimaVisita) const {
    const std::optional<DateTime> inviata = ultimoInvioAccettato(codiceFiscale);
    if (inviata && !(ultimaVisita > *inviata)) {
        return Ripresa::NonVisitato;
    }
    if (!esisteFile(percorsi.fileNoConn)) {
        return Ripresa::Costruzione;
    }
    const std::optional<DateTime> scritto = dataFile(percorsi.fileNoConn);
    if (!scritto || ultimaVisita > *scritto || fileVuoto(percorsi.fileNoConn)) {
        return Ripresa::RicostruzioneNoConn;
    }
    return Ripresa::RecuperoNoConn;
}

std::optional<DateTime> TfrmMain::ultimoInvioAccettato(const std::string& codiceFiscale) const {
    const DataLetta inviata =
        testoADataOra(leggiIni(paths::fromUtf8(fileIni_), kSezioneVisite, codiceFiscale));
    if (!inviata.valida) {
        return std::nullopt;
    }
    return inviata.valore;
}

void TfrmMain::completaInvioInterrotto(const PercorsiPaziente& percorsi,
                                       const std::string& codiceFiscale) {
    // Accepted and filed, but the run stopped before storing the last visit
    // of that sending: store it now, or the patient would be sent again
    // after the next reset although not visited since.
    const std::optional<std::string> ultimaVisita =
        invioInterrotto_ ? invioInterrotto_->di(nomeFile(percorsi.fileXml)) : std::nullopt;
    if (!ultimaVisita || !testoADataOra(*ultimaVisita).valida) {
        return;
    }
    registraUltimaVisita(codiceFiscale, *ultimaVisita);
    invioInCorso().termina();
}

void TfrmMain::registraUltimaVisita(const std::string& codiceFiscale,
                                    const std::string& ultimaVisita) {
    // The upload is filed already: a last-visit file that cannot be written
    // now (held by another program, a full disk) costs this patient a new
    // sending after the next reset, never the rest of the run.
    try {
        scriviIni(paths::fromUtf8(fileIni_), kSezioneVisite, codiceFiscale, ultimaVisita);
    } catch (const std::exception& errore) {
        ++esitiNonRegistrati_;
        suLog("Data ultima visita non registrata per " + testoVisibile(codiceFiscale) + ": " +
              errore.what());
    }
}

void TfrmMain::rimuoviScrittureInterrotte() const {
    const std::string xml = cartellaXml();
    for (const std::string& cartella :
         {cartellaKvt_, xml, xml + "inviati", xml + "no_conn", xml + "risposte"}) {
        files::removeInterruptedWrites(paths::fromUtf8(cartella));
    }
}

std::string TfrmMain::creaIntestazione(const std::string& radice, const std::string& fileDtd) {
    return "<?xml version=" + traVirgolette("1.0") + " encoding=" + traVirgolette("UTF-8") +
           " standalone=" + traVirgolette("no") + "?>" + "<!DOCTYPE " + radice + " SYSTEM " +
           traVirgolette(fileDtd) + ">" + "<" + radice + " />";
}

XmlNode TfrmMain::creaElementoTesto(XmlDocument& documento, const std::string& nome,
                                    const std::string& testo) {
    XmlNode elemento = documento.createElement(nome);
    elemento.setText(testo);
    return elemento;
}

void TfrmMain::creaTracciato(const std::string& percorso) {
    try {
        XmlDocument documento;
        const Cartella cartella = costruisciTracciato(documento);

        // Saving replaces the file in one step: a later run never finds half
        // an upload file. A record lacking mandatory data goes straight to its
        // ".err" marker, so it is never found as an upload to send.
        if (isErrore(cartella.testoErrori)) {
            const std::string marcatore = percorso + ".err";
            documento.save(paths::fromUtf8(marcatore));
            suLog("Fase 1: creaTracciato: ERRORE_CREAZIONE: dettagli: " + cartella.testoErrori);
            if (chkDbg.checked()) {
                windowing().messageBox("Errore creazione tracciato: " + marcatore + "\r\n" +
                                       cartella.testoErrori);
            }
        } else {
            documento.save(paths::fromUtf8(percorso));
            suLog("Fase 1: creaTracciato: OK");
        }
        if (chkDbg.checked() && !cartella.testoAvvisi.empty()) {
            suLog("Fase 1: creaTracciato: AVVISI:" + cartella.testoAvvisi);
        }
    } catch (const HostPerso&) {
        // Read from a host that went away: nothing is saved, the run stops.
        throw;
    } catch (const std::exception& errore) {
        suLog(std::string("Fase 1: creaTracciato: KO - Errore:") + errore.what());
    }
}

Cartella TfrmMain::costruisciTracciato(XmlDocument& documento) {
    documento.setAsync(false);
    documento.setValidateOnParse(false);
    documento.setResolveExternals(false);
    if (!documento.loadXML(creaIntestazione("vekRichiesta", nomeFile(fileDtdRichiesta_)))) {
        throw Error(documento.parseError().reason);
    }
    XmlNode radice = documento.documentElement();
    radice.appendChild(creaElementoTesto(documento, "vekVersione", "KVT 1.1"));
    radice.appendChild(creaElementoTesto(documento, "vekTipoOperazione", "UPLO"));
    XmlNode pazienti = documento.createElement("vekPazienti");
    XmlNode paziente = documento.createElement("vekPaziente");
    Cartella cartella = creaCartella(documento, kModalitaCompleta, hostAttivo());
    paziente.appendChild(cartella.elemento);
    pazienti.appendChild(paziente);
    radice.appendChild(pazienti);
    return cartella;
}

std::string TfrmMain::queryUltimaVisita(const std::string& idPaziente) {
    // The time is that of the latest visit on the latest date, not the latest
    // time of any visit: a later visit on the same day must count as a change.
    return "SELECT (SELECT MAX (cv1.data_open) FROM cart_visite cv1 where "
           "cv1.codice=p.codice) AS data_mia, (SELECT MAX (cv2.ora) FROM cart_visite cv2 where "
           "cv2.codice=p.codice AND cv2.data_open=(SELECT MAX (cv3.data_open) FROM cart_visite "
           "cv3 where cv3.codice=p.codice)) AS ora_mia FROM pazienti p WHERE p.codice=" +
           letteraleSql(idPaziente);
}

std::optional<DateTime> TfrmMain::ultimaVisitaRegistrata() {
    Tvellopat& host = hostAttivo();
    const std::string id = host.leggi_attributo("id_paziente_vd");
    const DataLetta visita = testoADataOra(host.sql_dump_string("todo", queryUltimaVisita(id)));
    if (!visita.valida) {
        return std::nullopt;
    }
    return visita.valore;
}

DateTime TfrmMain::dataUltimaVisita() {
    if (const std::optional<DateTime> visita = ultimaVisitaRegistrata()) {
        return *visita;
    }
    return clock::now().addSeconds(-5);
}

std::optional<DateTime> TfrmMain::dataFile(const std::string& percorso) {
    return dataUltimaScrittura(percorso);
}

}  // namespace kvt
