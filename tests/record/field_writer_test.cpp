// The field writer: kinds, lengths, mandatory fields and the texts it leaves.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/workstation.h"
#include "host/tvellopat.h"
#include "record/record_fixture.h"
#include "record/tld_crea_nodo.h"

namespace kvt {
namespace {

workstation::Formats conSeparatore(std::string separatore) {
    workstation::Formats formats;
    formats.decimalSeparator = std::move(separatore);
    return formats;
}

// A builder on an adapter without a host: every host read is empty and
// silent, which is all the field writer needs.
class FieldWriterTest : public ::testing::Test {
  protected:
    std::string campo(std::string_view valore, std::string_view tipo, int lunghezza = 0,
                      std::string_view elemento = "trxCampo") {
        return builder.controllaCampo(elemento, valore, tipo, lunghezza);
    }

    workstation::ScopedFormats virgola{conSeparatore(",")};
    Tvellopat host;
    TldCreaNodo builder{2, host};
};

TEST_F(FieldWriterTest, AnIsTrimmedAndCutToItsLengthInCharacters) {
    EXPECT_EQ(campo("ABCDEFGHIJ", "AN", 8), "ABCDEFGH");
    EXPECT_EQ(campo("  ABC  ", "AN", 8), "ABC");
    EXPECT_EQ(campo("\t\r\nABC\x01", "AN", 8), "ABC");
    EXPECT_EQ(campo("ABCDEFGH", "AN", 8), "ABCDEFGH");
    // Accented letters count as one character each and are never split.
    EXPECT_EQ(campo("\xC3\xA0\xC3\xA8\xC3\xAC\xC3\xB2", "AN", 3), "\xC3\xA0\xC3\xA8\xC3\xAC");
    EXPECT_EQ(campo("\xC3\xA0\xC3\xA8\xC3\xAC", "AN", 3), "\xC3\xA0\xC3\xA8\xC3\xAC");
    EXPECT_TRUE(builder.testoErrori.empty());
}

TEST_F(FieldWriterTest, AnfIsWrittenWholeWhateverItsLength) {
    EXPECT_EQ(campo("89.7", "ANF", 7), "89.7");
    EXPECT_EQ(campo("ABCDEFGHIJKLMNOP", "ANF", 3), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(campo(" 301 ", "ANF", 3), "301");
    EXPECT_TRUE(builder.testoErrori.empty());
}

TEST_F(FieldWriterTest, DateTurnsYearFirstIntoDayFirstAndDropsTheTime) {
    EXPECT_EQ(campo("2009-03-15", "DATE", 8), "15/03/2009");
    EXPECT_EQ(campo("2009-03-15 10:20:30", "DATE", 8), "15/03/2009");
    EXPECT_EQ(campo("2009/03/15", "DATE", 8), "15/03/2009");
    EXPECT_EQ(campo("2009", "DATE", 8), "//2009");
    EXPECT_EQ(campo("2009-03", "DATE", 8), "/03/2009");
    EXPECT_EQ(campo("", "DATE", 8), "");
}

TEST_F(FieldWriterTest, BooleanTextsGiveSOrN) {
    for (const char* vero : {"true", "TRUE", "t", "T", "1", " True "}) {
        EXPECT_EQ(campo(vero, "B", 1), "S") << vero;
    }
    for (const char* falso : {"false", "f", "F", "0", "no", "2", "S", "si"}) {
        EXPECT_EQ(campo(falso, "B", 1), "N") << falso;
    }
    EXPECT_EQ(campo("", "B", 1), "");
    EXPECT_EQ(campo("   ", "B", 1), "");
}

TEST_F(FieldWriterTest, NumDropsSignAndFractionWithTheWorkstationSeparator) {
    EXPECT_EQ(campo("72,8", "NUM"), "72");
    EXPECT_EQ(campo("-3,9", "NUM"), "3");
    EXPECT_EQ(campo("178", "NUM"), "178");
    EXPECT_EQ(campo("0,4", "NUM"), "0");
    EXPECT_EQ(campo("72.8", "NUM"), "");  // not a number on a comma workstation
    EXPECT_EQ(campo("abc", "NUM"), "");
    EXPECT_EQ(campo("12abc", "NUM"), "");
    for (const char* nonNumero : {"nan", "INF", "-infinity", "1E400", "1.000,5", "0x1A"}) {
        EXPECT_EQ(campo(nonNumero, "NUM"), "") << nonNumero;
        EXPECT_EQ(campo(nonNumero, "DEC"), "") << nonNumero;
    }
    EXPECT_TRUE(builder.testoErrori.empty());
    EXPECT_TRUE(builder.testoAvvisi.empty());

    workstation::ScopedFormats punto(conSeparatore("."));
    EXPECT_EQ(campo("72.8", "NUM"), "72");
    EXPECT_EQ(campo("-3.9", "NUM"), "3");
    EXPECT_EQ(campo("72,8", "NUM"), "");
}

TEST_F(FieldWriterTest, DecKeepsFifteenSignificantDigitsWithoutTrailingZeros) {
    EXPECT_EQ(campo("12,50", "DEC"), "12,5");
    EXPECT_EQ(campo("-12,50", "DEC"), "12,5");
    EXPECT_EQ(campo("7", "DEC"), "7");
    EXPECT_EQ(campo("7,000", "DEC"), "7");
    EXPECT_EQ(campo("0", "DEC"), "0");
    EXPECT_EQ(campo("-0", "DEC"), "0");
    EXPECT_EQ(campo("0,1234567890123456789", "DEC"), "0,123456789012346");
    EXPECT_EQ(campo("12.5", "DEC"), "");

    workstation::ScopedFormats punto(conSeparatore("."));
    EXPECT_EQ(campo("12.50", "DEC"), "12.5");
    EXPECT_EQ(campo("12,50", "DEC"), "");
}

TEST_F(FieldWriterTest, DecUsesFixedNotationFromOneHundredThousandthToFifteenDigits) {
    EXPECT_EQ(campo("0,00001", "DEC"), "0,00001");
    EXPECT_EQ(campo("123456789012345", "DEC"), "123456789012345");
    EXPECT_EQ(campo("123456789012345,4", "DEC"), "123456789012345");

    // Outside that range: scientific notation, still with the workstation's
    // separator and never with the other one.
    for (const char* valore :
         {"0,000001", "0,0000012345", "1234567890123456", "100000000000000000000"}) {
        const std::string testo = campo(valore, "DEC");
        EXPECT_NE(testo.find_first_of("Ee"), std::string::npos) << valore << " -> " << testo;
        EXPECT_EQ(testo.find('.'), std::string::npos) << valore << " -> " << testo;
    }
    EXPECT_EQ(campo("0,0000012345", "DEC").substr(0, 6), "1,2345");
    EXPECT_EQ(campo("1234567890123456", "DEC").substr(0, 16), "1,23456789012346");
}

TEST_F(FieldWriterTest, EmptyMandatoryFieldsAddOneLineEachInOrder) {
    EXPECT_EQ(campo("   ", "OBL_ANF", 3, "trxCodAslAssistito"), "");
    EXPECT_EQ(campo("", "OBL_DATE", 8, "trxDataNascita"), "");
    EXPECT_EQ(campo("\t", "OBL_AN", 100, "trxCognome"), "");
    EXPECT_EQ(builder.testoErrori,
              "ERR_OBL: Campo obbligatorio vuoto: <trxCodAslAssistito>\r\n"
              "ERR_OBL: Campo obbligatorio vuoto: <trxDataNascita>\r\n"
              "ERR_OBL: Campo obbligatorio vuoto: <trxCognome>\r\n");
    EXPECT_TRUE(isErrore(builder.testoErrori));
}

TEST_F(FieldWriterTest, EmptyMandatoryResultsAreMissingNotErrors) {
    for (const char* elemento :
         {"trxDataEsecuzione", "trxDexRisultato", "trxEsito", "trxUnitaMisura"}) {
        EXPECT_EQ(campo(" ", "OBL_ANF", 10, elemento), "(mancante)") << elemento;
    }
    EXPECT_TRUE(builder.testoErrori.empty());
    // A filled mandatory field is converted by its base kind.
    EXPECT_EQ(campo("2009-03-15", "OBL_DATE", 8, "trxDataEsecuzione"), "15/03/2009");
    EXPECT_EQ(campo("ABCDEFGHIJ", "OBL_AN", 4, "trxDexRisultato"), "ABCD");
}

TEST_F(FieldWriterTest, OnlyAKindBeginningWithOblIsMandatory) {
    // The base kind is what follows "OBL_"; only a leading prefix makes the
    // field mandatory.
    EXPECT_EQ(campo("", "XOBL_AN", 3, "trxCampo"), "");
    EXPECT_TRUE(builder.testoErrori.empty());
    EXPECT_EQ(campo("ABCDEF", "XOBL_AN", 3, "trxCampo"), "ABC");
    // Kinds compare exactly: a lower-case kind is none of the base kinds.
    EXPECT_EQ(campo("2009-03-15", "date", 8), "2009-03-15");
    EXPECT_EQ(campo("", "obl_an", 8), "");
    EXPECT_TRUE(builder.testoErrori.empty());
}

TEST_F(FieldWriterTest, ControlCharactersBecomeBlanksExceptTabAndLineBreaks) {
    EXPECT_EQ(campo("riga uno\nriga\x0B"
                    "due\tfine",
                    "MEMO"),
              "riga uno\nriga due\tfine");
    EXPECT_EQ(campo("a\x01\x1F"
                    "b\r\nc",
                    "MEMO"),
              "a  b\r\nc");
    EXPECT_EQ(campo("x\x0C"
                    "y",
                    "AN", 10),
              "x y");
    EXPECT_EQ(campo("x\x0C"
                    "y",
                    "ANF", 3),
              "x y");
}

TEST_F(FieldWriterTest, BytesThatAreNotUtf8AreTakenAsLatin1) {
    // A host text in the old single-byte code page must not make the upload
    // file malformed.
    EXPECT_EQ(campo("caff\xE8", "MEMO"), "caff\xC3\xA8");
    EXPECT_EQ(campo("caff\xE8 lungo", "AN", 5), "caff\xC3\xA8");
}

TEST_F(FieldWriterTest, NonCharactersXmlCannotCarryBecomeBlanks) {
    // U+FFFE and U+FFFF are valid UTF-8 but no XML character; U+FFFD and
    // U+10FFFF around them are, and stay.
    EXPECT_EQ(campo("a\xEF\xBF\xBE"
                    "b\xEF\xBF\xBF"
                    "c\xEF\xBF\xBD"
                    "d\xF4\x8F\xBF\xBF",
                    "MEMO"),
              "a b c\xEF\xBF\xBD"
              "d\xF4\x8F\xBF\xBF");
    // Each counts as one character of an "AN" length.
    EXPECT_EQ(campo("\xEF\xBF\xBE\xEF\xBF\xBFxyz", "AN", 3), "  x");
}

TEST_F(FieldWriterTest, ValuesFailingTheirKindAreNotedAsWarnings) {
    campo("ABCDEFGHIJ", "AN", 8, "trxNome");
    campo("  89.7 ", "ANF", 7, "trxCodPrestazione");
    campo("yes", "OBL_B", 1, "trxContinuativo");
    // Values that pass, and empty ones, add nothing.
    campo("ABC", "AN", 8);
    campo("301", "ANF", 3);
    campo("true", "B", 1);
    campo("", "ANF", 3);
    campo("72,8", "NUM");
    // A date that is no year-month-day day is written as always, and only
    // listed: the warning text keeps its three kinds.
    campo("2009-03-15 10:20:30", "DATE", 8);
    campo("2024-02-29", "OBL_DATE", 8);
    campo("2009-02-30", "DATE", 8, "trxDataInizio");
    campo("15/03/2009", "OBL_DATE", 8, "trxDataNascita");
    EXPECT_EQ(builder.testoAvvisi,
              "\r\nNome:trxNome Valore:ABCDEFGHIJ Tipo:AN Atteso:8"
              "\r\nNome:trxCodPrestazione Valore:89.7 Tipo:ANF Atteso:7"
              "\r\nNome:trxContinuativo Valore:YES Tipo:B Atteso:1");
    EXPECT_TRUE(builder.testoErrori.empty());
    std::vector<std::string> avvisi;
    for (const AvvisoCampo& avviso : builder.avvisi) {
        avvisi.push_back(avviso.elemento + "=" + avviso.valore + ":" + avviso.tipo + "/" +
                         std::to_string(avviso.lunghezza));
    }
    EXPECT_THAT(avvisi,
                ::testing::ElementsAre("trxNome=ABCDEFGHIJ:AN/8", "trxCodPrestazione=89.7:ANF/7",
                                       "trxContinuativo=YES:B/1", "trxDataInizio=2009-02-30:DATE/8",
                                       "trxDataNascita=15/03/2009:DATE/8"));
}

TEST_F(FieldWriterTest, AWarningQuotesOnlyTheStartOfAHugeValue) {
    // 1 MB of two-byte characters in a field of 50: the field holds 50 of
    // them, the warning the first 200 and a mark that more followed.
    const std::string huge = [] {
        std::string testo;
        for (int i = 0; i < 512 * 1024; ++i) {
            testo += "\xC3\xA8";
        }
        return testo;
    }();
    std::string primi;
    for (int i = 0; i < 200; ++i) {
        primi += "\xC3\xA8";
    }
    EXPECT_EQ(campo(huge, "AN", 50, "trxFarmaco"), primi.substr(0, 100));
    EXPECT_EQ(builder.testoAvvisi, "\r\nNome:trxFarmaco Valore:" + primi + "... Tipo:AN Atteso:50");
    // A value of exactly 200 characters is quoted whole.
    builder.testoAvvisi.clear();
    campo(primi, "ANF", 7, "trxCodPrestazione");
    EXPECT_EQ(builder.testoAvvisi,
              "\r\nNome:trxCodPrestazione Valore:" + primi + " Tipo:ANF Atteso:7");
}

TEST_F(FieldWriterTest, CreaNodoMakesAnElementWithTheCheckedText) {
    XmlNode pieno = builder.creaNodo("trxDataNascita", "1980-01-31", "OBL_DATE", 8);
    EXPECT_EQ(pieno.xml(), "<trxDataNascita>31/01/1980</trxDataNascita>");
    XmlNode vuoto = builder.creaNodo("trxNote", "  ", "MEMO", 0);
    EXPECT_EQ(vuoto.xml(), "<trxNote/>");
    XmlNode speciali = builder.creaNodo("trxNote", "a<b & \"c\"", "MEMO", 0);
    EXPECT_EQ(speciali.text(), "a<b & \"c\"");
    XmlNode attributo = builder.creaNodoAttributo("trxRisultato", "dbID", " 3132 ");
    EXPECT_EQ(attributo.xml(), "<trxRisultato dbID=\" 3132 \"/>");
}

TEST_F(FieldWriterTest, ScriviCampiWritesTheTableInOrderAndLeavesOutFullRecordFields) {
    static constexpr Campo kTabella[] = {
        {"trxCodInterno", Fonte::Vuoto, "", "AN", 8, Condizione::NonInVariazioni},
        {"trxPrestazione", Fonte::Valore, "nome", "AN", 5},
        {"trxDataEsecuzione", Fonte::Valore, "data", "OBL_DATE", 8},
    };
    const LettoreCampo leggi = [](const Campo& campo) -> std::string {
        return campo.sorgente == "nome" ? "Emocromo" : "";
    };
    XmlNode pieno = builder.documento.createElement("trxVoce");
    builder.scriviCampi(pieno, kTabella, leggi);
    EXPECT_EQ(test::compatto(pieno.xml()),
              "<trxVoce><trxCodInterno/><trxPrestazione>Emocr</trxPrestazione>"
              "<trxDataEsecuzione>(mancante)</trxDataEsecuzione></trxVoce>");

    TldCreaNodo variazioni(1, host);
    XmlNode ridotto = variazioni.documento.createElement("trxVoce");
    variazioni.scriviCampi(ridotto, kTabella, leggi);
    EXPECT_EQ(test::compatto(ridotto.xml()),
              "<trxVoce><trxPrestazione>Emocr</trxPrestazione>"
              "<trxDataEsecuzione>(mancante)</trxDataEsecuzione></trxVoce>");
}

TEST_F(FieldWriterTest, ARowReaderRefusesAValueItWasNotGiven) {
    static constexpr Campo kTabella[] = {{"trxTipoAI", Fonte::Valore, "tipo", "ANF", 1}};
    XmlNode voce = builder.documento.createElement("trxVoce");
    EXPECT_THROW(builder.scriviCampi(voce, kTabella, builder.lettoreRiga("ds1")), std::logic_error);
    builder.scriviCampi(voce, kTabella, builder.lettoreRiga("ds1", {{"tipo", "I"}}));
    EXPECT_EQ(test::compatto(voce.xml()), "<trxVoce><trxTipoAI>I</trxTipoAI></trxVoce>");
}

TEST(DammiTipoPrescrizioneTest, TypeDecidesBeforeTariff) {
    EXPECT_EQ(TldCreaNodo::dammiTipoPrescrizione("l", "90.27.1"), "lab");
    EXPECT_EQ(TldCreaNodo::dammiTipoPrescrizione("00", "89.7"), "lab");
    EXPECT_EQ(TldCreaNodo::dammiTipoPrescrizione("_sg", ""), "lab");
    EXPECT_EQ(TldCreaNodo::dammiTipoPrescrizione("X", "89.7"), "spe");
    EXPECT_EQ(TldCreaNodo::dammiTipoPrescrizione("X", "89.01.2"), "spe");
    EXPECT_EQ(TldCreaNodo::dammiTipoPrescrizione("X", "87.03"), "str");
    EXPECT_EQ(TldCreaNodo::dammiTipoPrescrizione("", ""), "str");
}

TEST(DammiTipoPrescrizioneTest, ExcludedTypesAndTariffsAreNotExported) {
    for (const char* tipo : {"fam", "FAM", "_vd", "eo", "Ric"}) {
        EXPECT_EQ(TldCreaNodo::dammiTipoPrescrizione(tipo, "90.27.1"), "") << tipo;
        EXPECT_EQ(TldCreaNodo::dammiTipoPrescrizione(tipo, ""), "") << tipo;
    }
    for (const char* tariffa : {"VD_1946", "VD_1935", "VD_2609"}) {
        EXPECT_EQ(TldCreaNodo::dammiTipoPrescrizione("L", tariffa), "") << tariffa;
        EXPECT_EQ(TldCreaNodo::dammiTipoPrescrizione("X", tariffa), "") << tariffa;
    }
    EXPECT_EQ(TldCreaNodo::dammiTipoPrescrizione("X", "VD_1947"), "str");
    EXPECT_EQ(TldCreaNodo::dammiTipoPrescrizione("L", "vd_1946"), "lab");
}

TEST(IsErroreTest, OnlyALeadingUpperCaseErrCounts) {
    EXPECT_TRUE(isErrore("ERR_OBL: Campo obbligatorio vuoto: <"));
    EXPECT_TRUE(isErrore("ERR_"));
    EXPECT_FALSE(isErrore("err_obl: campo obbligatorio vuoto: <"));
    EXPECT_FALSE(isErrore("ERR"));
    EXPECT_FALSE(isErrore(""));
    EXPECT_FALSE(isErrore(" ERR_"));
}

TEST(AccodaNodoTest, AppendsOnlyASectionThatIsThere) {
    XmlDocument documento;
    XmlNode padre = documento.createElement("trxCartella");
    EXPECT_EQ(accodaNodo(padre, Sezione{}), padre);
    EXPECT_EQ(padre.xml(), "<trxCartella/>");
    XmlDocument altro;
    EXPECT_EQ(accodaNodo(padre, altro.createElement("trxStileVita")), padre);
    EXPECT_EQ(test::compatto(padre.xml()), "<trxCartella><trxStileVita/></trxCartella>");
}

}  // namespace
}  // namespace kvt
