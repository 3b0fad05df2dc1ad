#pragma once
// Filter texts of the host ("name=value|flag|..."): parsing, and turning them
// into one SELECT over a practice table. Every clause must be one the target
// table understands, so that a misspelt filter fails instead of passing unseen.
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvt::vellodoc {

struct Clause {
    std::string name;  // trimmed
    std::string value;
    bool hasValue = false;
};

// Splits the filter at "|". An empty filter has no clauses; an empty clause
// (as in "a=1||b=2") raises kvt::Error.
std::vector<Clause> parseFilter(std::string_view filter);

enum class ClauseKind {
    PatientCode,  // hexadecimal patient code, compared with the column
    Equals,       // column = value
    After,        // column > value, as text
    BlankList,    // column IN (blank-separated names)
    NotEmpty,     // bare flag: column holds a text
    Order,        // "ordine_data": ORDER BY column, rowid
};

struct ClauseRule {
    std::string_view name;
    ClauseKind kind;
    std::string_view column;
};

struct SelectQuery {
    std::string sql;
    std::vector<std::string> parameters;
};

struct SelectTarget {
    std::string_view table;
    std::span<const std::string_view> columns;  // selected, in this order
    std::span<const ClauseRule> rules;          // the clauses it understands
    bool codeRequired = false;                  // the PatientCode clause must be there
    std::string_view defaultOrder;              // ORDER BY text when no Order clause
};

// The patient's code behind its hexadecimal form; raises kvt::Error when there
// is none.
using CodeResolver = std::function<std::string(std::string_view hex)>;

// One SELECT for the clauses; raises kvt::Error (Italian) for an unknown,
// repeated or malformed clause.
SelectQuery buildSelect(const SelectTarget& target, std::span<const Clause> clauses,
                        const CodeResolver& resolveCode);

}  // namespace kvt::vellodoc
