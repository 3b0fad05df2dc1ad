#include "common/general_functions.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <regex>
#include <set>

#include "common/clock.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/workstation.h"
#include "test_support.h"

namespace kvt {
namespace {

const DateTime kNow{2024, 6, 7, 8, 9, 10};

DateTime at(int y, int mo, int d, int h = 0, int mi = 0) {
    return {y, mo, d, h, mi, 0};
}

// ---- dates ----

TEST(TestoADataTest, ReadsTheHostDateForm) {
    clock::FixedClock fixed(kNow);
    const DataLetta quoted = testoAData("\"2021-03-05\"");
    EXPECT_TRUE(quoted.valida);
    EXPECT_EQ(quoted.valore, at(2021, 3, 5));
    // Further characters (a time) are ignored.
    EXPECT_EQ(testoAData("2009-03-15 10:20:30").valore, at(2009, 3, 15));
    EXPECT_TRUE(testoAData("2000-02-29").valida);
    EXPECT_TRUE(testoAData("2024-02-29").valida);
    EXPECT_TRUE(testoAData("9999-12-31").valida);
    EXPECT_TRUE(testoAData("0001-01-01").valida);
}

TEST(TestoADataTest, InvalidDatesGiveNowAndAnInvalidFlag) {
    clock::FixedClock fixed(kNow);
    for (const char* text :
         {"2021-13-05", "2021-00-05", "2021-02-29", "1900-02-29", "2021-04-31", "2021-03-00",
          "0000-01-01", "abcd-03-05", "2021-0x-05", "2021-3-5", "2021", "", "\"\""}) {
        const DataLetta read = testoAData(text);
        EXPECT_FALSE(read.valida) << text;
        EXPECT_EQ(read.valore, kNow) << text;
    }
}

TEST(TestoADataOraTest, ReadsTheSettingsForm) {
    clock::FixedClock fixed(kNow);
    EXPECT_EQ(testoADataOra("2009-03-15\t10:30").valore, at(2009, 3, 15, 10, 30));
    EXPECT_TRUE(testoADataOra("2009-03-15\t10:30").valida);
    // Quotes anywhere are removed, as the host's query results carry them.
    EXPECT_EQ(testoADataOra("\"2009-03-15\"\t\"10:30:00\"").valore, at(2009, 3, 15, 10, 30));
    EXPECT_EQ(testoADataOra("2009-03-15\t00:00").valore, at(2009, 3, 15));
    EXPECT_EQ(testoADataOra("2009-03-15\t23:59").valore, at(2009, 3, 15, 23, 59));
    // 24:00 is midnight at the end of the day, across month and year ends.
    EXPECT_EQ(testoADataOra("2009-03-15\t24:00").valore, at(2009, 3, 16));
    EXPECT_EQ(testoADataOra("2009-12-31\t24:00").valore, at(2010, 1, 1));
    EXPECT_EQ(testoADataOra("2008-02-28\t24:00").valore, at(2008, 2, 29));
    EXPECT_TRUE(testoADataOra("2009-12-31\t24:00").valida);
}

TEST(TestoADataOraTest, UnreadableTextsGiveNow) {
    clock::FixedClock fixed(kNow);
    for (const char* text :
         {"2009-03-15 10:30", "2009-03-15", "", "2009-02-30\t10:00", "2009-13-01\t10:00",
          "2009-03-15\t24:01", "2009-03-15\t23:60", "2009-03-15\t25:00", "2009-03-15\t-1:00",
          "2009-03-15\tab:cd", "2009-03-15\t10", "2009-03-15\t", "\t10:30", "2009-03-15\t1:30",
          // The day after the calendar's last one does not exist.
          "9999-12-31\t24:00"}) {
        const DataLetta read = testoADataOra(text);
        EXPECT_FALSE(read.valida) << text;
        EXPECT_EQ(read.valore, kNow) << text;
    }
}

TEST(DataOraATestoTest, FormatsAndRoundTrips) {
    EXPECT_EQ(dataOraATesto({2021, 3, 5, 9, 7, 59}), "2021-03-05\t09:07");
    EXPECT_EQ(dataOraATesto({999, 1, 2, 0, 0, 0}), "999-01-02\t00:00");
    EXPECT_EQ(dataOraATesto({5, 1, 2, 3, 4, 0}), "05-01-02\t03:04");
    for (const DateTime& value :
         {DateTime{2009, 3, 15, 10, 30, 45}, DateTime{2000, 2, 29, 23, 59, 59},
          DateTime{1000, 1, 1, 0, 0, 0}, DateTime{9999, 12, 31, 23, 59, 0}}) {
        const DataLetta back = testoADataOra(dataOraATesto(value));
        EXPECT_TRUE(back.valida);
        DateTime toTheMinute = value;
        toTheMinute.second = 0;
        EXPECT_EQ(back.valore, toTheMinute);
    }
}

// ---- numbers ----

TEST(NormalizzaNumeroTest, CommaSeparator) {
    workstation::ScopedFormats formats({",", "dd/MM/yyyy", "HH:mm:ss"});
    EXPECT_EQ(normalizzaNumero("72,8", true), "72");
    EXPECT_EQ(normalizzaNumero("-3,9", true), "3");
    EXPECT_EQ(normalizzaNumero("72.8", true), "");
    EXPECT_EQ(normalizzaNumero("72.8", false), "");
    EXPECT_EQ(normalizzaNumero("1.000,5", false), "");
    EXPECT_EQ(normalizzaNumero("-12,50", false), "12,5");
    EXPECT_EQ(normalizzaNumero("  7  ", false), "7");
    EXPECT_EQ(normalizzaNumero("+7,0", false), "7");
    EXPECT_EQ(normalizzaNumero(",5", false), "0,5");
    EXPECT_EQ(normalizzaNumero("5,", false), "5");
    EXPECT_EQ(normalizzaNumero("1,5E3", false), "1500");
    EXPECT_EQ(normalizzaNumero("0,30000000000000004", false), "0,3");
    EXPECT_EQ(normalizzaNumero("-0", false), "0");
    EXPECT_EQ(normalizzaNumero("0,4", true), "0");
}

TEST(NormalizzaNumeroTest, GeneralFormLimits) {
    workstation::ScopedFormats formats({",", "dd/MM/yyyy", "HH:mm:ss"});
    EXPECT_EQ(normalizzaNumero("0,00001", false), "0,00001");
    EXPECT_EQ(normalizzaNumero("0,000015", false), "0,000015");
    EXPECT_EQ(normalizzaNumero("0,000001", false), "1E-6");
    EXPECT_EQ(normalizzaNumero("0,00000015", false), "1,5E-7");
    EXPECT_EQ(normalizzaNumero("999999999999999", false), "999999999999999");
    EXPECT_EQ(normalizzaNumero("1000000000000000", false), "1E15");
    EXPECT_EQ(normalizzaNumero("123456789012345678", false), "1,23456789012346E17");
    EXPECT_EQ(normalizzaNumero("1,23456789012345678", false), "1,23456789012346");
    EXPECT_EQ(normalizzaNumero("1e20", true), "1E20");
    EXPECT_EQ(normalizzaNumero("1e-400", false), "0");
    EXPECT_EQ(normalizzaNumero("1e400", false), "");
}

TEST(NormalizzaNumeroTest, NotNumbers) {
    workstation::ScopedFormats formats({",", "dd/MM/yyyy", "HH:mm:ss"});
    for (const char* text : {"", " ", "abc", "12a", "1,2,3", "--1", ",", "1e", "1e+", "INF", "nan",
                             "0x10", "1 2", "\t5"}) {
        EXPECT_EQ(normalizzaNumero(text, false), "") << text;
        EXPECT_EQ(normalizzaNumero(text, true), "") << text;
    }
}

TEST(NormalizzaNumeroTest, PointSeparator) {
    workstation::ScopedFormats formats({".", "MM/dd/yyyy", "h:mm:ss tt"});
    EXPECT_EQ(normalizzaNumero("72.8", false), "72.8");
    EXPECT_EQ(normalizzaNumero("72,8", false), "");
    EXPECT_EQ(normalizzaNumero("-3.9", true), "3");
    EXPECT_EQ(normalizzaNumero("0.00000015", false), "1.5E-7");
}

// ---- texts ----

TEST(TextHelpersTest, QuotesControlsAndGuids) {
    EXPECT_EQ(traVirgolette("1.0"), "\"1.0\"");
    EXPECT_EQ(traVirgolette("a\"b"), "\"a\"b\"");
    EXPECT_EQ(traApici("0A1F"), "'0A1F'");
    EXPECT_EQ(traApici("d'Annunzio"), "'d'Annunzio'");
    EXPECT_EQ(traApici(""), "''");

    EXPECT_EQ(pulisciControlli(std::string("a\x0B"
                                           "b\x0C"
                                           "c\t\n\r\x01\x1F\x7F"
                                           "\xC3\xA8",
                                           13)),
              std::string("a b c\t\n\r  \x7F\xC3\xA8"));
    EXPECT_EQ(pulisciControlli(std::string("\0x", 2)), " x");
    EXPECT_EQ(pulisciControlli(""), "");

    const std::regex form("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string guid = nuovoGuid();
        EXPECT_EQ(guid.size(), 36u);
        EXPECT_TRUE(std::regex_match(guid, form)) << guid;
        seen.insert(guid);
    }
    EXPECT_EQ(seen.size(), 100u);
}

// ---- files ----

TEST(FilesTest, LeggiFileStopsAtTheFirstZeroByte) {
    test::TempFolder folder;
    test::writeBytes(folder / "a.xml", std::string("<a>\xC3\xA8</a>\0tail\0", 16));
    EXPECT_EQ(leggiFile(folder / "a.xml"), "<a>\xC3\xA8</a>");
    test::writeBytes(folder / "plain.txt", "line\r\nline");
    EXPECT_EQ(leggiFile(folder / "plain.txt"), "line\r\nline");
    EXPECT_EQ(leggiFile(folder / "missing.xml"), "");
    EXPECT_EQ(leggiFile(folder.path()), "");
}

TEST(FilesTest, ScriviFileReplacesWithoutLineEndAndPrivately) {
    test::TempFolder folder;
    const auto path = folder / "risposta.xml";
    ASSERT_TRUE(scriviFile(path, "first, longer content"));
    ASSERT_TRUE(scriviFile(path, "<r/>"));
    EXPECT_EQ(test::readBytes(path), "<r/>");
    EXPECT_TRUE(test::ownerOnly(path));
#ifndef _WIN32
    // An existing file keeps its permission bits.
    struct stat info {};
    ::chmod(path.c_str(), 0640);
    ASSERT_TRUE(scriviFile(path, ""));
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
#else
    ASSERT_TRUE(scriviFile(path, ""));
#endif
    EXPECT_EQ(test::readBytes(path), "");
    EXPECT_FALSE(scriviFile(folder / "missing" / "x.xml", "x"));
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(FilesTest, WriteNewPrivateIsExclusiveAndOwnerOnly) {
    test::TempFolder folder;
#ifndef _WIN32
    const mode_t oldMask = ::umask(0);
#endif
    EXPECT_TRUE(files::writeNewPrivate(folder / "new.xml", "data"));
#ifndef _WIN32
    ::umask(oldMask);
#endif
    EXPECT_TRUE(test::ownerOnly(folder / "new.xml"));
    EXPECT_FALSE(files::writeNewPrivate(folder / "new.xml", "other"));
    EXPECT_EQ(test::readBytes(folder / "new.xml"), "data");
#ifndef _WIN32
    std::filesystem::create_symlink(folder / "target", folder / "link");
    EXPECT_FALSE(files::writeNewPrivate(folder / "link", "x"));
#endif
    EXPECT_FALSE(std::filesystem::exists(folder / "target"));
}

// ---- registry ----
// The registry store of POSIX; the Windows registry has its own test, with
// values imported into the system's registry.
#ifndef _WIN32

constexpr const char* kRegistry =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_CURRENT_USER\\SOFTWARE\\Norvix\\VEKConnector\\LK]\r\n"
    "\"LogFilename\"=\"/home/studio/lk.log\"\r\n"
    "\"ReqTout\"=dword:0001d4c0\r\n"
    "\"Testo\"=\"120000\"\r\n"
    "\"Lettere\"=\"abc\"\r\n"
    "\"Bin\"=hex:31,32,00,33\r\n"
    "\"Negativo\"=dword:ffffffff\r\n"
    "\"Grande\"=hex(b):00,00,00,00,01,00,00,00\r\n"
    "\"Multi\"=hex(7):61,00,00,00,00,00\r\n"
    "\"Espandibile\"=hex(2):25,00,41,00,25,00,00,00\r\n"
    "\"Vuoto\"=\"\"\r\n";

constexpr const char* kLk = "\\SOFTWARE\\Norvix\\VEKConnector\\LK";

TEST(RegistryHelpersTest, LeggiStringaRegistroReadsTextOnly) {
    test::ScopedRegistry registry(kRegistry);
    using registry::Root;
    EXPECT_EQ(leggiStringaRegistro(Root::CurrentUser, kLk, "LogFilename"), "/home/studio/lk.log");
    EXPECT_EQ(leggiStringaRegistro(Root::CurrentUser, kLk, "logfilename"), "/home/studio/lk.log");
    EXPECT_EQ(leggiStringaRegistro(Root::CurrentUser, kLk, "Espandibile"), "%A%");
    EXPECT_EQ(leggiStringaRegistro(Root::CurrentUser, kLk, "ReqTout"), "");
    EXPECT_EQ(leggiStringaRegistro(Root::CurrentUser, kLk, "Assente"), "");
    EXPECT_EQ(leggiStringaRegistro(Root::LocalMachine, kLk, "LogFilename"), "");
    EXPECT_EQ(leggiStringaRegistro(Root::CurrentUser, "\\SOFTWARE\\Nessuno", "LogFilename"), "");
}

TEST(RegistryHelpersTest, LeggiValoreRegistroByType) {
    test::ScopedRegistry registry(kRegistry);
    using registry::Root;
    EXPECT_EQ(std::get<std::int64_t>(leggiValoreRegistro(Root::CurrentUser, kLk, "ReqTout")),
              120000);
    EXPECT_EQ(std::get<std::int64_t>(leggiValoreRegistro(Root::CurrentUser, kLk, "Negativo")), -1);
    EXPECT_EQ(std::get<std::int64_t>(leggiValoreRegistro(Root::CurrentUser, kLk, "Grande")),
              std::int64_t{1} << 32);
    // A text stays a text, a number or not: converting it is the caller's business.
    EXPECT_EQ(std::get<std::string>(leggiValoreRegistro(Root::CurrentUser, kLk, "Testo")),
              "120000");
    EXPECT_EQ(std::get<std::string>(leggiValoreRegistro(Root::CurrentUser, kLk, "Lettere")), "abc");
    EXPECT_EQ(std::get<std::string>(leggiValoreRegistro(Root::CurrentUser, kLk, "Vuoto")), "");
    EXPECT_EQ(std::get<std::string>(leggiValoreRegistro(Root::CurrentUser, kLk, "Espandibile")),
              "%A%");
    // Binary: its bytes as a text of the same length.
    EXPECT_EQ(std::get<std::string>(leggiValoreRegistro(Root::CurrentUser, kLk, "Bin")),
              std::string("12\0"
                          "3",
                          4));

    EXPECT_THROW(leggiValoreRegistro(Root::CurrentUser, kLk, "Multi"), Error);
    EXPECT_THROW(leggiValoreRegistro(Root::CurrentUser, kLk, "Assente"), Error);
    EXPECT_THROW(leggiValoreRegistro(Root::LocalMachine, kLk, "ReqTout"), Error);
}
#endif

// ---- XML helpers ----

constexpr const char* kChanges =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<variazioni><datatime_acquisizione_cartella>2009-03-15 10:30:00"
    "</datatime_acquisizione_cartella><riga><rowid_vellodoc>3431</rowid_vellodoc>"
    "<rowid_esterno>E-1</rowid_esterno></riga></variazioni>";

TEST(XmlSelectSingleTest, FirstInDocumentOrderEmptyTextAndNotFound) {
    test::RecordingWindowing windowing;
    EXPECT_EQ(XMLSelectSingle(nullptr, "a"), "empty");
    EXPECT_EQ(XMLSelectSingle(std::optional<XmlDocument>(), "a"), "empty");

    XmlDocument document;
    ASSERT_TRUE(document.loadXML("<r><x><a>first</a></x><a>second</a><b/><c>  </c></r>"));
    const std::string before = document.xml();
    EXPECT_EQ(XMLSelectSingle(&document, "a"), "first");
    EXPECT_EQ(XMLSelectSingle(&document, "b"), "");
    EXPECT_EQ(XMLSelectSingle(&document, "c"), "");
    EXPECT_EQ(XMLSelectSingle(&document, "missing"), "empty");
    EXPECT_EQ(document.xml(), before);
    EXPECT_TRUE(windowing.messages.empty());

    // A document built in memory, not parsed, is read the same way.
    XmlDocument built;
    built.appendChild(built.createElement("r")).appendChild(built.createElement("a")).setText("v");
    EXPECT_EQ(XMLSelectSingle(&built, "a"), "v");
    // An empty document (a failed load) has no such element.
    XmlDocument failed;
    failed.loadXML("<r>");
    EXPECT_EQ(XMLSelectSingle(&failed, "r"), "empty");
}

TEST(XmlSelectSingleTest, DomErrorShowsTheMessageAndGivesEmpty) {
    test::RecordingWindowing windowing;
    XmlDocument document;
    ASSERT_TRUE(document.loadXML("<r><a>1</a></r>"));
    EXPECT_EQ(XMLSelectSingle(&document, "a["), "empty");
    ASSERT_EQ(windowing.messages.size(), 1u);
    EXPECT_TRUE(windowing.messages[0].ends_with(")XMLSelectSingle")) << windowing.messages[0];
    EXPECT_TRUE(windowing.messages[0].starts_with("Espressione XPath non valida: //a["));
}

class CaricaXmlVariazioneTest : public ::testing::Test {
  protected:
    // The variable that names the system's temporary folder.
#ifdef _WIN32
    static constexpr const char* kTemp = "TMP";
#else
    static constexpr const char* kTemp = "TMPDIR";
#endif
    void SetUp() override {
        if (const char* old = std::getenv(kTemp)) {
            previous_ = old;
        }
        test::setEnv(kTemp, temp_.path().string());
    }
    void TearDown() override {
        if (previous_.empty()) {
            test::unsetEnv(kTemp);
        } else {
            test::setEnv(kTemp, previous_);
        }
    }
    bool tempFolderIsEmpty() const {
        return std::filesystem::is_empty(temp_.path());
    }

    test::TempFolder temp_;
    std::string previous_;
    test::RecordingWindowing windowing_;
};

TEST_F(CaricaXmlVariazioneTest, LoadsTheChangeDocumentAndLeavesNoFile) {
    std::optional<XmlDocument> document;
    ASSERT_TRUE(CaricaXmlVariazione(document, kChanges));
    ASSERT_TRUE(document.has_value());
    EXPECT_EQ(document->getProperty("SelectionLanguage"), "XPath");
    EXPECT_FALSE(document->async());
    EXPECT_EQ(document->selectSingleNode("//riga[rowid_vellodoc='3431']/rowid_esterno").text(),
              "E-1");
    EXPECT_EQ(XMLSelectSingle(document, "datatime_acquisizione_cartella"), "2009-03-15 10:30:00");
    EXPECT_TRUE(tempFolderIsEmpty());
}

TEST_F(CaricaXmlVariazioneTest, FalseCases) {
    std::optional<XmlDocument> document;
    // Empty text: false, the variable untouched.
    EXPECT_FALSE(CaricaXmlVariazione(document, ""));
    EXPECT_FALSE(document.has_value());
    document.emplace();
    ASSERT_TRUE(document->loadXML("<kept/>"));
    EXPECT_FALSE(CaricaXmlVariazione(document, ""));
    EXPECT_EQ(document->xml(), "<kept/>\n");

    EXPECT_FALSE(CaricaXmlVariazione(
        document, "<v><datatime_acquisizione_cartella>empty</datatime_acquisizione_cartella></v>"));
    EXPECT_FALSE(CaricaXmlVariazione(
        document, "<v><datatime_acquisizione_cartella> </datatime_acquisizione_cartella></v>"));
    EXPECT_FALSE(CaricaXmlVariazione(document, "<v><altro>2009</altro></v>"));
    EXPECT_FALSE(CaricaXmlVariazione(document, "<v><datatime_acquisizione_cartella>"));
    EXPECT_NE(document->parseError().errorCode, 0);
    EXPECT_TRUE(tempFolderIsEmpty());
    EXPECT_TRUE(windowing_.messages.empty());
}

TEST_F(CaricaXmlVariazioneTest, UnwritableTemporaryFolderGivesFalse) {
    std::optional<XmlDocument> document;
#ifndef _WIN32
    // Nothing can be created in /proc, whoever runs the test.
    test::setEnv(kTemp, "/proc");
    EXPECT_FALSE(CaricaXmlVariazione(document, kChanges));
    EXPECT_TRUE(document.has_value());
    EXPECT_NE(document->parseError().errorCode, 0);
#endif
    // A temporary folder that is no folder at all.
    test::setEnv(kTemp, (temp_.path() / "missing").string());
    EXPECT_FALSE(CaricaXmlVariazione(document, kChanges));
}

}  // namespace
}  // namespace kvt
