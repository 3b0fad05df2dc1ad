#pragma once
// What the upload reads from the host: every patient attribute path, and for
// each dataset the columns the record sections read.
#include <string_view>
#include <vector>

namespace kvt::vellodoc::testing {

inline const std::vector<std::string_view> kPatientAttributePaths = {
    "cognome",
    "nome",
    "codice_fiscale",
    "id_paziente_vd",
    "large_string:vd-xtac",
    "asl_di_assistenza\\asl\\codice_asl",
    "persona\\residenza\\indirizzo\\via_piazza",
    "persona\\residenza\\indirizzo\\numero_civico",
    "sesso",
    "data_nascita",
    "gruppo_sanguigno",
    "attributi_paziente\\rh",
    "mmg_data_scelta",
    "mmg_data_revoca",
    "decesso\\data_evento",
    "decesso\\codice_icd9_cm",
    "decesso\\causa",
};

struct DatasetColumns {
    std::string_view dataset;
    std::vector<std::string_view> columns;
};

inline const std::vector<DatasetColumns> kDatasetColumns = {
    {"intolleranza_da_farmaco", {"nome_intolleranza", "data_registrazione", "codice_minsan"}},
    {"problema", {"codice_icd9_cm", "nome_problema", "certezza", "data_inizio"}},
    {"esenzione",
     {"codice_nazionale_esenzione", "nome_esenzione", "numero_esenzione", "codice_icd9_cm",
      "data_rilascio", "data_scadenza"}},
    {"prescrizione_accertamento",
     {"codice_vd_prescrizione", "risultato_valore_breve", "codice_nomenclatore_tariffario",
      "codice_vd_tipo_prescrizione", "data_esecuzione", "data_richiesta",
      "data_esecuzione_presunta", "nome_prescrizione", "codice_vd_fuori_norma",
      "risultato_unita_di_misura", "risultato_referto", "prezzo_unitario_euro",
      "id_prescrizione_vd"}},
    {"prescrizione_varia",
     {"nome_prescrizione", "data_prescrizione", "quantita", "prezzo_unitario_euro"}},
    {"prescrizione_farmaco",
     {"codice_minsan", "nome_prescrizione", "data_prescrizione", "quantita", "farmaco_fascia",
      "farmaco_continuativo", "posologia"}},
    {"prestazione_incentivante", {"data_esecuzione", "nome_prestazione", "breve_nota_prestazione"}},
    {"pressione",
     {"data_esecuzione", "pressione_massima", "pressione_minima", "frequenza_cardiaca"}},
};

// The last-visit query as the run sends it, and its corrected form that takes
// the time of the latest visit day.
inline constexpr std::string_view kLastVisitQuery =
    "SELECT (SELECT MAX (cv1.data_open) FROM cart_visite cv1 where cv1.codice=p.codice) AS "
    "data_mia, (SELECT MAX (cv2.ora) FROM cart_visite cv2 where cv2.codice=p.codice) AS ora_mia "
    "FROM pazienti p WHERE p.codice=";
inline constexpr std::string_view kLastVisitOfLastDayQuery =
    "SELECT (SELECT MAX (cv1.data_open) FROM cart_visite cv1 where cv1.codice=p.codice) AS "
    "data_mia, (SELECT MAX (cv2.ora) FROM cart_visite cv2 where cv2.codice=p.codice AND "
    "cv2.data_open=(SELECT MAX (cv3.data_open) FROM cart_visite cv3 where "
    "cv3.codice=p.codice)) AS ora_mia FROM pazienti p WHERE p.codice=";

}  // namespace kvt::vellodoc::testing
