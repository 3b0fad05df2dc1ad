#pragma once
// The catalogues the practice generator draws from: names, places, clinical
// problems, exemptions, examinations, drugs and services, with the codes a
// general practitioner's record would hold.
#include <span>
#include <string_view>

namespace kvt::vellodoc::catalogue {

struct Place {
    std::string_view name;
    std::string_view code;  // cadastral code; "Z..." for a foreign country
};

// A chronic condition: the problem it files, the exemption it may give, and
// the drugs and checks that follow it.
enum class Condition {
    Hypertension,
    Diabetes,
    Dyslipidemia,
    Asthma,
    Hypothyroidism,
    AtrialFibrillation,
    Osteoarthritis,
    Depression,
    KidneyDisease,
    Cancer,
    Count
};

struct Problem {
    std::string_view icd9;
    std::string_view name;
    std::string_view classe;  // classe_patologia; "allergie" for allergies
    Condition condition;      // Condition::Count when none
};

struct Exemption {
    std::string_view code;
    std::string_view name;
    std::string_view icd9;
    Condition condition;  // Condition::Count: an exemption by income or status
};

struct LabTest {
    std::string_view tariff;
    std::string_view name;
    std::string_view unit;  // empty for a result in words
    double low, high;       // normal range
    double min, max;        // range of generated values
    int decimals;
};

struct Examination {
    std::string_view tariff;
    std::string_view name;
    std::string_view price;  // euro, decimal comma
    std::string_view report;
};

struct Drug {
    std::string_view name;  // "NAME*PACKAGE"
    std::string_view minsan;
    std::string_view fascia;
    std::string_view posology;
    Condition condition;  // Condition::Count: an occasional drug
};

struct Service {
    std::string_view name;
    std::string_view note;
};

struct Rehabilitation {
    std::string_view name;
    std::string_view quantity;
    std::string_view price;
};

struct Intolerance {
    std::string_view name;
    std::string_view minsan;
};

std::span<const std::string_view> surnames();
std::span<const std::string_view> maleNames();
std::span<const std::string_view> femaleNames();
std::span<const Place> italianPlaces();
std::span<const Place> foreignPlaces();
std::span<const std::string_view> streets();
std::span<const std::string_view> aslCodes();
std::span<const Problem> problems();
std::span<const Problem> allergyProblems();
std::span<const Exemption> exemptions();
std::span<const LabTest> labTests();
std::span<const Examination> instrumentalExaminations();
std::span<const Examination> specialistVisits();
std::span<const Drug> drugs();
std::span<const Service> incentiveServices();
std::span<const Rehabilitation> rehabilitations();
std::span<const Intolerance> intolerances();
std::span<const std::string_view> deathCauses();  // "ICD9|text"

}  // namespace kvt::vellodoc::catalogue
