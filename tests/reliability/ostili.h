#pragma once
// Hostile host texts, each with what the upload file must carry for it, and
// a patient whose every text that reaches the upload file holds one of them:
// shared by the in-process test and the whole-program one.
#include <ostream>
#include <string>
#include <vector>

#include "peers/vellodoc/sqlite_db.h"

namespace kvt::test {

// One kind of hostile text: what the host holds, and what the upload file
// must carry for it in a field without length limit (a limited field carries
// the first characters of it).
struct Ostile {
    const char* nome;
    std::string valore;
    std::string atteso;
    // Appended to the fiscal code, so that the pseudonym meets it too.
    std::string codaCodiceFiscale;
};

// A failing case is named, not dumped byte by byte.
inline void PrintTo(const Ostile& caso, std::ostream* out) {
    *out << caso.nome;
}

inline std::string ripeti(const std::string& pezzo, std::size_t volte) {
    std::string testo;
    testo.reserve(pezzo.size() * volte);
    for (std::size_t i = 0; i < volte; ++i) {
        testo += pezzo;
    }
    return testo;
}

// 1 MB of specials and accents, ending in a letter so that no trim shortens it.
inline const std::string kUnMega =
    ripeti("Referto & <note> \"già\" 'x' ]]> ", 1024 * 1024 / 32) + "fine";

inline const std::vector<Ostile>& casiOstili() {
    static const std::vector<Ostile> casi = {
        {"speciali", "A & B < C > D \" E ' F ]]> G &amp; <![CDATA[ x ]]> &#1; <!-- -->",
         "A & B < C > D \" E ' F ]]> G &amp; <![CDATA[ x ]]> &#1; <!-- -->", ""},
        // Control characters become blanks; TAB and line breaks stay.
        {"controlli", "a\x01z\x02y\x08x\x0Bw\x0Cv\x0Eu\x1Bt\x1Fs\x7Fr\tq\np",
         "a z y x w v u t s\x7Fr\tq\np", ""},
        {"nul", std::string("prima\0dopo\0fine", 15), "prima dopo fine", ""},
        // Bytes outside UTF-8 are read as Latin-1: a lone continuation byte,
        // sequences cut short, an overlong form, an encoded surrogate and a
        // code beyond U+10FFFF.
        {"utf8_non_valido",
         "a\x80"
         "b\xC3"
         "c\xE2\x82"
         "d\xC0\xAF"
         "e\xED\xA0\x80"
         "f\xF4\x90\x80\x80"
         "g",
         "a\xC2\x80"
         "b\xC3\x83"
         "c\xC3\xA2\xC2\x82"
         "d\xC3\x80\xC2\xAF"
         "e\xC3\xAD\xC2\xA0\xC2\x80"
         "f\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"
         "g",
         "\x80"},
        // U+FFFE and U+FFFF are UTF-8 but no XML character: blanks too.
        {"non_caratteri", "x\xEF\xBF\xBEy\xEF\xBF\xBFz", "x y z", ""},
        // Two- and four-byte characters, so that every cut of 50 or 100
        // characters falls inside a multi-byte sequence if counted in bytes.
        {"accenti_emoji", ripeti("è\xF0\x9F\x98\x80à", 60), ripeti("è\xF0\x9F\x98\x80à", 60),
         "\xC3\x80"},
        {"un_mega", kUnMega, kUnMega, ""},
    };
    return casi;
}

// One patient of the doctor, host id `codice`, whose every text that reaches
// the upload file (and name and address, which must not) holds `v`, dates and
// codes included, with one row of each dataset routed to each kind of item.
// Only what decides the record's shape (sex, birth date, ASL, the types that
// route a row) is ordinary, so that every section is there to check.
inline void scriviPaziente(vellodoc::Database& db, const std::string& codice,
                           const std::string& medico, const std::string& codiceFiscale,
                           const std::string& v) {
    db.prepare(
          "INSERT INTO pazienti (codice, codice_medico, cognome, nome, codice_fiscale, sesso, "
          "data_nascita, gruppo_sanguigno, rh, codice_asl, via_piazza, numero_civico, "
          "mmg_data_scelta, mmg_data_revoca, decesso_data_evento, decesso_codice_icd9_cm, "
          "decesso_causa) VALUES "
          "(?4, ?1, ?2, ?2, ?3, 'F', '1950-02-03', ?2, ?2, '301', ?2, ?2, ?2, ?2, ?2, ?2, ?2)")
        .bind(1, medico)
        .bind(2, v)
        .bind(3, codiceFiscale)
        .bind(4, codice)
        .step();
    const auto inserisci = [&](const char* sql) {
        db.prepare(sql).bind(1, v).bind(2, codice).step();
    };
    inserisci(
        "INSERT INTO intolleranza_da_farmaco VALUES (?2, ?1, '2020-01-01', '012345678', "
        "'2020-01-01 00:00:00')");
    inserisci(
        "INSERT INTO problema VALUES (?2, '401.9', ?1, 'N', '2019-01-01', 'cardio', "
        "'2019-01-01 00:00:00'), (?2, '250.0', ?1, 'S', '2019-02-01', 'metabolismo', "
        "'2019-02-01 00:00:00')");
    inserisci(
        "INSERT INTO esenzione VALUES (?2, '013', ?1, ?1, '250', '2020-03-10', "
        "'2030-03-10', '2020-03-10 00:00:00')");
    inserisci(
        "INSERT INTO prescrizione_accertamento (codice, id_prescrizione_vd, "
        "codice_accertamento, codice_vd_prescrizione, codice_vd_tipo_prescrizione, "
        "codice_nomenclatore_tariffario, nome_prescrizione, data_richiesta, data_esecuzione, "
        "risultato_valore_breve, risultato_unita_di_misura, risultato_referto, "
        "prezzo_unitario_euro, variato_il) VALUES "
        "(?2, '11', 'glicemia', '100', 'L', '90.27.1', ?1, '2023-01-02', '2023-01-05', ?1, ?1, "
        "?1, '3,50', '2023-01-05 00:00:00'), "
        "(?2, '12', 'eco', '200', 'X', '88.74.1', ?1, '2023-02-02', '2023-02-05', '', '', ?1, "
        "'30', '2023-02-05 00:00:00'), "
        "(?2, '13', 'visita', '300', 'X', '89.7', ?1, '2023-03-02', '2023-03-05', '', '', ?1, "
        "'25', '2023-03-05 00:00:00')");
    inserisci(
        "INSERT INTO prescrizione_varia VALUES (?2, ?1, '2023-04-01', '2', '10,00', "
        "'2023-04-01 00:00:00')");
    inserisci(
        "INSERT INTO prescrizione_farmaco VALUES (?2, ?1, ?1 || '*' || ?1, "
        "'2023-05-01', '1', 'A', 'S', ?1, '2023-05-01 00:00:00')");
    inserisci(
        "INSERT INTO prestazione_incentivante VALUES (?2, '2023-06-01', ?1, ?1, "
        "'2023-06-01 00:00:00')");
}

}  // namespace kvt::test
