// The main window's frame: its controls, what its creation prepares, the
// initial checks of a run, the log, and the commands that open the log or
// leave.
#include <gtest/gtest.h>

#include "app/frm_main.h"
#include "app/working_files.h"
#include "app_support.h"
#include "common/clock.h"
#include "common/workstation.h"

namespace kvt::test {
namespace {

const std::string kOra = " - 15/03/2009 10:30:05";

class RecordingObserver : public WindowObserver {
  public:
    void controlChanged(const Control& control) override {
        cambiati.push_back(control.name() + "=" + control.caption());
    }
    void captionChanged(const std::string& caption) override { titoli.push_back(caption); }
    void closeRequested() override { ++chiusure; }
    std::vector<std::string> cambiati;
    std::vector<std::string> titoli;
    int chiusure = 0;
};

class FinestraTest : public ::testing::Test {
  protected:
    std::unique_ptr<TfrmMain> crea(const std::string& programma = {}) {
        return std::make_unique<TfrmMain>(programma.empty() ? studio.programma() : programma,
                                          nullptr, &connettore);
    }
    std::vector<std::string> log() { return righeLog(studio.kvt() / "log.txt"); }

    FinestreDiProva finestre;
    Studio studio;
    ConnettoreDiProva connettore;
    workstation::ScopedFormats formati{{",", "dd/MM/yyyy", "HH:mm:ss"}};
    clock::FixedClock orologio{{2009, 3, 15, 10, 30, 5}};
};

TEST_F(FinestraTest, CreationMakesThePrivateWorkingFolderTheSettingsAndTheFirstLogLines) {
    const fs::path programma = studio.radice() / "altro" / "programma";
    fs::create_directories(programma);
    auto finestra = crea(programma.string());

    EXPECT_TRUE(fs::is_directory(programma / "kvt"));
    EXPECT_EQ(permessi(programma / "kvt"), 0700u);
    const std::string kvt = programma.string() + "/kvt/";
    EXPECT_EQ(finestra->cartellaProgramma(), programma.string() + "/");
    EXPECT_EQ(finestra->fileDtdRichiesta(), kvt + "dtd/RichiestaCaricamento.dtd");
    EXPECT_EQ(finestra->fileDtdRisposta(), kvt + "dtd/RispostaCaricamento.dtd");
    EXPECT_EQ(finestra->fileDtdSconosciuto(), kvt + "dtd/dtdUnknown.dtd");
    EXPECT_EQ(finestra->fileLog(), kvt + "log.txt");
    EXPECT_EQ(finestra->fileLogOld(), kvt + "log_old.txt");
    EXPECT_EQ(finestra->fileIni(), kvt + "update_new.ini");
    EXPECT_EQ(finestra->caption(), "Vello KVT v1.46");
    EXPECT_EQ(finestra->timeOut(), 90000);

    EXPECT_EQ(righeLog(programma / "kvt" / "log.txt"),
              (std::vector<std::string>{"FormCreate - vd_kvt versione 1.46" + kOra,
                                        "timeOut (msec) 90000" + kOra}));
    EXPECT_EQ(permessi(programma / "kvt" / "log.txt"), 0600u);
    EXPECT_EQ(connettore.configurazioni, 0);
}

TEST_F(FinestraTest, ControlsStartAsTheWindowShowsThem) {
    auto finestra = crea();
    struct Atteso {
        const Control& control;
        const char* caption;
        bool visible;
        int tabOrder;
    };
    const Atteso attesi[] = {
        {finestra->cmdNuovoInvio, "Nuovo Invio", true, 0},
        {finestra->cmdInvio, "Riprendi", true, 1},
        {finestra->cmdExit, "&Uscita", true, 2},
        {finestra->cmdLog, "Log", true, 3},
        {finestra->cmdConnessione, "Test Linea", true, 4},
        {finestra->chkDbg, "Debug", false, 5},
        {finestra->cmdConfig, "Opzioni", true, 6},
        {finestra->cmdInvioSingolo, "Invio Singolo", false, 7},
        {finestra->lblDescr, "Kappa Volta Trasmissioni", true, -1},
        {finestra->lblPaz, "---", true, -1},
        {finestra->lblFase, "---", true, -1},
        {finestra->lblConteggio, "---", true, -1},
    };
    for (const Atteso& atteso : attesi) {
        SCOPED_TRACE(atteso.control.name());
        EXPECT_EQ(atteso.control.caption(), atteso.caption);
        EXPECT_EQ(atteso.control.visible(), atteso.visible);
        EXPECT_EQ(atteso.control.tabOrder(), atteso.tabOrder);
    }
    EXPECT_TRUE(finestra->cmdNuovoInvio.style().bold);
    EXPECT_TRUE(finestra->cmdNuovoInvio.style().isDefault);
    EXPECT_FALSE(finestra->chkDbg.checked());
    EXPECT_TRUE(finestra->pBar.visible());
    EXPECT_EQ(finestra->controlli().size(), 14u);
}

TEST_F(FinestraTest, AViewIsToldOfEveryChangeAndOfTheClose) {
    auto finestra = crea();
    RecordingObserver vista;
    finestra->setObserver(&vista);
    finestra->lblFase.setCaption("Fase 1 di 2: creazione tracciato");
    finestra->lblFase.setCaption("Fase 1 di 2: creazione tracciato");
    finestra->chkDbg.setChecked(true);
    finestra->FormCreate();
    EXPECT_EQ(vista.cambiati, (std::vector<std::string>{"lblFase=Fase 1 di 2: creazione tracciato",
                                                        "chkDbg=Debug"}));
    EXPECT_EQ(vista.titoli, std::vector<std::string>{"Vello KVT v1.46"});

    finestra->cmdExitClick();
    EXPECT_TRUE(finestra->chiusa());
    EXPECT_EQ(vista.chiusure, 1);
    EXPECT_EQ(log().back(), "cmdExitClick" + kOra);
}

struct CasoReqTout {
    const char* valore;  // the registry line's value part; nullptr for no value
    int atteso;
};

class ReqToutTest : public FinestraTest, public ::testing::WithParamInterface<CasoReqTout> {};

TEST_P(ReqToutTest, TheTimeOutIsReadWithEveryFallbackTo90000) {
    std::vector<std::string> righe = {"\"LogFilename\"=\"lk.log\""};
    if (GetParam().valore) {
        righe.push_back(std::string("\"ReqTout\"=") + GetParam().valore);
    }
    studio.scriviRegistro(righe);
    auto finestra = crea();
    EXPECT_EQ(finestra->timeOut(), GetParam().atteso);
    EXPECT_EQ(log().back(), "timeOut (msec) " + std::to_string(GetParam().atteso) + kOra);
}

INSTANTIATE_TEST_SUITE_P(
    Valori, ReqToutTest,
    ::testing::Values(CasoReqTout{"dword:00007530", 90000},            // 30000
                      CasoReqTout{"dword:0001d4c0", 120000},           // 120000
                      CasoReqTout{"dword:00015f90", 90000},            // exactly 90000
                      CasoReqTout{"dword:ffffffff", 90000},            // -1 as Windows reads it
                      CasoReqTout{"\"120000\"", 120000},               // text
                      CasoReqTout{"\"95000\"", 95000},                 // text
                      CasoReqTout{"\"12000O\"", 90000},                // letters
                      CasoReqTout{"\"\"", 90000},                      // empty text
                      CasoReqTout{"\"99999999999\"", 90000},           // beyond 32 bits
                      CasoReqTout{"hex:31,32,30,30,30,30", 120000},    // binary "120000"
                      CasoReqTout{"hex(7):41,00,00,00,00,00", 90000},  // another type
                      CasoReqTout{nullptr, 90000}));

TEST_F(FinestraTest, WithoutLogFilenameTheConnectorOptionsOpenAtEveryCreation) {
    studio.scriviRegistro({});
    crea();
    crea();
    EXPECT_EQ(connettore.configurazioni, 2);

    studio.scriviRegistro({"\"LogFilename\"=\"\""});
    crea();
    EXPECT_EQ(connettore.configurazioni, 3);

    studio.scriviRegistro({"\"LogFilename\"=\"lk.log\""});
    crea();
    EXPECT_EQ(connettore.configurazioni, 3);
}

TEST_F(FinestraTest, LogLinesCarryTheWorkstationFormatsWithColonsAndBlankMessagesAsTheyAre) {
    auto finestra = crea();
    fs::remove(studio.kvt() / "log.txt");
    finestra->suLog("Fase 1: creaTracciato: OK");
    finestra->suLog("");
    finestra->suLog("   ");
    finestra->suLog(" \t ");
    {
        // A workstation whose time format uses dots still logs colons.
        workstation::ScopedFormats altri{{".", "yyyy-MM-dd", "H.mm.ss"}};
        clock::FixedClock mattina{{2009, 3, 5, 8, 4, 9}};
        finestra->suLog("riga con à è");
    }
    EXPECT_EQ(leggi(studio.kvt() / "log.txt"),
              "Fase 1: creaTracciato: OK - 15/03/2009 10:30:05\r\n"
              "\r\n"
              "   \r\n"
              " \t \r\n"
              "riga con à è - 2009-03-05 8:04:09\r\n");
    EXPECT_TRUE(finestre.messaggi.empty());
}

TEST_F(FinestraTest, ALogThatCannotBeWrittenIsShownAndTheCallerGoesOn) {
    auto finestra = crea();
    fs::remove(studio.kvt() / "log.txt");
    fs::create_directory(studio.kvt() / "log.txt");
    finestra->suLog("persa");
    ASSERT_EQ(finestre.messaggi.size(), 1u);
    EXPECT_EQ(finestre.messaggi[0].rfind("Eccezione in suLog\r\n", 0), 0u);
    EXPECT_GT(finestre.messaggi[0].size(), std::string("Eccezione in suLog\r\n").size());

    // Once the log can be written again, the next line starts it anew.
    fs::remove(studio.kvt() / "log.txt");
    finestra->suLog("di nuovo");
    EXPECT_EQ(log(), std::vector<std::string>{"di nuovo" + kOra});
}

TEST_F(FinestraTest, InitialChecksReportEachMissingDocumentTypeAndCreateNothing) {
    auto finestra = crea();
    fs::remove(studio.kvt() / "dtd" / "RichiestaCaricamento.dtd");
    fs::remove(studio.kvt() / "dtd" / "dtdUnknown.dtd");

    EXPECT_FALSE(finestra->controlliIniziali());

    EXPECT_EQ(finestra->lblFase.caption(), "Controlli iniziali...");
    const std::vector<std::string> righe = log();
    EXPECT_EQ(std::vector<std::string>(righe.end() - 3, righe.end()),
              (std::vector<std::string>{"cmdEstraiClick" + kOra, "NO RICHIESTA_UPLO_DTD" + kOra,
                                        "NO RISPOSTA_UNK_DTD" + kOra}));
    EXPECT_EQ(finestre.messaggi,
              (std::vector<std::string>{"...File non trovato: " + finestra->fileDtdRichiesta(),
                                        "...File non trovato: " + finestra->fileDtdSconosciuto()}));
    EXPECT_FALSE(fs::exists(studio.xml()));
}

TEST_F(FinestraTest, InitialChecksLookForPSHLibInTheProgramFolderEvenAfterAFailure) {
    auto finestra = crea();
    fs::remove(studio.kvt() / "dtd" / "RispostaCaricamento.dtd");
    fs::remove(fs::path(studio.programma()) / "PSHLib.so");

    EXPECT_FALSE(finestra->controlliIniziali());
    const std::vector<std::string> righe = log();
    EXPECT_EQ(std::vector<std::string>(righe.end() - 2, righe.end()),
              (std::vector<std::string>{"NO RISPOSTA_UPLO_DTD" + kOra, "NO PSHLib" + kOra}));
    EXPECT_EQ(finestre.messaggi.back(),
              "...File non trovato: " + studio.programma() + "/PSHLib.so");
    EXPECT_FALSE(fs::exists(studio.xml()));
}

TEST_F(FinestraTest, PassedChecksMakePrivateFoldersAndReplaceTheDocumentTypeCopies) {
    auto finestra = crea();
    fs::create_directories(studio.xml() / "risposte");
    scriviFileDiProva(studio.xml() / "risposte" / "dtdUnknown.dtd", "vecchia copia");

    EXPECT_TRUE(finestra->controlliIniziali());

    EXPECT_TRUE(finestre.messaggi.empty());
    for (const char* cartella : {"inviati", "no_conn"}) {
        EXPECT_EQ(permessi(studio.xml() / cartella), 0700u) << cartella;
    }
    const fs::path dtd = studio.kvt() / "dtd";
    EXPECT_EQ(leggi(studio.xml() / "RichiestaCaricamento.dtd"),
              leggi(dtd / "RichiestaCaricamento.dtd"));
    EXPECT_EQ(leggi(studio.xml() / "inviati" / "RichiestaCaricamento.dtd"),
              leggi(dtd / "RichiestaCaricamento.dtd"));
    EXPECT_EQ(leggi(studio.xml() / "risposte" / "RispostaCaricamento.dtd"),
              leggi(dtd / "RispostaCaricamento.dtd"));
    EXPECT_EQ(leggi(studio.xml() / "risposte" / "dtdUnknown.dtd"), leggi(dtd / "dtdUnknown.dtd"));
}

TEST_F(FinestraTest, TheLogOpensInTheDesktopViewer) {
    auto finestra = crea();
    finestra->cmdLogClick();
    EXPECT_EQ(finestre.documenti, std::vector<std::string>{finestra->fileLog()});
}

TEST(CodiceFiscaleTest, OneRuleForTheFileNameTheLastVisitKeyAndThePseudonym) {
    // Personal, temporary, lower-case and padded codes stay usable as they are.
    for (const char* buono :
         {"RSSMRA60E12H501Z", "rssmra60e12h501z", "12345678901", "RSSMRA60E12H501Z    ", "ABC DEF",
          "\xC3\x80.B", ".", "CONSOLE.1", "NULLA", "A;B", "A[1]"}) {
        EXPECT_FALSE(codiceFiscaleAssente(buono)) << buono;
        EXPECT_EQ(motivoCodiceNonValido(buono), std::nullopt) << buono;
    }
    for (const char* assente : {"", " ", "                ", "\t \t"}) {
        EXPECT_TRUE(codiceFiscaleAssente(assente)) << '"' << assente << '"';
    }
    const struct {
        std::string codice;
        const char* motivo;
    } cattivi[] = {
        {"../../etc/passwd", "come nome di file"},
        {"..", "come nome di file"},
        {"A..B", "come nome di file"},
        {"RSS/MRA", "come nome di file"},
        {"RSS\\MRA", "come nome di file"},
        {"C:X", "come nome di file"},
        {"A<B>|?*\"", "come nome di file"},
        {"A\tB", "come nome di file"},
        {"A\nB", "come nome di file"},
        {"A\x7f"
         "B",
         "come nome di file"},
        {"NUL.1", "come nome di file: è un nome di dispositivo di Windows"},
        {"con.x", "come nome di file: è un nome di dispositivo di Windows"},
        {"COM1 .txt", "come nome di file: è un nome di dispositivo di Windows"},
        {"LPT\xC2\xB9.A", "come nome di file: è un nome di dispositivo di Windows"},
        {"A=B", "come chiave del file delle visite"},
        {" ;RSS", "come chiave del file delle visite"},
        {"[RSS", "come chiave del file delle visite"},
        {std::string(kLunghezzaMassimaCodice + 1, 'A'), "come nome di file: oltre 64 caratteri"},
    };
    for (const auto& cattivo : cattivi) {
        EXPECT_EQ(motivoCodiceNonValido(cattivo.codice), cattivo.motivo) << cattivo.codice;
    }
    EXPECT_EQ(motivoCodiceNonValido(std::string(kLunghezzaMassimaCodice, 'A')), std::nullopt);

    // Spellings the last-visit file takes for one code are one patient's.
    CodiciDelGiro giro;
    EXPECT_EQ(giro.altraGrafia("RSSMRA60E12H501Z", 1), std::nullopt);
    EXPECT_EQ(giro.altraGrafia("RSSMRA60E12H501Z", 2), std::nullopt);
    EXPECT_EQ(giro.altraGrafia("rssmra60e12h501z", 3), 1);
    EXPECT_EQ(giro.altraGrafia(" RSSMRA60E12H501Z", 4), 1);
    EXPECT_EQ(giro.altraGrafia("VRDLGI70A01F205X", 5), std::nullopt);
}

}  // namespace
}  // namespace kvt::test
