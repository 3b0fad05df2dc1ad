// The practice generator. Every patient draws from its own random stream
// (seed and patient number), so a seed always gives the same practice. A
// patient's history follows from age and chronic conditions: visits, and at
// visits the measurements, prescriptions, examinations and services a general
// practitioner files. A few patients of each awkward kind are mixed in.
#include "peers/vellodoc/generator.h"

#include <unistd.h>
#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

#include "common/errors.h"
#include "common/radix.h"
#include "peers/vellodoc/fiscal_code.h"
#include "peers/vellodoc/generator_data.h"
#include "peers/vellodoc/practice.h"
#include "peers/vellodoc/sqlite_db.h"

namespace kvt::vellodoc {
namespace {

namespace cat = catalogue;
using cat::Condition;
using Cell = std::optional<std::string>;

constexpr int kConditions = static_cast<int>(Condition::Count);

// ---------------------------------------------------------------- randomness

class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        // splitmix64: small, fast and the same on every platform.
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // A whole number from lo to hi, both included.
    int between(int lo, int hi) {
        if (hi <= lo) {
            return lo;
        }
        return lo + static_cast<int>(next() % static_cast<std::uint64_t>(hi - lo + 1));
    }
    double real() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
    double real(double lo, double hi) { return lo + (hi - lo) * real(); }
    bool chance(double p) { return real() < p; }
    template <typename T>
    const T& pick(std::span<const T> items) {
        return items[next() % items.size()];
    }
    // Poisson-distributed count with the given mean (Knuth; means are small).
    int poisson(double mean) {
        if (mean <= 0) {
            return 0;
        }
        const double limit = std::exp(-mean);
        int k = 0;
        double p = real();
        while (p > limit && k < 100) {
            ++k;
            p *= real();
        }
        return k;
    }

  private:
    std::uint64_t state_;
};

std::uint64_t mix(std::uint64_t a, std::uint64_t b) {
    Random r(a ^ (b * 0xD1B54A32D192ED03ULL));
    return r.next();
}

// ---------------------------------------------------------------- dates

struct Ymd {
    int year, month, day;
};

// Days since 1970-01-01 of a civil date, and back.
int dayNumber(int y, int m, int d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

Ymd civil(int z) {
    z += 719468;
    const int era = (z >= 0 ? z : z - 146096) / 146097;
    const int doe = z - era * 146097;
    const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int mp = (5 * doy + 2) / 153;
    const int d = doy - (153 * mp + 2) / 5 + 1;
    const int m = mp + (mp < 10 ? 3 : -9);
    return {yoe + era * 400 + (m <= 2), m, d};
}

std::string dateText(int day) {
    const Ymd c = civil(day);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", c.year, c.month, c.day);
    return buf;
}

std::string timeText(int minutes) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d:%02d", (minutes / 60) % 24, minutes % 60);
    return buf;
}

std::string dateTimeText(int day, int minutes, int seconds = 0) {
    return dateText(day) + " " + timeText(minutes) + (seconds < 10 ? ":0" : ":") +
           std::to_string(seconds);
}

std::optional<int> parseDate(std::string_view text) {
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (text.size() != 10 ||
        std::sscanf(std::string(text).c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3) {
        return std::nullopt;
    }
    if (y < 1900 || y > 2200 || m < 1 || m > 12 || d < 1 || d > 31) {
        return std::nullopt;
    }
    const int day = dayNumber(y, m, d);
    const Ymd back = civil(day);
    if (back.month != m || back.day != d) {
        return std::nullopt;
    }
    return day;
}

// ---------------------------------------------------------------- texts

std::string decimalComma(double value, int decimals) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    std::string text = buf;
    std::replace(text.begin(), text.end(), '.', ',');
    return text;
}

std::string digits(Random& rng, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += static_cast<char>('0' + rng.between(0, 9));
    }
    return text;
}

std::string xmlEscaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// ---------------------------------------------------------------- writing

void bindRow(Statement& insert, std::initializer_list<Cell> cells) {
    insert.reset();
    int index = 1;
    for (const Cell& cell : cells) {
        if (cell) {
            insert.bind(index, *cell);
        } else {
            insert.bindNull(index);
        }
        ++index;
    }
    insert.run();
}

struct Writer {
    explicit Writer(Database& db)
        : paziente(db.prepare(
              "INSERT INTO pazienti(codice, codice_medico, tipo_di_convenzione, cognome, nome, "
              "codice_fiscale, sesso, data_nascita, gruppo_sanguigno, rh, codice_asl, via_piazza, "
              "numero_civico, mmg_data_scelta, mmg_data_revoca, decesso_data_evento, "
              "decesso_codice_icd9_cm, decesso_causa, xtac) VALUES "
              "(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,?17,?18,?19)")),
          visita(db.prepare("INSERT INTO cart_visite(codice, data_open, ora) VALUES (?1,?2,?3)")),
          intolleranza(db.prepare(
              "INSERT INTO intolleranza_da_farmaco(codice, nome_intolleranza, data_registrazione, "
              "codice_minsan, variato_il) VALUES (?1,?2,?3,?4,?5)")),
          problema(db.prepare(
              "INSERT INTO problema(codice, codice_icd9_cm, nome_problema, certezza, data_inizio, "
              "classe_patologia, variato_il) VALUES (?1,?2,?3,?4,?5,?6,?7)")),
          esenzione(db.prepare(
              "INSERT INTO esenzione(codice, codice_nazionale_esenzione, nome_esenzione, "
              "numero_esenzione, codice_icd9_cm, data_rilascio, data_scadenza, variato_il) "
              "VALUES (?1,?2,?3,?4,?5,?6,?7,?8)")),
          accertamento(db.prepare(
              "INSERT INTO prescrizione_accertamento(codice, id_prescrizione_vd, "
              "codice_accertamento, codice_vd_prescrizione, codice_vd_tipo_prescrizione, "
              "codice_nomenclatore_tariffario, nome_prescrizione, data_richiesta, "
              "data_esecuzione_presunta, data_esecuzione, codice_vd_fuori_norma, "
              "risultato_valore_breve, risultato_unita_di_misura, risultato_referto, "
              "prezzo_unitario_euro, variato_il) VALUES "
              "(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16)")),
          varia(db.prepare(
              "INSERT INTO prescrizione_varia(codice, nome_prescrizione, data_prescrizione, "
              "quantita, prezzo_unitario_euro, variato_il) VALUES (?1,?2,?3,?4,?5,?6)")),
          farmaco(db.prepare(
              "INSERT INTO prescrizione_farmaco(codice, codice_minsan, nome_prescrizione, "
              "data_prescrizione, quantita, farmaco_fascia, farmaco_continuativo, posologia, "
              "variato_il) VALUES (?1,?2,?3,?4,?5,?6,?7,?8,?9)")),
          incentivante(db.prepare(
              "INSERT INTO prestazione_incentivante(codice, data_esecuzione, nome_prestazione, "
              "breve_nota_prestazione, variato_il) VALUES (?1,?2,?3,?4,?5)")),
          pressione(db.prepare(
              "INSERT INTO pressione(codice, data_esecuzione, pressione_massima, "
              "pressione_minima, frequenza_cardiaca, variato_il) VALUES (?1,?2,?3,?4,?5,?6)")) {}

    Statement paziente, visita, intolleranza, problema, esenzione, accertamento, varia, farmaco,
        incentivante, pressione;
};

// ---------------------------------------------------------------- patients

enum class Awkward {
    None,
    NoFiscalCode,
    MissingMandatory,
    NoVisits,
    XmlSpecials,
    LongTexts,
    BrokenChangeDocument,
};
constexpr Awkward kAwkwardKinds[] = {Awkward::NoFiscalCode, Awkward::MissingMandatory,
                                     Awkward::NoVisits,     Awkward::XmlSpecials,
                                     Awkward::LongTexts,    Awkward::BrokenChangeDocument};

// An examination row that a change document may name.
struct ExamRow {
    std::string id;
    std::string changed;  // variato_il
};

struct Practice {
    const GeneratorOptions& options;
    Writer& writer;
    int firstDay = 0;  // first day of the history
    int lastDay = 0;   // the "until" day
    std::uint64_t nextPrescriptionId = 100001;
    GenerationSummary summary;
};

class PatientBuilder {
  public:
    PatientBuilder(Practice& practice, int index, Awkward awkward)
        : p_(practice),
          rng_(mix(practice.options.seed, static_cast<std::uint64_t>(index) + 1)),
          index_(index),
          awkward_(awkward) {}

    void build();

  private:
    void chooseIdentity();
    void chooseConditions();
    void planVisits();
    void writeProblems();
    void writeExemptions();
    void writeIntolerances();
    void writeVisit(std::size_t visitIndex);
    void writeLifeStyle(int day, bool force);
    void writeMeasurement(int day, std::string_view code, std::string_view name, std::string value,
                          std::string_view unit);
    void writeLabPanel(int day);
    void writeExamination(int day, const cat::Examination& exam, std::string_view type);
    void writeSkippedRow(int day);
    void writeDrug(int day, const cat::Drug& drug, bool chronic);
    void writeAwkwardTexts();
    void writeLongTexts();
    std::string changeDocument();
    void writePatientRow(const std::string& xtac);

    std::string nextId() { return std::to_string(p_.nextPrescriptionId++); }
    std::string changedAt(int day) {
        return dateTimeText(day, rng_.between(8 * 60, 19 * 60 + 59), rng_.between(0, 59));
    }
    void count() { ++p_.summary.datasetRows; }
    bool has(Condition c) const { return conditions_[static_cast<std::size_t>(c)]; }
    int age(int day) const { return (day - birth_) / 365; }

    Practice& p_;
    Random rng_;
    int index_;
    Awkward awkward_;

    std::string code_;
    std::string doctor_;
    std::string convention_ = "S";
    std::string surname_, name_;
    char sex_ = 'M';
    int birth_ = 0;
    const cat::Place* birthplace_ = nullptr;
    int chosen_ = 0;
    std::optional<int> revoked_;
    std::optional<int> died_;
    std::array<bool, kConditions> conditions_{};
    std::array<int, kConditions> onset_{};
    std::vector<const cat::Drug*> chronicDrugs_;
    int smoking_ = 0;  // 0 never, 1 former, 2 smoker
    int cigarettes_ = 1;
    int activity_ = 0;
    int heightCm_ = 170;
    double weightKg_ = 70;
    std::vector<int> visits_;
    int lastLifeStyle_ = -100000;
    bool heightTaken_ = false;
    std::vector<ExamRow> exams_;
};

void PatientBuilder::build() {
    chooseIdentity();
    chooseConditions();
    if (awkward_ != Awkward::NoVisits) {
        planVisits();
        writeProblems();
        writeExemptions();
        writeIntolerances();
        for (std::size_t i = 0; i < visits_.size(); ++i) {
            writeVisit(i);
        }
        if (awkward_ == Awkward::XmlSpecials) {
            writeAwkwardTexts();
        }
        if (awkward_ == Awkward::LongTexts) {
            writeLongTexts();
        }
    }
    std::string xtac;
    if (awkward_ == Awkward::BrokenChangeDocument ||
        (awkward_ == Awkward::None && !exams_.empty() && rng_.chance(0.04))) {
        xtac = changeDocument();
        ++p_.summary.changeDocuments;
    }
    writePatientRow(xtac);
    ++p_.summary.patients;
    if (awkward_ != Awkward::None) {
        ++p_.summary.awkwardPatients;
    }
    if (doctor_ == p_.options.doctorCode && convention_ == "S") {
        ++p_.summary.doctorPatients;
    }
}

void PatientBuilder::chooseIdentity() {
    code_ = std::to_string(100001 + index_);
    const double doctorDraw = rng_.real();
    doctor_ = doctorDraw < 0.95 ? p_.options.doctorCode
                                : (p_.options.doctorCode == "MMG002" ? "MMG003" : "MMG002");
    if (rng_.chance(0.03)) {
        convention_ = rng_.chance(0.5) ? "N" : "P";
    }
    sex_ = rng_.chance(0.52) ? 'F' : 'M';
    surname_ = rng_.pick(cat::surnames());
    name_ = sex_ == 'F' ? rng_.pick(cat::femaleNames()) : rng_.pick(cat::maleNames());
    if (awkward_ == Awkward::XmlSpecials) {
        surname_ = rng_.chance(0.5) ? "Dell'Acqua" : "D'Amico Sciarrà";
        name_ = sex_ == 'F' ? "Lucrezia Noè" : "Niccolò";
    }

    const double ageDraw = rng_.real();
    const int ageYears = ageDraw < 0.20   ? rng_.between(14, 34)
                         : ageDraw < 0.55 ? rng_.between(35, 59)
                         : ageDraw < 0.85 ? rng_.between(60, 79)
                                          : rng_.between(80, 99);
    birth_ = p_.lastDay - ageYears * 365 - rng_.between(0, 364);
    birthplace_ =
        rng_.chance(0.92) ? &rng_.pick(cat::italianPlaces()) : &rng_.pick(cat::foreignPlaces());

    const int adult = birth_ + 14 * 365;
    chosen_ = std::max(adult, p_.lastDay - rng_.between(30, 30 * 365));
    if (awkward_ == Awkward::NoVisits) {
        chosen_ = p_.lastDay - rng_.between(1, 20);
    }
    chosen_ = std::min(chosen_, p_.lastDay - 1);

    if (ageYears >= 70 && rng_.chance(0.05) && awkward_ == Awkward::None) {
        const int from = std::max(chosen_ + 30, p_.firstDay);
        if (from < p_.lastDay) {
            died_ = rng_.between(from, p_.lastDay);
            revoked_ = died_;
        }
    } else if (rng_.chance(0.03) && chosen_ + 400 < p_.lastDay) {
        revoked_ = rng_.between(chosen_ + 365, p_.lastDay - 1);
    } else if (rng_.chance(0.02)) {
        // A temporary resident: assistance ends on a day still to come.
        revoked_ = p_.lastDay + rng_.between(30, 600);
    }

    smoking_ = rng_.chance(0.5) ? 0 : (rng_.chance(0.5) ? 1 : 2);
    cigarettes_ = rng_.between(1, 3);
    activity_ = rng_.between(0, 3);
    heightCm_ = sex_ == 'F' ? rng_.between(150, 178) : rng_.between(160, 192);
    const double bmi = rng_.real(19.0, 34.0);
    weightKg_ = bmi * (heightCm_ / 100.0) * (heightCm_ / 100.0);
}

void PatientBuilder::chooseConditions() {
    const int a = age(p_.lastDay);
    const auto byAge = [&](double young, double middle, double old, double eldest) {
        return a < 40 ? young : a < 60 ? middle : a < 80 ? old : eldest;
    };
    const std::array<double, kConditions> chances = {
        byAge(0.03, 0.20, 0.50, 0.65),  // hypertension
        byAge(0.01, 0.06, 0.15, 0.18),  // diabetes
        byAge(0.03, 0.15, 0.30, 0.30),  // dyslipidemia
        0.07,                           // asthma
        sex_ == 'F' ? 0.08 : 0.02,      // hypothyroidism
        byAge(0.0, 0.01, 0.06, 0.12),   // atrial fibrillation
        byAge(0.0, 0.20, 0.30, 0.35),   // osteoarthritis
        0.07,                           // depression
        byAge(0.0, 0.01, 0.05, 0.10),   // kidney disease
        byAge(0.0, 0.02, 0.04, 0.04),   // cancer
    };
    for (int c = 0; c < kConditions; ++c) {
        if (rng_.chance(chances[static_cast<std::size_t>(c)])) {
            conditions_[static_cast<std::size_t>(c)] = true;
            const int earliest = birth_ + 18 * 365;
            onset_[static_cast<std::size_t>(c)] =
                rng_.between(std::max(earliest, p_.lastDay - 25 * 365), p_.lastDay - 30);
            std::vector<const cat::Drug*> options;
            for (const auto& drug : cat::drugs()) {
                if (drug.condition == static_cast<Condition>(c)) {
                    options.push_back(&drug);
                }
            }
            if (!options.empty()) {
                chronicDrugs_.push_back(options[rng_.next() % options.size()]);
                if (options.size() > 1 && rng_.chance(0.3)) {
                    chronicDrugs_.push_back(options[rng_.next() % options.size()]);
                }
            }
        }
    }
}

void PatientBuilder::planVisits() {
    const int from = std::max(p_.firstDay, chosen_);
    int to = p_.lastDay;
    if (revoked_ && *revoked_ < to) {
        to = *revoked_;
    }
    if (to <= from) {
        return;
    }
    int chronic = 0;
    for (bool c : conditions_) {
        chronic += c ? 1 : 0;
    }
    const double perYear = std::min(14.0, 1.2 + age(p_.lastDay) / 30.0 + 1.6 * chronic);
    for (int start = from; start < to; start += 365) {
        const int end = std::min(to, start + 365);
        const int n = rng_.poisson(perYear * (end - start) / 365.0);
        for (int i = 0; i < n; ++i) {
            visits_.push_back(rng_.between(start, end - 1));
        }
    }
    std::sort(visits_.begin(), visits_.end());
    for (const int day : visits_) {
        // Office hours, in five-minute steps; a few visits share their day.
        const int minutes = rng_.chance(0.6) ? rng_.between(8 * 12, 12 * 12) * 5
                                             : rng_.between(15 * 12, 19 * 12 + 6) * 5;
        bindRow(p_.writer.visita, {code_, dateText(day), timeText(minutes)});
        ++p_.summary.visits;
        if (rng_.chance(0.03)) {
            bindRow(p_.writer.visita,
                    {code_, dateText(day), timeText(std::min(minutes + 45, 19 * 60 + 55))});
            ++p_.summary.visits;
        }
    }
}

void PatientBuilder::writeProblems() {
    const auto certainty = [&](double suspected) -> Cell {
        const double draw = rng_.real();
        if (draw < suspected) {
            return std::string("S");
        }
        if (draw < suspected + 0.03) {
            return std::string("s");  // typed in lower case: not a suspicion
        }
        if (draw < suspected + 0.08) {
            return std::nullopt;
        }
        return std::string("N");
    };
    for (const auto& problem : cat::problems()) {
        if (problem.condition == Condition::Count || !has(problem.condition)) {
            continue;
        }
        const int onset = onset_[static_cast<std::size_t>(problem.condition)];
        bindRow(p_.writer.problema,
                {code_, std::string(problem.icd9), std::string(problem.name), certainty(0.08),
                 dateText(onset), std::string(problem.classe), changedAt(onset)});
        count();
    }
    if (visits_.empty()) {
        return;
    }
    const int extra = rng_.poisson(0.8);
    for (int i = 0; i < extra; ++i) {
        const auto& problem = cat::problems()[static_cast<std::size_t>(
            rng_.between(kConditions, static_cast<int>(cat::problems().size()) - 1))];
        const int day = visits_[rng_.next() % visits_.size()];
        bindRow(p_.writer.problema,
                {code_, std::string(problem.icd9), std::string(problem.name), certainty(0.3),
                 dateText(day), problem.classe.empty() ? Cell() : Cell(std::string(problem.classe)),
                 changedAt(day)});
        count();
    }
    if (rng_.chance(0.08)) {
        const auto& allergy = rng_.pick(cat::allergyProblems());
        const int day = visits_[rng_.next() % visits_.size()];
        bindRow(p_.writer.problema,
                {code_, std::string(allergy.icd9), std::string(allergy.name), certainty(0.1),
                 dateText(day), std::string(allergy.classe), changedAt(day)});
        count();
    }
}

void PatientBuilder::writeExemptions() {
    const auto write = [&](const cat::Exemption& exemption, int issued) {
        Cell expires;
        if (rng_.chance(0.35)) {
            expires = dateText(issued + rng_.between(1, 5) * 365);
        }
        bindRow(p_.writer.esenzione,
                {code_, std::string(exemption.code), std::string(exemption.name), digits(rng_, 8),
                 exemption.icd9.empty() ? Cell() : Cell(std::string(exemption.icd9)),
                 dateText(issued), expires, changedAt(std::max(issued, p_.firstDay))});
        count();
    };
    for (const auto& exemption : cat::exemptions()) {
        if (exemption.condition != Condition::Count && has(exemption.condition) &&
            rng_.chance(0.6)) {
            write(exemption,
                  onset_[static_cast<std::size_t>(exemption.condition)] + rng_.between(10, 200));
        }
    }
    const int a = age(p_.lastDay);
    if ((a >= 66 && rng_.chance(0.4)) || (a < 65 && rng_.chance(0.02))) {
        const auto& byIncome =
            cat::exemptions()[a >= 66 ? 8 + static_cast<std::size_t>(rng_.between(0, 1)) * 2 : 9];
        write(byIncome, std::max(chosen_, p_.lastDay - rng_.between(30, 3000)));
    }
}

void PatientBuilder::writeIntolerances() {
    if (visits_.empty() || !rng_.chance(0.06)) {
        return;
    }
    const int n = rng_.between(1, 2);
    for (int i = 0; i < n; ++i) {
        const auto& intolerance = rng_.pick(cat::intolerances());
        const int day = visits_[rng_.next() % visits_.size()];
        bindRow(p_.writer.intolleranza,
                {code_, std::string(intolerance.name), dateText(day),
                 intolerance.minsan.empty() ? Cell() : Cell(std::string(intolerance.minsan)),
                 changedAt(day)});
        count();
    }
}

void PatientBuilder::writeVisit(std::size_t visitIndex) {
    const int day = visits_[visitIndex];
    const bool first = visitIndex == 0;
    const bool hypertensive = has(Condition::Hypertension);

    if (rng_.chance(hypertensive ? 0.7 : 0.12)) {
        const int systolic = hypertensive ? rng_.between(120, 170) : rng_.between(100, 140);
        const int diastolic = std::min(systolic - 30, rng_.between(60, 100));
        Cell rate;
        if (rng_.chance(0.8)) {
            rate = std::to_string(rng_.between(52, 98));
        }
        bindRow(p_.writer.pressione, {code_, dateText(day), std::to_string(systolic),
                                      std::to_string(diastolic), rate, changedAt(day)});
        count();
    }

    writeLifeStyle(day, first);

    if ((first && rng_.chance(0.6)) || (!heightTaken_ && rng_.chance(0.05))) {
        heightTaken_ = true;
        // Now and then the height is typed in metres, as it happens.
        const std::string height =
            rng_.chance(0.05) ? decimalComma(heightCm_ / 100.0, 2) : std::to_string(heightCm_);
        writeMeasurement(day, "height", "ALTEZZA", height, "cm");
    }
    if (rng_.chance(0.15)) {
        weightKg_ = std::max(40.0, weightKg_ + rng_.real(-2.0, 2.0));
        writeMeasurement(day, "weight", "PESO", decimalComma(weightKg_, 1), "kg");
    }
    if (rng_.chance(0.05)) {
        writeMeasurement(day, "circonferenza_vita", "CIRCONFERENZA VITA",
                         std::to_string(static_cast<int>(weightKg_ * 0.9 + 25)), "cm");
    }

    int chronic = 0;
    for (bool c : conditions_) {
        chronic += c ? 1 : 0;
    }
    if (rng_.chance(chronic ? 0.3 : 0.08)) {
        writeLabPanel(day);
    }
    if (rng_.chance(chronic ? 0.06 : 0.03)) {
        const double draw = rng_.real();
        writeExamination(day, rng_.pick(cat::instrumentalExaminations()),
                         draw < 0.7    ? "S"
                         : draw < 0.95 ? "R"
                                       : "x");
    }
    if (rng_.chance(chronic ? 0.05 : 0.025)) {
        writeExamination(day, rng_.pick(cat::specialistVisits()), "V");
    }
    if (rng_.chance(0.04)) {
        writeSkippedRow(day);
    }

    for (const cat::Drug* drug : chronicDrugs_) {
        if (rng_.chance(0.75)) {
            writeDrug(day, *drug, true);
        }
    }
    if (rng_.chance(0.12)) {
        std::vector<const cat::Drug*> occasional;
        for (const auto& drug : cat::drugs()) {
            if (drug.condition == Condition::Count) {
                occasional.push_back(&drug);
            }
        }
        writeDrug(day, *occasional[rng_.next() % occasional.size()], false);
    }

    if (rng_.chance(has(Condition::Osteoarthritis) ? 0.08 : 0.01)) {
        const auto& rehab = rng_.pick(cat::rehabilitations());
        bindRow(p_.writer.varia,
                {code_, std::string(rehab.name), dateText(day), std::string(rehab.quantity),
                 std::string(rehab.price), changedAt(day)});
        count();
    }

    const Ymd date = civil(day);
    const bool autumn = date.month == 10 || date.month == 11;
    if (autumn && age(day) >= 65 && rng_.chance(0.5)) {
        const auto& flu = cat::incentiveServices()[0];
        bindRow(p_.writer.incentivante, {code_, dateText(day), std::string(flu.name),
                                         std::string(flu.note), changedAt(day)});
        count();
    } else if (rng_.chance(chronic ? 0.03 : 0.01)) {
        const auto& service = cat::incentiveServices()[static_cast<std::size_t>(
            rng_.between(1, static_cast<int>(cat::incentiveServices().size()) - 1))];
        bindRow(p_.writer.incentivante,
                {code_, dateText(day), std::string(service.name),
                 rng_.chance(0.8) ? Cell(std::string(service.note)) : Cell(), changedAt(day)});
        count();
    }
}

// Smoking (code 2832) and physical activity (2835) are kept as results of
// examinations of the host's own kind, which the examination pass skips.
void PatientBuilder::writeLifeStyle(int day, bool force) {
    if (!force && day - lastLifeStyle_ < 3 * 365) {
        return;
    }
    lastLifeStyle_ = day;
    if (smoking_ == 2 && !force && rng_.chance(0.25)) {
        smoking_ = 1;
    }
    std::string smoking;
    if (smoking_ == 0) {
        smoking = rng_.chance(0.7) ? "N" : "X";
    } else if (smoking_ == 1) {
        static constexpr std::string_view kFormer[] = {"E", "E", "E", "M", "F", "Z", "U"};
        smoking = rng_.pick(std::span<const std::string_view>(kFormer));
    } else {
        const double draw = rng_.real();
        smoking = draw < 0.8 ? std::to_string(cigarettes_) : draw < 0.95 ? "S" : "5";
    }
    if (rng_.chance(0.1)) {
        smoking[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(smoking[0])));
    }
    const auto write = [&](std::string_view code, std::string_view prescription,
                           std::string_view tariff, std::string_view name, Cell result) {
        bindRow(p_.writer.accertamento,
                {code_, nextId(), std::string(code), std::string(prescription), "_VD",
                 std::string(tariff), std::string(name), dateText(day), Cell(), dateText(day),
                 Cell(), result, Cell(), Cell(), Cell(), changedAt(day)});
        count();
    };
    write("anamnesi_fumo", "2832", "VD_1946", "ANAMNESI FUMO",
          rng_.chance(0.05) ? Cell() : Cell(smoking));
    if (rng_.chance(0.7)) {
        static constexpr std::string_view kActivity[][3] = {
            {"ASSENTE", "Assente", "assente"},
            {"LEGGERA", "Leggera", "leggera"},
            {"MEDIA", "Media", "media"},
            {"PESANTE", "Pesante", "pesante"},
        };
        std::string result(kActivity[activity_][rng_.between(0, 2)]);
        if (rng_.chance(0.02)) {
            result = rng_.chance(0.5) ? "MEDIA " : "MODERATA";
        }
        write("attività_fisica", "2835", "VD_1935", "ATTIVITÀ FISICA", result);
    }
}

void PatientBuilder::writeMeasurement(int day, std::string_view code, std::string_view name,
                                      std::string value, std::string_view unit) {
    bindRow(p_.writer.accertamento,
            {code_, nextId(), std::string(code), "2801", rng_.chance(0.5) ? "EO" : "_VD", "VD_2609",
             std::string(name), dateText(day), Cell(), dateText(day), Cell(), std::move(value),
             std::string(unit), Cell(), Cell(), changedAt(day)});
    count();
}

void PatientBuilder::writeLabPanel(int day) {
    std::vector<std::size_t> tests;
    const auto add = [&](std::size_t i) {
        if (std::find(tests.begin(), tests.end(), i) == tests.end()) {
            tests.push_back(i);
        }
    };
    add(0);  // glucose
    if (has(Condition::Diabetes)) {
        add(5);
        add(16);
    }
    if (has(Condition::Dyslipidemia) || rng_.chance(0.5)) {
        add(1);
        add(2);
        add(3);
    }
    if (has(Condition::KidneyDisease) || has(Condition::Hypertension)) {
        add(4);
        add(10);
    }
    if (has(Condition::Hypothyroidism)) {
        add(9);
    }
    if (sex_ == 'M' && age(day) >= 50 && rng_.chance(0.3)) {
        add(15);
    }
    const int more = rng_.between(0, 3);
    for (int i = 0; i < more; ++i) {
        add(static_cast<std::size_t>(
            rng_.between(0, static_cast<int>(cat::labTests().size()) - 1)));
    }

    // The request may carry no date, only the expected one.
    const bool dated = rng_.chance(0.9);
    const int executed = day + rng_.between(2, 20);
    const bool done = executed <= p_.lastDay && rng_.chance(0.95);
    static constexpr std::string_view kTypes[] = {"L", "L", "L", "L",  "L",   "L", "L",
                                                  "L", "L", "L", "00", "_SG", "l"};
    const std::string type(rng_.pick(std::span<const std::string_view>(kTypes)));
    for (const std::size_t t : tests) {
        const auto& test = cat::labTests()[t];
        Cell result, flag, unit;
        if (done) {
            if (test.decimals < 0) {
                static constexpr std::string_view kWords[] = {"NEGATIVO", "NEGATIVO", "TRACCE",
                                                              "POSITIVO"};
                const auto word = rng_.pick(std::span<const std::string_view>(kWords));
                result = std::string(word);
                flag = std::string(word == "NEGATIVO" ? "0" : "1");
            } else {
                const double value = rng_.chance(0.7) ? rng_.real(test.low, test.high)
                                                      : rng_.real(test.min, test.max);
                result = decimalComma(value, test.decimals);
                if (rng_.chance(0.9)) {
                    flag = std::string(value < test.low || value > test.high ? "1" : "0");
                }
                if (rng_.chance(0.97)) {
                    unit = std::string(test.unit);
                }
            }
        }
        const std::string id = nextId();
        const std::string changed = changedAt(done ? executed : day);
        bindRow(p_.writer.accertamento,
                {code_, id, Cell(), std::to_string(1000 + t), type, std::string(test.tariff),
                 std::string(test.name), dated ? Cell(dateText(day)) : Cell(),
                 dated ? Cell() : Cell(dateText(day + 7)), done ? Cell(dateText(executed)) : Cell(),
                 flag, result, unit, Cell(), Cell(), changed});
        count();
        exams_.push_back({id, changed});
    }
}

void PatientBuilder::writeExamination(int day, const cat::Examination& exam,
                                      std::string_view type) {
    const int executed = day + rng_.between(7, 60);
    const bool done = executed <= p_.lastDay && rng_.chance(0.9);
    Cell report;
    if (done && rng_.chance(0.9)) {
        report = std::string(exam.report);
    }
    Cell flag;
    if (done && rng_.chance(0.7)) {
        flag = std::string(rng_.chance(0.2) ? "1" : "0");
    }
    const std::string id = nextId();
    const std::string changed = changedAt(done ? executed : day);
    bindRow(p_.writer.accertamento,
            {code_, id, Cell(), std::to_string(3000 + rng_.between(0, 99)), std::string(type),
             std::string(exam.tariff), std::string(exam.name), dateText(day), Cell(),
             done ? Cell(dateText(executed)) : Cell(), flag, Cell(), Cell(), report,
             rng_.chance(0.8) ? Cell(std::string(exam.price)) : Cell(), changed});
    count();
    exams_.push_back({id, changed});
}

// Rows of kinds the examination pass leaves out: the doctor's own objective
// examination, family history, hospital stays, and services of the host's
// excluded tariffs.
void PatientBuilder::writeSkippedRow(int day) {
    static constexpr std::string_view kRows[][3] = {
        {"EO", "", "ESAME OBIETTIVO GENERALE"},
        {"FAM", "", "ANAMNESI FAMILIARE: DIABETE MELLITO"},
        {"fam", "", "ANAMNESI FAMILIARE: CARDIOPATIA ISCHEMICA"},
        {"RIC", "", "RICOVERO OSPEDALIERO: MEDICINA INTERNA"},
        {"S", "VD_2609", "CERTIFICATO DI IDONEITÀ ALL'ATTIVITÀ SPORTIVA NON AGONISTICA"},
        {"L", "VD_1946", "QUESTIONARIO DI AUTOVALUTAZIONE"},
    };
    const auto& row = kRows[rng_.between(0, static_cast<int>(std::size(kRows)) - 1)];
    bindRow(
        p_.writer.accertamento,
        {code_, nextId(), Cell(), std::to_string(5000 + rng_.between(0, 99)), std::string(row[0]),
         row[1].empty() ? Cell() : Cell(std::string(row[1])), std::string(row[2]), dateText(day),
         Cell(), dateText(day), Cell(), Cell(), Cell(), Cell(), Cell(), changedAt(day)});
    count();
}

void PatientBuilder::writeDrug(int day, const cat::Drug& drug, bool chronic) {
    // The host changed how it stores the flag halfway through the history.
    const bool older = day < (p_.firstDay + p_.lastDay) / 2;
    const std::string continuous = chronic ? (older ? "TRUE" : "1") : (older ? "FALSE" : "0");
    bindRow(
        p_.writer.farmaco,
        {code_, drug.minsan.empty() ? Cell() : Cell(std::string(drug.minsan)),
         std::string(drug.name), dateText(day), std::to_string(chronic ? rng_.between(1, 3) : 1),
         std::string(drug.fascia), continuous, std::string(drug.posology), changedAt(day)});
    count();
}

// Texts with the characters XML must escape, and accents, in every kind of row.
void PatientBuilder::writeAwkwardTexts() {
    const int day = visits_.empty() ? p_.lastDay - 10 : visits_.back();
    bindRow(p_.writer.problema,
            {code_, "786.50", "DOLORE TORACICO \"ATIPICO\" <DA RIVALUTARE> & ANSIA", "S",
             dateText(day), Cell(), changedAt(day)});
    bindRow(p_.writer.problema, {code_, "V15.06", "ALLERGIA AGLI INSETTI: PUNTURA D'APE & VESPA",
                                 "N", dateText(day), "allergie", changedAt(day)});
    bindRow(p_.writer.intolleranza, {code_, "ACIDO ACETILSALICILICO & FANS \"ASPIRINA\" <ORALE>",
                                     dateText(day), "024840074", changedAt(day)});
    bindRow(p_.writer.esenzione,
            {code_, "E99", "ESENZIONE <SPECIALE> & 'PROVVISORIA' PER INVALIDITÀ", "12345678",
             Cell(), dateText(day), Cell(), changedAt(day)});
    bindRow(
        p_.writer.farmaco,
        {code_, "036556017", "AMOXICILLINA & AC. CLAVULANICO*12 CPR <875+125 MG>", dateText(day),
         "1", "A", "0", "1 cpr ogni 12 ore, più acqua & \"a stomaco pieno\"", changedAt(day)});
    const std::string id = nextId();
    const std::string changed = changedAt(day);
    bindRow(p_.writer.accertamento,
            {code_, id, Cell(), "3001", "S", "88.74.1", "ECOGRAFIA DELL'ADDOME <COMPLETO> & RENI",
             dateText(day), Cell(), dateText(day), "0", Cell(), Cell(),
             "Esito: l'esame è \"nella norma\" & nessuna lesione > 1 cm; perché già controllato.",
             "50,10", changed});
    exams_.push_back({id, changed});
    bindRow(p_.writer.incentivante,
            {code_, dateText(day), "VACCINAZIONE ANTINFLUENZALE <ADIUVATA>",
             "Eseguita, però la seconda dose è rinviata <a data da definire> & più avanti",
             changedAt(day)});
    bindRow(p_.writer.varia, {code_, "RIEDUCAZIONE POST-CHIRURGICA \"SPALLA\" & GOMITO <DX>",
                              dateText(day), "10", "17,30", changedAt(day)});
    p_.summary.datasetRows += 8;
}

// Texts past the lengths of the upload fields, and control characters.
void PatientBuilder::writeLongTexts() {
    const int day = visits_.empty() ? p_.lastDay - 10 : visits_.back();
    const std::string longName =
        "DISTURBO MISTO ANSIOSO-DEPRESSIVO CON MANIFESTAZIONI SOMATICHE RICORRENTI, INSONNIA "
        "INIZIALE E CEFALEA MUSCOLO-TENSIVA CRONICA";
    bindRow(p_.writer.problema,
            {code_, "300.4", longName, "S", dateText(day), Cell(), changedAt(day)});
    bindRow(p_.writer.problema, {code_, "300.40", longName + " IN TRATTAMENTO", "N", dateText(day),
                                 Cell(), changedAt(day)});
    bindRow(p_.writer.esenzione,
            {code_, "0A31",
             "SOGGETTI AFFETTI DA IPERTENSIONE ARTERIOSA CON DANNO D'ORGANO E CON PREGRESSI "
             "EVENTI CARDIOVASCOLARI MAGGIORI DOCUMENTATI",
             "87654321", "401.1", dateText(day - 400), dateText(day + 700), changedAt(day)});
    bindRow(p_.writer.farmaco,
            {code_, "040391019",
             "SALMETEROLO XINAFOATO/FLUTICASONE PROPIONATO*INALATORE 60 DOSI 50/500 MCG",
             dateText(day), "1", "A", "1",
             "Una inalazione al mattino e una alla sera, sciacquando la bocca dopo ogni uso; "
             "in caso di crisi aggiungere salbutamolo 2 puff fino a 4 volte al giorno",
             changedAt(day)});
    bindRow(p_.writer.incentivante,
            {code_, dateText(day), "PRESA IN CARICO DEL PAZIENTE CRONICO",
             "Piano assistenziale individuale concordato con il paziente e con i familiari: "
             "controlli trimestrali, esami ematici semestrali, visita specialistica annuale.",
             changedAt(day)});
    const std::string id = nextId();
    const std::string changed = changedAt(day);
    bindRow(p_.writer.accertamento, {code_, id, Cell(), "3002", "S", "89.52", "ELETTROCARDIOGRAMMA",
                                     dateText(day), Cell(), dateText(day), "1", Cell(), Cell(),
                                     "Ritmo sinusale.\nBlocco di branca destra incompleto.\x0B"
                                     "Da confrontare con il tracciato precedente.",
                                     "11,62", changed});
    exams_.push_back({id, changed});
    p_.summary.datasetRows += 6;
}

// The change document the host keeps for a patient whose record was taken
// before: when it was taken, and the external row ids of examinations.
std::string PatientBuilder::changeDocument() {
    const int taken = p_.lastDay - rng_.between(30, 400);
    const std::string takenText = dateTimeText(taken, rng_.between(8 * 60, 19 * 60), 0);
    const int brokenKind = index_ % 3;
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<cartella_variazioni>\r\n";
    if (awkward_ != Awkward::BrokenChangeDocument || brokenKind != 0) {
        xml +=
            "  <datatime_acquisizione_cartella>" +
            (awkward_ == Awkward::BrokenChangeDocument && brokenKind == 1 ? "empty" : takenText) +
            "</datatime_acquisizione_cartella>\r\n";
    }
    xml += "  <righe>\r\n";
    int n = 0;
    for (const ExamRow& row : exams_) {
        if (row.changed <= takenText && !rng_.chance(0.1)) {
            continue;
        }
        xml += "    <riga>\r\n      <tabella>prescrizione_accertamento</tabella>\r\n";
        xml += "      <rowid_vellodoc>" + string2hex(row.id) + "</rowid_vellodoc>\r\n";
        const bool withoutExternal =
            awkward_ == Awkward::BrokenChangeDocument && brokenKind == 2 && n == 0;
        if (!withoutExternal) {
            const std::string external = rng_.chance(0.1) ? "ERR" : "KVT-" + row.id;
            xml += "      <rowid_esterno>" + xmlEscaped(external) + "</rowid_esterno>\r\n";
        }
        xml += "    </riga>\r\n";
        ++n;
    }
    xml += "  </righe>\r\n</cartella_variazioni>\r\n";
    return xml;
}

void PatientBuilder::writePatientRow(const std::string& xtac) {
    Cell fiscal = fiscalCode({surname_, name_, sex_, civil(birth_).year, civil(birth_).month,
                              civil(birth_).day, birthplace_->code});
    Cell sex = std::string(1, sex_);
    Cell birth = dateText(birth_);
    Cell asl = std::string(rng_.pick(cat::aslCodes()));
    if (awkward_ == Awkward::NoFiscalCode) {
        fiscal = index_ % 2 ? Cell() : Cell(std::string());
    }
    if (awkward_ == Awkward::MissingMandatory) {
        const int which = index_ % 4;
        if (which == 0 || which == 3) {
            sex = std::nullopt;
        }
        if (which == 1 || which == 3) {
            birth = std::nullopt;
        }
        if (which == 2 || which == 3) {
            asl = std::nullopt;
        }
    }
    Cell group, rh;
    if (rng_.chance(0.45)) {
        const double draw = rng_.real();
        group = std::string(draw < 0.4 ? "0" : draw < 0.82 ? "A" : draw < 0.93 ? "B" : "AB");
        rh = std::string(rng_.chance(0.85) ? "+" : "-");
    }
    if (awkward_ == Awkward::LongTexts) {
        group = std::string("A");
        rh = std::string("POS");
    }
    std::string street(rng_.pick(cat::streets()));
    if (awkward_ == Awkward::XmlSpecials) {
        street = "Via dell'Università <interno 3> & C.";
    }
    Cell deathIcd, deathCause;
    if (died_) {
        const std::string_view cause = rng_.pick(cat::deathCauses());
        const auto bar = cause.find('|');
        deathIcd = std::string(cause.substr(0, bar));
        deathCause = std::string(cause.substr(bar + 1));
    }
    bindRow(p_.writer.paziente,
            {code_, doctor_, convention_, surname_, name_, fiscal, sex, birth, group, rh, asl,
             street, std::to_string(rng_.between(1, 180)), dateText(chosen_),
             revoked_ ? Cell(dateText(*revoked_)) : Cell(), died_ ? Cell(dateText(*died_)) : Cell(),
             deathIcd, deathCause, xtac.empty() ? Cell() : Cell(xtac)});
}

// Which patients are of an awkward kind: a few of each, spread over the
// practice, never more than half of it.
std::vector<Awkward> awkwardPlan(int patients, std::uint64_t seed) {
    std::vector<Awkward> plan(static_cast<std::size_t>(patients), Awkward::None);
    const int kinds = static_cast<int>(std::size(kAwkwardKinds));
    const int each = std::max(1, patients / 250);
    const int total = std::min(patients / 2, each * kinds);
    std::vector<int> order(static_cast<std::size_t>(patients));
    for (int i = 0; i < patients; ++i) {
        order[static_cast<std::size_t>(i)] = i;
    }
    Random rng(mix(seed, 0));
    for (int i = patients - 1; i > 0; --i) {
        std::swap(order[static_cast<std::size_t>(i)],
                  order[static_cast<std::size_t>(rng.between(0, i))]);
    }
    for (int slot = 0; slot < total; ++slot) {
        plan[static_cast<std::size_t>(order[static_cast<std::size_t>(slot)])] =
            kAwkwardKinds[slot % kinds];
    }
    return plan;
}

void checkOptions(const GeneratorOptions& options) {
    if (options.patients < 1 || options.patients > 1000000) {
        throw Error("Numero di pazienti non valido (da 1 a 1000000)");
    }
    if (options.years < 1 || options.years > 50) {
        throw Error("Numero di anni non valido (da 1 a 50)");
    }
    if (options.doctorCode.empty() || options.user.empty()) {
        throw Error("Codice medico e nome utente non possono essere vuoti");
    }
    if (!parseDate(options.until)) {
        throw Error("Data finale non valida (AAAA-MM-GG): " + options.until);
    }
}

}  // namespace

GenerationSummary generatePractice(const GeneratorOptions& options,
                                   const std::filesystem::path& path) {
    checkOptions(options);
    if (std::filesystem::exists(path) && !isGeneratedPractice(path)) {
        throw Error("Il file esiste e non è una pratica di vellodoc-sim: " + path.string());
    }
    const std::filesystem::path temporary = path.string() + ".tmp-" + std::to_string(::getpid());
    std::filesystem::remove(temporary);
    GenerationSummary summary;
    try {
        Database db = Database::open(temporary, Database::Mode::Create);
        db.exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;");
        Transaction transaction(db);
        db.exec(practiceSchema());
        addStandinTables(db);
        addUser(db, options.user, options.password, options.doctorCode);

        Writer writer(db);
        const int lastDay = *parseDate(options.until);
        Practice practice{options, writer, lastDay - options.years * 365 + 1, lastDay, 100001, {}};
        const auto plan = awkwardPlan(options.patients, options.seed);
        for (int i = 0; i < options.patients; ++i) {
            PatientBuilder(practice, i, plan[static_cast<std::size_t>(i)]).build();
        }
        const auto mark = [&](std::string_view key, const std::string& value) {
            db.prepare("INSERT OR REPLACE INTO standin_info(chiave, valore) VALUES (?1, ?2)")
                .bind(1, key)
                .bind(2, value)
                .run();
        };
        mark("generatore", "vellodoc-sim");
        mark("seme", std::to_string(options.seed));
        mark("pazienti", std::to_string(options.patients));
        mark("anni", std::to_string(options.years));
        mark("fino_al", options.until);
        mark("codice_medico", options.doctorCode);
        addStandinIndexes(db);
        transaction.commit();
        db.exec("PRAGMA journal_mode = DELETE; ANALYZE;");
        db.close();
        summary = practice.summary;
        std::filesystem::rename(temporary, path);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw;
    }
    return summary;
}

bool isGeneratedPractice(const std::filesystem::path& path) {
    try {
        Database db = Database::open(path, Database::Mode::ReadOnly);
        Statement mark = db.prepare("SELECT valore FROM standin_info WHERE chiave = 'generatore'");
        return mark.step() && mark.text(0) == "vellodoc-sim";
    } catch (const Error&) {
        return false;
    }
}

}  // namespace kvt::vellodoc
