// A whole host session through the adapter on a generated practice: log in,
// walk every patient, read every attribute and every dataset column the record
// reads, with the filters the record sends, and the last visit; no message
// may reach the operator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/radix.h"
#include "common/windowing.h"
#include "host/tvellopat.h"
#include "peers/vellodoc/generator.h"
#include "practice_fixture.h"
#include "vellodoc/host_contract.h"

namespace kvt::vellodoc::testing {
namespace {

class RecordingWindowing final : public Windowing {
  public:
    std::vector<std::string> messages;
    void messageBox(const std::string& text, const std::string&, MessageIcon) override {
        messages.push_back(text);
    }
    WindowHandle foregroundWindow() override { return 1; }
    void setForegroundWindow(WindowHandle) override {}
    void setHourglass(bool) override {}
    void processMessages() override {}
    void openDocument(const std::string&) override {}
};

const std::vector<std::string_view>& columnsOf(std::string_view dataset) {
    for (const auto& entry : kDatasetColumns) {
        if (entry.dataset == dataset) {
            return entry.columns;
        }
    }
    static const std::vector<std::string_view> none;
    return none;
}

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// The date-time text rule of the last-visit reading: quotes removed, the date
// before the first TAB, the time in the five characters after it.
bool readableLastVisit(std::string text) {
    std::erase(text, '"');
    const auto tab = text.find('\t');
    if (tab != 10 || text.size() < tab + 6) {
        return false;
    }
    const std::string time = text.substr(tab + 1, 5);
    return text[4] == '-' && text[7] == '-' && time[2] == ':';
}

class HostSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = freshDirectory("vellodoc_session");
        GeneratorOptions options;
        options.patients = 150;
        options.years = 4;
        options.seed = 2024;
        summary_ = generatePractice(options, dir_ / "practice.sqlite");
        writeRegistry(dir_ / "registry.reg", dir_ / "practice.sqlite");
        registerServer();
        setWindowing(&windows_);
    }
    void TearDown() override {
        setWindowing(nullptr);
        ::unsetenv("KVT_REGISTRY");
        std::filesystem::remove_all(dir_);
    }

    // The list pattern: create, load, count, read every row's columns, destroy.
    std::size_t readDataset(Tvellopat& host, std::string_view dataset, const std::string& filter) {
        const std::string handle = host.new_object("i_hl_dataset", std::string(dataset));
        EXPECT_FALSE(handle.empty()) << dataset;
        host.call_method_pipe(handle, "carica", filter);
        const std::int32_t rows = str2int(host.call_method_pipe(handle, "rowcount", ""));
        for (std::int32_t i = 1; i <= rows; ++i) {
            host.call_method_pipe(handle, "setrow", std::to_string(i));
            for (const auto column : columnsOf(dataset)) {
                host.call_method_pipe(handle, "leggi_attributo", std::string(column));
            }
        }
        host.destroy_object(handle);
        return static_cast<std::size_t>(rows);
    }

    std::filesystem::path dir_;
    GenerationSummary summary_;
    RecordingWindowing windows_;
};

TEST_F(HostSessionTest, WalksEveryPatientOfAGeneratedPracticeWithoutAMessage) {
    const std::int64_t liveBefore = counters().liveDatasets;
    Tvellopat host;
    host.utente = kDefaultUser;
    host.password = kDefaultPassword;
    ASSERT_TRUE(host.start());
    const std::string doctor = host.leggi_attributo("userid_utente");
    EXPECT_EQ(doctor, kDefaultDoctorCode);

    const std::int32_t patients =
        host.carica("codice_medico =" + doctor + "|tipo_di_convenzione=S", "alfabetico");
    EXPECT_EQ(patients, summary_.doctorPatients);

    std::size_t rows = 0;
    int changeRecords = 0;
    int readableVisits = 0;
    std::string previousSurname;
    for (std::int32_t p = 0; p < patients; ++p) {
        for (const auto path : kPatientAttributePaths) {
            host.leggi_attributo(std::string(path));
        }
        const std::string id = host.leggi_attributo("id_paziente_vd");
        ASSERT_FALSE(id.empty());
        const std::string code = string2hex(id);
        const std::string patient = "codice=" + code;

        rows += readDataset(host, "intolleranza_da_farmaco", patient);
        rows += readDataset(host, "problema", "filtro_classe_patologia=allergie|" + patient);
        rows += readDataset(host, "esenzione", patient);
        rows +=
            readDataset(host, "prescrizione_accertamento",
                        patient +
                            "|filtro_lista_codici_accertamento_spaziati=anamnesi_fumo "
                            "attività_fisica|filtro_solo_con_risultato|ordinamento=ordine_data");
        rows += readDataset(host, "problema", patient);
        rows += readDataset(host, "prescrizione_accertamento", patient);
        rows += readDataset(host, "prescrizione_varia", patient);
        rows += readDataset(host, "prescrizione_farmaco", patient);
        rows += readDataset(host, "prestazione_incentivante", patient);
        rows += readDataset(host, "pressione", patient);
        for (const char* measure : {"height", "weight", "circonferenza_vita"}) {
            rows += readDataset(host, "prescrizione_accertamento",
                                patient + "|filtro_lista_codici_accertamento_spaziati=" + measure);
        }

        // A changes-only record: the same patient selected by its code, and
        // the datasets under the change window.
        const std::string xtac = host.leggi_attributo("large_string:vd-xtac");
        if (!xtac.empty()) {
            ASSERT_TRUE(host.select_single(code));
            const std::string_view tag = "<datatime_acquisizione_cartella>";
            const auto from = xtac.find(tag);
            const std::string window =
                from == std::string::npos
                    ? std::string()
                    : xtac.substr(from + tag.size(),
                                  xtac.find('<', from + tag.size()) - from - tag.size());
            const std::string changed = patient + "|variato_dopo_datatime=" + window;
            readDataset(host, "intolleranza_da_farmaco", changed);
            readDataset(host, "problema", "filtro_classe_patologia=allergie|" + changed);
            readDataset(host, "prescrizione_accertamento", changed);
            readDataset(host, "prescrizione_farmaco", changed);
            readDataset(host, "pressione", changed);
            readDataset(host, "prescrizione_accertamento",
                        changed + "|filtro_lista_codici_accertamento_spaziati=weight");
            ++changeRecords;
            // Back to the walk: the list again, up to this patient.
            host.carica("codice_medico =" + doctor + "|tipo_di_convenzione=S", "alfabetico");
            for (std::int32_t i = 0; i < p; ++i) {
                host.skip();
            }
            EXPECT_EQ(host.leggi_attributo("id_paziente_vd"), id);
        }

        for (std::string_view query : {kLastVisitQuery, kLastVisitOfLastDayQuery}) {
            const std::string visit =
                host.sql_dump_string("todo", std::string(query) + "'" + id + "'");
            readableVisits += readableLastVisit(visit);
        }
        EXPECT_EQ(counters().liveDatasets, liveBefore) << "patient " << p;

        // Alphabetical as the host compares: letters a to z without case.
        const std::string surname = lowerAscii(host.leggi_attributo("cognome"));
        EXPECT_FALSE(surname.empty());
        EXPECT_LE(previousSurname, surname);
        previousSurname = surname;
        host.skip();
    }
    EXPECT_TRUE(windows_.messages.empty()) << windows_.messages.front();

    // Past the last patient there is nothing to read, and the operator hears of it.
    EXPECT_TRUE(host.leggi_attributo("cognome").empty());
    EXPECT_EQ(windows_.messages,
              std::vector<std::string>{"Tvellopat.leggi_attributo(): eccezione"});
    host.stop();

    EXPECT_GT(rows, static_cast<std::size_t>(patients) * 10);
    EXPECT_GT(changeRecords, 0);
    EXPECT_GT(readableVisits, patients);
    EXPECT_EQ(counters().liveDatasets, liveBefore);
}

}  // namespace
}  // namespace kvt::vellodoc::testing
