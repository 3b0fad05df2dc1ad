// The answer reader of the sending on any bytes, as the connector could hand
// them over: the answer is saved and read from a private folder, never
// fetched. An answer is accepted only when it is well-formed and names both
// error codes empty; one that declares entities is never accepted.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/connettore.h"
#include "app/frm_main.h"
#include "common/xml_document.h"
#include "fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;

// Nothing is sent: the reader is called directly.
class SenzaRete final : public kvt::Connettore {
  public:
    void config() override {}
    int connect(const std::string&, const std::string&) override { return 14; }
    std::string query(const std::string&, int, int) override { return {}; }
    int getError() override { return 14; }
    int disconnect() override { return 0; }
};

struct Finestra {
    SenzaRete connettore;
    std::unique_ptr<kvt::TfrmMain> finestra;
    fs::path risposta;
    fs::path log;
    int chiamate = 0;

    Finestra() {
        const fs::path& cartella = kvt::fuzz::cartellaDiLavoro();
        const fs::path registro = cartella / "registro.reg";
        {
            std::ofstream out(registro);
            out << "Windows Registry Editor Version 5.00\r\n";
        }
        setenv("KVT_REGISTRY", registro.c_str(), 1);
        finestra = std::make_unique<kvt::TfrmMain>((cartella / "programma").string(), nullptr,
                                                   &connettore);
        fs::create_directories(cartella / "programma" / "kvt" / "xml" / "risposte");
        risposta = cartella / "programma" / "kvt" / "xml" / "risposte" / "RSS_kvt.xml";
        log = cartella / "programma" / "kvt" / "log.txt";
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Finestra f;
    // The log gets a line per answer: it starts again now and then.
    if (++f.chiamate % 1000 == 0) {
        std::error_code ignorato;
        fs::remove(f.log, ignorato);
    }
    const std::string risposta(reinterpret_cast<const char*>(data), size);
    std::string errore = "\r\nErrInvio: ERR_OK";
    const bool accettata = f.finestra->leggiRisposta(risposta, f.risposta.string(), errore);

    KVT_FUZZ_CHECK(errore.starts_with("\r\nErrInvio: ERR_OK\r\nCodiceErr:"));
    kvt::XmlDocument salvata;
    salvata.load(f.risposta);
    if (accettata) {
        KVT_FUZZ_CHECK(errore == "\r\nErrInvio: ERR_OK\r\nCodiceErr: DescrErr: ");
        KVT_FUZZ_CHECK(salvata.parseError().errorCode == 0);
        KVT_FUZZ_CHECK(salvata.selectSingleNode("/vekRisposta/vekCodiceErrore"));
        KVT_FUZZ_CHECK(risposta.find("<!ENTITY") == std::string::npos);
    }
    // The same reading by the value reader, on the document as the text gives it.
    for (const char* percorso :
         {"/vekRisposta/vekCodiceErrore", "//vekRisposta/vekDescrizioneErrore",
          "/vekRisposta/vekPazienti/vekPaziente/vekCodiceErrore"}) {
        const std::string valore = kvt::TfrmMain::dammi(salvata, percorso);
        if (salvata.parseError().errorCode != 0) {
            KVT_FUZZ_CHECK(valore == salvata.parseError().reason);
        }
    }
    return 0;
}
