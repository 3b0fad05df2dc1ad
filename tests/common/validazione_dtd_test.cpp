// The DTD check behind the dry run's "Valido DTD" column, against the DTD
// installed beside the program and upload files as the program writes them;
// the same cases run on Linux (libxml2) and under Windows (MSXML).
#include "common/validazione_dtd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/test_support.h"

namespace kvt {
namespace {

const std::filesystem::path kSorgenti(KVT_SOURCE_DIR);

std::string dtdInstallata() {
    return (kSorgenti / "dist" / "kvt" / "dtd" / "RichiestaCaricamento.dtd").string();
}

std::string campione(const std::string& nome) {
    return test::readBytes(kSorgenti / "tests" / "dtd" / "samples" / (nome + ".xml"));
}

// The document with its DOCTYPE line replaced.
std::string conDoctype(std::string documento, const std::string& doctype) {
    const std::size_t inizio = documento.find("<!DOCTYPE");
    const std::size_t fine = documento.find('>', inizio);
    return documento.replace(inizio, fine + 1 - inizio, doctype);
}

// Not valid, with a reason the report can show in one cell, that starts
// with what kind of fault it is.
void attendiMotivoBreve(const ValidatoreDtd::Esito& esito, const std::string& caso,
                        const std::string& premessa = "non conforme alla DTD") {
    EXPECT_FALSE(esito.valido) << caso;
    EXPECT_EQ(esito.motivo.rfind(premessa, 0), 0u) << caso << ": " << esito.motivo;
    EXPECT_EQ(esito.motivo.find('\n'), std::string::npos) << caso << ": " << esito.motivo;
    const auto caratteri = std::count_if(esito.motivo.begin(), esito.motivo.end(),
                                         [](char c) { return (c & 0xC0) != 0x80; });
    EXPECT_LE(caratteri, 200) << caso << ": " << esito.motivo;
}

TEST(ValidazioneDtdTest, RecordsAreValidAndEachFaultIsReported) {
    const ValidatoreDtd validatore(dtdInstallata());
    ASSERT_TRUE(validatore.pronto()) << validatore.motivoDtd();

    for (const char* valido : {"mode2_rich", "mode0_rich", "mode1_changes"}) {
        const ValidatoreDtd::Esito esito = validatore.valida(campione(valido));
        EXPECT_TRUE(esito.valido) << valido << ": " << esito.motivo;
        EXPECT_EQ(esito.motivo, "") << valido;
    }

    // A required element missing, an element the DTD does not declare, an
    // attribute it does not declare, and a record cut short.
    for (const char* difettoso :
         {"invalid_missing_field", "invalid_unknown_element", "invalid_unknown_attribute"}) {
        attendiMotivoBreve(validatore.valida(campione(difettoso)), difettoso);
    }
    const std::string ricco = campione("mode2_rich");
    attendiMotivoBreve(validatore.valida(ricco.substr(0, ricco.size() / 2)), "troncato",
                       "XML non ben formato");
    attendiMotivoBreve(validatore.valida(""), "vuoto");
    // Validity needs a DOCTYPE, and its root: the DTD alone does not say which
    // element is the document's.
    std::string senzaDoctype = conDoctype(ricco, "");
    attendiMotivoBreve(validatore.valida(senzaDoctype), "senza DOCTYPE");
    attendiMotivoBreve(validatore.valida("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                         "<!DOCTYPE trxSesso SYSTEM \"RichiestaCaricamento.dtd\">\n"
                                         "<vekVersione>KVT 1.1</vekVersione>\n"),
                       "radice diversa dal DOCTYPE");

#ifndef _WIN32
    // The reason names the fault: a long record's first problem, shortened.
    // (MSXML under Wine gives only an error code.)
    const ValidatoreDtd::Esito mancante = validatore.valida(campione("invalid_missing_field"));
    EXPECT_NE(mancante.motivo.find("trxAnagrafica"), std::string::npos) << mancante.motivo;
    const ValidatoreDtd::Esito ignoto = validatore.valida(campione("invalid_unknown_element"));
    EXPECT_NE(ignoto.motivo.find("got (trxCodInterno"), std::string::npos) << ignoto.motivo;
#endif
}

TEST(ValidazioneDtdTest, AnUnreadableDtdMakesEveryDocumentInvalid) {
    test::TempFolder cartella;
    test::writeBytes(cartella / "rotta.dtd", "<!ELEMENT vekRichiesta (vekVersione>\n");
    for (const std::string& file :
         {(cartella / "assente.dtd").string(), (cartella / "rotta.dtd").string()}) {
        const ValidatoreDtd validatore(file);
        EXPECT_FALSE(validatore.pronto()) << file;
        EXPECT_FALSE(validatore.motivoDtd().empty()) << file;
        const ValidatoreDtd::Esito esito = validatore.valida(campione("mode2_minimal"));
        EXPECT_FALSE(esito.valido) << file;
        EXPECT_EQ(esito.motivo, validatore.motivoDtd());
    }
}

// The DTD the DOCTYPE names is never read, nor is an entity of the document:
// what they would bring in would change the verdict or show in the reason.
TEST(ValidazioneDtdTest, NothingTheDocumentNamesIsFetched) {
    test::TempFolder cartella;
    const auto url = [&](const std::string& nome) {
        return "file:///" + (cartella / nome).generic_string();
    };
    // A DTD by which no record is valid, and a text that is no record's.
    test::writeBytes(cartella / "vuota.dtd", "<!ELEMENT vekRichiesta EMPTY>\n");
    test::writeBytes(cartella / "segreto.txt", "SEGRETO-4711");
    const ValidatoreDtd validatore(dtdInstallata());
    ASSERT_TRUE(validatore.pronto()) << validatore.motivoDtd();
    const std::string record = campione("mode2_minimal");

    for (const std::string& sistema : {std::string("http://127.0.0.1:9/x.dtd"), url("vuota.dtd")}) {
        const ValidatoreDtd::Esito esito = validatore.valida(
            conDoctype(record, "<!DOCTYPE vekRichiesta SYSTEM \"" + sistema + "\">"));
        EXPECT_TRUE(esito.valido) << sistema << ": " << esito.motivo;
    }
    const std::string conEntita = conDoctype(
        record,
        "<!DOCTYPE vekRichiesta SYSTEM \"RichiestaCaricamento.dtd\" [\n<!ENTITY s SYSTEM \"" +
            url("segreto.txt") + "\">\n<!ENTITY p SYSTEM \"file:///etc/passwd\">\n]>");
    std::string conRiferimenti = conEntita;
    const std::size_t nota = conRiferimenti.find("<trxNote/>");
    ASSERT_NE(nota, std::string::npos);
    conRiferimenti.replace(nota, 10, "<trxNote>&s;&p;</trxNote>");
    for (const std::string& documento : {conEntita, conRiferimenti}) {
        const ValidatoreDtd::Esito esito = validatore.valida(documento);
        attendiMotivoBreve(esito, "entità esterne");
        EXPECT_EQ(esito.motivo.find("SEGRETO"), std::string::npos) << esito.motivo;
        EXPECT_EQ(esito.motivo.find("root:"), std::string::npos) << esito.motivo;
    }
}

// One validator serves several threads at once (each with its own documents).
TEST(ValidazioneDtdTest, OneValidatorChecksOnSeveralThreads) {
    const ValidatoreDtd validatore(dtdInstallata());
    ASSERT_TRUE(validatore.pronto()) << validatore.motivoDtd();
    const std::string valido = campione("mode2_rich");
    const std::string difettoso = campione("invalid_missing_field");
    std::vector<int> errati(4, 0);
    std::vector<std::thread> fili;
    for (std::size_t i = 0; i < errati.size(); ++i) {
        fili.emplace_back([&, i] {
            for (int volta = 0; volta < 5; ++volta) {
                errati[i] += validatore.valida(valido).valido ? 0 : 1;
                errati[i] += validatore.valida(difettoso).valido ? 1 : 0;
            }
        });
    }
    for (std::thread& filo : fili) {
        filo.join();
    }
    EXPECT_EQ(errati, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace kvt
