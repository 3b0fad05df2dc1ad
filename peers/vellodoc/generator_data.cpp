#include "peers/vellodoc/generator_data.h"

namespace kvt::vellodoc::catalogue {
namespace {

using C = Condition;

constexpr std::string_view kSurnames[] = {
    "Rossi",      "Russo",      "Ferrari",    "Esposito",   "Bianchi",    "Romano",     "Colombo",
    "Ricci",      "Marino",     "Greco",      "Bruno",      "Gallo",      "Conti",      "De Luca",
    "Mancini",    "Costa",      "Giordano",   "Rizzo",      "Lombardi",   "Moretti",    "Barbieri",
    "Fontana",    "Santoro",    "Mariani",    "Rinaldi",    "Caruso",     "Ferrara",    "Galli",
    "Martini",    "Leone",      "Longo",      "Gentile",    "Martinelli", "Vitale",     "Lombardo",
    "Serra",      "Coppola",    "De Santis",  "D'Angelo",   "Marchetti",  "Parisi",     "Villa",
    "Conte",      "Ferraro",    "Ferri",      "Fabbri",     "Bianco",     "Marini",     "Grasso",
    "Valentini",  "Messina",    "Sala",       "De Angelis", "Gatti",      "Pellegrini", "Palumbo",
    "Sanna",      "Farina",     "Rizzi",      "Monti",      "Cattaneo",   "Morelli",    "Amato",
    "Silvestri",  "Mazza",      "Testa",      "Grassi",     "Pellegrino", "Carbone",    "Giuliani",
    "Benedetti",  "Barone",     "Rossetti",   "Caputo",     "Montanari",  "Guerra",     "Palmieri",
    "Bernardi",   "Martino",    "Fiore",      "De Rosa",    "Ferretti",   "Bellini",    "Basile",
    "Riva",       "Donati",     "Piras",      "Vitali",     "Battaglia",  "Sartori",    "Neri",
    "Costantini", "Milani",     "Pagano",     "Ruggiero",   "Sorrentino", "D'Amico",    "Orlando",
    "Damico",     "Negri",      "Dell'Acqua", "Lo Russo",   "Cantù",      "Pirrò",      "Donà",
    "Forlì",      "Di Stefano", "Dal Molin",  "La Rosa",    "Dell'Orto",  "Sciarrà",    "Nicolò",
    "de rosa",    "DE LUCA",    "Zanetti",    "Zanella",    "Bassi",      "Fumagalli",  "Brambilla",
};

constexpr std::string_view kMaleNames[] = {
    "Marco",     "Giuseppe",   "Giovanni",   "Antonio",  "Luca",     "Francesco", "Alessandro",
    "Andrea",    "Roberto",    "Stefano",    "Paolo",    "Mario",    "Luigi",     "Angelo",
    "Salvatore", "Vincenzo",   "Pietro",     "Carlo",    "Franco",   "Domenico",  "Bruno",
    "Sergio",    "Giorgio",    "Massimo",    "Fabio",    "Davide",   "Matteo",    "Simone",
    "Federico",  "Lorenzo",    "Riccardo",   "Gabriele", "Emanuele", "Claudio",   "Enrico",
    "Alberto",   "Nicola",     "Michele",    "Daniele",  "Giacomo",  "Niccolò",   "Nicolò",
    "Gianluca",  "Pier Paolo", "Gian Marco", "Elia",     "Tommaso",  "Filippo",   "Raffaele",
    "Umberto",
};

constexpr std::string_view kFemaleNames[] = {
    "Maria",        "Anna",       "Giuseppina", "Rosa",      "Angela",    "Giovanna",  "Teresa",
    "Lucia",        "Carmela",    "Caterina",   "Francesca", "Antonella", "Paola",     "Laura",
    "Elena",        "Chiara",     "Sara",       "Giulia",    "Martina",   "Valentina", "Alessandra",
    "Federica",     "Silvia",     "Roberta",    "Barbara",   "Monica",    "Cristina",  "Simona",
    "Daniela",      "Elisa",      "Giorgia",    "Alice",     "Sofia",     "Aurora",    "Beatrice",
    "Emma",         "Ginevra",    "Noemi",      "Marta",     "Ilaria",    "Irene",     "Lucrezia",
    "Maria Grazia", "Anna Maria", "Rosaria",    "Concetta",  "Graziella", "Loredana",  "Patrizia",
    "Donatella",
};

constexpr Place kItalianPlaces[] = {
    {"Roma", "H501"},    {"Milano", "F205"},  {"Napoli", "F839"},   {"Torino", "L219"},
    {"Palermo", "G273"}, {"Genova", "D969"},  {"Bologna", "A944"},  {"Firenze", "D612"},
    {"Bari", "A662"},    {"Catania", "C351"}, {"Venezia", "L736"},  {"Verona", "L781"},
    {"Padova", "G224"},  {"Trieste", "L424"}, {"Brescia", "B157"},  {"Parma", "G337"},
    {"Modena", "F257"},  {"Perugia", "G478"}, {"Cagliari", "B354"}, {"Bergamo", "A794"},
    {"Monza", "F704"},   {"Como", "C933"},    {"Varese", "L682"},   {"Pavia", "G388"},
    {"Cremona", "D150"}, {"Mantova", "E897"}, {"Lecco", "E507"},    {"Lodi", "E648"},
    {"Sondrio", "I829"}, {"Salerno", "H703"}, {"Lecce", "E506"},    {"Messina", "F158"},
};

constexpr Place kForeignPlaces[] = {
    {"Albania", "Z100"}, {"Romania", "Z129"}, {"Marocco", "Z330"}, {"Germania", "Z112"},
    {"Cina", "Z210"},    {"Perù", "Z611"},    {"Senegal", "Z343"}, {"Ucraina", "Z138"},
};

constexpr std::string_view kStreets[] = {
    "Via Roma",
    "Via Garibaldi",
    "Piazza Cavour",
    "Corso Vittorio Emanuele II",
    "Viale Europa",
    "Via dei Mille",
    "Via XX Settembre",
    "Via San Francesco d'Assisi",
    "Via Giuseppe Verdi",
    "Via Dante Alighieri",
    "Via Mazzini",
    "Viale della Repubblica",
    "Via Manzoni",
    "Piazza del Duomo",
    "Via Volta",
    "Via Papa Giovanni XXIII",
    "Via Nazionale",
    "Largo Leopardi",
    "Via Cesare Battisti",
    "Via Gramsci",
};

constexpr std::string_view kAslCodes[] = {"301", "302", "303", "304", "305", "306",
                                          "307", "308", "309", "310", "311", "312"};

constexpr Problem kProblems[] = {
    {"401.9", "IPERTENSIONE ESSENZIALE NON SPECIFICATA", "cardiovascolari", C::Hypertension},
    {"250.00", "DIABETE MELLITO TIPO II SENZA COMPLICAZIONI", "metaboliche", C::Diabetes},
    {"272.0", "IPERCOLESTEROLEMIA PURA", "metaboliche", C::Dyslipidemia},
    {"493.90", "ASMA NON SPECIFICATA", "respiratorie", C::Asthma},
    {"244.9", "IPOTIROIDISMO NON SPECIFICATO", "endocrine", C::Hypothyroidism},
    {"427.31", "FIBRILLAZIONE ATRIALE", "cardiovascolari", C::AtrialFibrillation},
    {"715.90", "ARTROSI NON SPECIFICATA SE GENERALIZZATA O LOCALIZZATA", "osteoarticolari",
     C::Osteoarthritis},
    {"311", "DISTURBO DEPRESSIVO NON CLASSIFICATO ALTROVE", "psichiatriche", C::Depression},
    {"585.3", "MALATTIA RENALE CRONICA, STADIO III", "nefrologiche", C::KidneyDisease},
    {"174.9", "TUMORE MALIGNO DELLA MAMMELLA, NON SPECIFICATO", "oncologiche", C::Cancer},
    {"530.81", "REFLUSSO GASTROESOFAGEO", "digestive", C::Count},
    {"278.00", "OBESITÀ NON SPECIFICATA", "metaboliche", C::Count},
    {"733.00", "OSTEOPOROSI NON SPECIFICATA", "osteoarticolari", C::Count},
    {"724.2", "LOMBALGIA", "osteoarticolari", C::Count},
    {"346.90", "EMICRANIA NON SPECIFICATA", "neurologiche", C::Count},
    {"600.00", "IPERTROFIA PROSTATICA BENIGNA", "urologiche", C::Count},
    {"466.0", "BRONCHITE ACUTA", "respiratorie", C::Count},
    {"780.79", "ASTENIA", "", C::Count},
};

constexpr Problem kAllergyProblems[] = {
    {"477.0", "RINITE ALLERGICA DA POLLINI", "allergie", C::Count},
    {"995.3", "ALLERGIA NON SPECIFICATA", "allergie", C::Count},
    {"692.9", "DERMATITE DA CONTATTO, CAUSA NON SPECIFICATA", "allergie", C::Count},
    {"V15.01", "ALLERGIA ALLE ARACHIDI", "allergie", C::Count},
    {"V14.0", "ALLERGIA ALLA PENICILLINA", "allergie", C::Count},
    {"989.5", "REAZIONE TOSSICA A VELENO DI IMENOTTERI", "allergie", C::Count},
    {"477.8", "RINITE ALLERGICA DA ACARI", "allergie", C::Count},
};

constexpr Exemption kExemptions[] = {
    {"031", "IPERTENSIONE ARTERIOSA", "401", C::Hypertension},
    {"013", "DIABETE MELLITO", "250", C::Diabetes},
    {"025", "IPERCOLESTEROLEMIA FAMILIARE", "272.0", C::Dyslipidemia},
    {"007", "ASMA", "493", C::Asthma},
    {"027", "IPOTIROIDISMO CONGENITO E ACQUISITO (GRAVE)", "244", C::Hypothyroidism},
    {"0A02", "MALATTIE CARDIACHE E DEL CIRCOLO POLMONARE", "427.31", C::AtrialFibrillation},
    {"023", "INSUFFICIENZA RENALE CRONICA", "585", C::KidneyDisease},
    {"048", "SOGGETTI AFFETTI DA PATOLOGIE NEOPLASTICHE MALIGNE", "174", C::Cancer},
    {"E01", "ULTRASESSANTACINQUENNE CON REDDITO FAMILIARE INFERIORE A 36.151,98 EURO", "",
     C::Count},
    {"E02", "DISOCCUPATO E FAMILIARI A CARICO CON REDDITO INFERIORE A 8.263,31 EURO", "", C::Count},
    {"E03", "TITOLARE DI PENSIONE SOCIALE E FAMILIARI A CARICO", "", C::Count},
    {"E04", "TITOLARE DI PENSIONE AL MINIMO DI ETÀ SUPERIORE A 60 ANNI", "", C::Count},
};

constexpr LabTest kLabTests[] = {
    {"90.27.1", "GLUCOSIO", "mg/dL", 70, 110, 65, 240, 0},
    {"90.14.1", "COLESTEROLO TOTALE", "mg/dL", 120, 200, 130, 300, 0},
    {"90.14.3", "COLESTEROLO HDL", "mg/dL", 40, 90, 28, 95, 0},
    {"90.43.2", "TRIGLICERIDI", "mg/dL", 40, 150, 45, 380, 0},
    {"90.16.3", "CREATININA", "mg/dL", 0.6, 1.2, 0.5, 2.6, 2},
    {"90.28.1", "EMOGLOBINA GLICATA (HbA1c)", "%", 4, 6, 4.6, 9.8, 1},
    {"90.04.5", "ALANINA AMINOTRANSFERASI (ALT) (GPT)", "U/L", 10, 40, 8, 95, 0},
    {"90.09.2", "ASPARTATO AMINOTRANSFERASI (AST) (GOT)", "U/L", 10, 35, 9, 80, 0},
    {"90.25.5", "GAMMA GLUTAMIL TRANSPEPTIDASI (GAMMA GT)", "U/L", 8, 55, 7, 140, 0},
    {"90.42.1", "TIREOTROPINA (TSH)", "mUI/L", 0.4, 4, 0.2, 9.5, 2},
    {"90.37.4", "POTASSIO", "mmol/L", 3.5, 5.1, 3.2, 5.8, 1},
    {"90.40.4", "SODIO", "mmol/L", 135, 145, 131, 148, 0},
    {"90.22.3", "FERRITINA", "ng/mL", 20, 300, 8, 420, 0},
    {"90.62.2", "EMOCROMO: EMOGLOBINA", "g/dL", 12, 16, 9.5, 17.5, 1},
    {"90.44.1", "URINE ESAME CHIMICO FISICO E MICROSCOPICO", "", 0, 0, 0, 0, -1},
    {"90.56.5", "ANTIGENE PROSTATICO SPECIFICO (PSA)", "ng/mL", 0, 4, 0.2, 7.5, 2},
    {"90.33.4", "MICROALBUMINURIA", "mg/L", 0, 20, 2, 80, 0},
};

constexpr Examination kInstrumental[] = {
    {"89.52", "ELETTROCARDIOGRAMMA", "11,62",
     "Ritmo sinusale, frequenza nella norma. Non "
     "alterazioni della ripolarizzazione."},
    {"88.74.1", "ECOGRAFIA DELL'ADDOME SUPERIORE", "50,10",
     "Fegato di dimensioni regolari, ecostruttura omogenea. Colecisti alitiasica."},
    {"87.44.1", "RADIOGRAFIA DEL TORACE DI ROUTINE", "15,49",
     "Non lesioni pleuroparenchimali in atto. Ombra cardiaca nei limiti."},
    {"88.73.5", "ECOCOLORDOPPLER DEI TRONCHI SOVRAAORTICI", "43,90",
     "Ispessimento mio-intimale diffuso, non stenosi emodinamicamente significative."},
    {"87.03", "TOMOGRAFIA COMPUTERIZZATA (TC) DEL CAPO", "81,20",
     "Non lesioni focali encefaliche. Sistema ventricolare in asse."},
    {"88.72.3", "ECOCOLORDOPPLERGRAFIA CARDIACA", "56,81",
     "Ventricolo sinistro di normali dimensioni, FE conservata (60%)."},
    {"89.41", "TEST CARDIOVASCOLARE DA SFORZO CON CICLOERGOMETRO", "51,65",
     "Test massimale negativo per ischemia inducibile."},
    {"45.23", "COLONSCOPIA CON ENDOSCOPIO FLESSIBILE", "90,00",
     "Esame condotto fino al cieco: non lesioni della mucosa."},
    {"87.37.1", "MAMMOGRAFIA BILATERALE", "39,00", "BI-RADS 1: nessun reperto."},
    {"89.37.1", "SPIROMETRIA SEMPLICE", "23,60", "Deficit ostruttivo lieve, reversibile."},
};

constexpr Examination kVisits[] = {
    {"89.7", "VISITA CARDIOLOGICA", "22,00", "Quadro clinico stabile, proseguire la terapia."},
    {"89.7", "VISITA DIABETOLOGICA", "22,00", "Compenso glicometabolico discreto."},
    {"89.7", "VISITA ORTOPEDICA", "22,00", "Gonartrosi bilaterale, indicata fisioterapia."},
    {"89.7", "VISITA DERMATOLOGICA", "22,00", "Nevi melanocitari benigni, controllo annuale."},
    {"89.7", "VISITA UROLOGICA", "22,00", "Ipertrofia prostatica, terapia medica."},
    {"89.7", "VISITA GINECOLOGICA", "22,00", "Nulla di patologico."},
    {"89.01", "VISITA CARDIOLOGICA DI CONTROLLO", "18,59", "Invariato rispetto al precedente."},
    {"89.01", "VISITA ENDOCRINOLOGICA DI CONTROLLO", "18,59", "Adeguare la dose di levotiroxina."},
    {"89.01", "VISITA PNEUMOLOGICA DI CONTROLLO", "18,59", "Asma ben controllata."},
};

constexpr Drug kDrugs[] = {
    {"RAMIPRIL DOC*28 CPR 5 MG", "035950047", "A", "1 cpr al mattino", C::Hypertension},
    {"AMLODIPINA TEVA*28 CPR 10 MG", "036103050", "A", "1 cpr al giorno", C::Hypertension},
    {"LOSARTAN EG*28 CPR RIV 50 MG", "037485017", "A", "1 cpr al giorno", C::Hypertension},
    {"BISOPROLOLO MYLAN*28 CPR 2,5 MG", "038123019", "A", "1 cpr al mattino", C::Hypertension},
    {"METFORMINA EG*60 CPR RIV 500 MG", "034021128", "A", "1 cpr a pranzo e a cena", C::Diabetes},
    {"GLICLAZIDE DOC*30 CPR RM 60 MG", "039017065", "A", "1 cpr a colazione", C::Diabetes},
    {"ATORVASTATINA PENSA*30 CPR RIV 20 MG", "039546018", "A", "1 cpr la sera", C::Dyslipidemia},
    {"SIMVASTATINA ALMUS*28 CPR RIV 20 MG", "037056041", "A", "1 cpr la sera", C::Dyslipidemia},
    {"SALMETEROLO/FLUTICASONE*INAL 60 DOSI 50/250 MCG", "040391019", "A",
     "1 inalazione mattino e sera", C::Asthma},
    {"SALBUTAMOLO*SPRAY 200 DOSI 100 MCG", "027036011", "A", "2 puff al bisogno", C::Asthma},
    {"LEVOTIROXINA SODICA*50 CPR 75 MCG", "032022048", "A", "1 cpr a digiuno", C::Hypothyroidism},
    {"APIXABAN*60 CPR RIV 5 MG", "040807018", "A", "1 cpr ogni 12 ore", C::AtrialFibrillation},
    {"WARFARIN SODICO*30 CPR 5 MG", "020426046", "A", "secondo schema INR", C::AtrialFibrillation},
    {"PARACETAMOLO*20 CPR 1000 MG", "012745093", "C", "1 cpr fino a 3 volte al giorno",
     C::Osteoarthritis},
    {"SERTRALINA*15 CPR RIV 50 MG", "037215013", "A", "1 cpr al giorno", C::Depression},
    {"FUROSEMIDE*30 CPR 25 MG", "016017018", "A", "1 cpr al mattino", C::KidneyDisease},
    {"LETROZOLO*30 CPR RIV 2,5 MG", "037789016", "A", "1 cpr al giorno", C::Cancer},
    {"CARDIOASPIRIN*30 CPR GASTRORES 100 MG", "024840074", "A", "1 cpr a pranzo", C::Count},
    {"AMOXICILLINA/ACIDO CLAVULANICO*12 CPR 875 MG+125 MG", "036556017", "A",
     "1 cpr ogni 12 ore per 6 giorni", C::Count},
    {"AZITROMICINA*3 CPR RIV 500 MG", "037219035", "A", "1 cpr al giorno per 3 giorni", C::Count},
    {"IBUPROFENE*12 CPR RIV 400 MG", "034165011", "C", "1 cpr al bisogno a stomaco pieno",
     C::Count},
    {"PANTOPRAZOLO*28 CPR GASTRORES 20 MG", "036990047", "A", "1 cpr prima di colazione", C::Count},
    {"COLECALCIFEROLO*FL OS 25.000 UI", "038914021", "A", "1 flacone al mese", C::Count},
    {"BETAMETASONE*10 CPR EFF 1 MG", "023082017", "A", "2 cpr al mattino per 5 giorni", C::Count},
    {"PREPARAZIONE GALENICA MAGISTRALE", "", "C", "secondo prescrizione", C::Count},
};

constexpr Service kServices[] = {
    {"VACCINAZIONE ANTINFLUENZALE", "Somministrata in ambulatorio, deltoide sinistro."},
    {"VACCINAZIONE ANTIPNEUMOCOCCICA", "Prima dose, nessuna reazione avversa."},
    {"ASSISTENZA DOMICILIARE PROGRAMMATA", "Accesso mensile a domicilio."},
    {"PRESA IN CARICO DEL PAZIENTE CRONICO", "Piano assistenziale individuale aggiornato."},
    {"VALUTAZIONE DEL RISCHIO CARDIOVASCOLARE", "Carta del rischio: classe II."},
    {"MEDICAZIONE SEMPLICE", "Ferita lacero-contusa avambraccio destro."},
};

constexpr Rehabilitation kRehabilitations[] = {
    {"CICLO DI FISIOKINESITERAPIA", "10", "15,49"},
    {"RIEDUCAZIONE MOTORIA INDIVIDUALE IN MOTULESO SEGMENTALE", "10", "17,30"},
    {"ELETTROTERAPIA ANTALGICA (TENS)", "10", "3,62"},
    {"TERAPIA CON ULTRASUONI", "6", "2,58"},
    {"MASSOTERAPIA PER DRENAGGIO LINFATICO", "10", "9,81"},
    {"ESERCIZI RESPIRATORI", "8", "7,75"},
};

constexpr Intolerance kIntolerances[] = {
    {"PENICILLINA", "004763114"},
    {"AMOXICILLINA", "026090023"},
    {"ACIDO ACETILSALICILICO", ""},
    {"IBUPROFENE", "034165011"},
    {"CODEINA", ""},
    {"SULFAMIDICI", ""},
    {"MEZZI DI CONTRASTO IODATI", ""},
    {"CLARITROMICINA", "027572043"},
    {"METAMIZOLO SODICO", "018131019"},
};

constexpr std::string_view kDeathCauses[] = {
    "410.9|INFARTO MIOCARDICO ACUTO",
    "434.91|ICTUS CEREBRALE ISCHEMICO",
    "162.9|TUMORE MALIGNO DEL POLMONE",
    "428.0|SCOMPENSO CARDIACO CONGESTIZIO",
    "486|POLMONITE",
};

}  // namespace

std::span<const std::string_view> surnames() {
    return kSurnames;
}
std::span<const std::string_view> maleNames() {
    return kMaleNames;
}
std::span<const std::string_view> femaleNames() {
    return kFemaleNames;
}
std::span<const Place> italianPlaces() {
    return kItalianPlaces;
}
std::span<const Place> foreignPlaces() {
    return kForeignPlaces;
}
std::span<const std::string_view> streets() {
    return kStreets;
}
std::span<const std::string_view> aslCodes() {
    return kAslCodes;
}
std::span<const Problem> problems() {
    return kProblems;
}
std::span<const Problem> allergyProblems() {
    return kAllergyProblems;
}
std::span<const Exemption> exemptions() {
    return kExemptions;
}
std::span<const LabTest> labTests() {
    return kLabTests;
}
std::span<const Examination> instrumentalExaminations() {
    return kInstrumental;
}
std::span<const Examination> specialistVisits() {
    return kVisits;
}
std::span<const Drug> drugs() {
    return kDrugs;
}
std::span<const Service> incentiveServices() {
    return kServices;
}
std::span<const Rehabilitation> rehabilitations() {
    return kRehabilitations;
}
std::span<const Intolerance> intolerances() {
    return kIntolerances;
}
std::span<const std::string_view> deathCauses() {
    return kDeathCauses;
}

}  // namespace kvt::vellodoc::catalogue
