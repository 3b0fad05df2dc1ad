#include "peers/vellodoc/filter.h"

#include <algorithm>
#include <set>

#include "common/errors.h"

namespace kvt::vellodoc {
namespace {

constexpr std::string_view kDateOrder = "ordine_data";

std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::vector<std::string> blankSeparated(std::string_view text) {
    std::vector<std::string> names;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto end = text.find(' ', pos);
        const auto part = text.substr(pos, end == std::string_view::npos ? end : end - pos);
        if (!part.empty()) {
            names.emplace_back(part);
        }
        if (end == std::string_view::npos) {
            break;
        }
        pos = end + 1;
    }
    return names;
}

}  // namespace

std::vector<Clause> parseFilter(std::string_view filter) {
    std::vector<Clause> clauses;
    if (filter.empty()) {
        return clauses;
    }
    std::size_t pos = 0;
    while (true) {
        const auto end = filter.find('|', pos);
        const auto text = filter.substr(pos, end == std::string_view::npos ? end : end - pos);
        Clause clause;
        const auto equals = text.find('=');
        clause.hasValue = equals != std::string_view::npos;
        clause.name = trim(text.substr(0, equals));
        if (clause.hasValue) {
            clause.value = text.substr(equals + 1);
        }
        if (clause.name.empty()) {
            throw Error("Clausola di filtro vuota");
        }
        clauses.push_back(std::move(clause));
        if (end == std::string_view::npos) {
            break;
        }
        pos = end + 1;
    }
    return clauses;
}

SelectQuery buildSelect(const SelectTarget& target, std::span<const Clause> clauses,
                        const CodeResolver& resolveCode) {
    SelectQuery query;
    std::string where;
    std::string order = std::string(target.defaultOrder);
    std::set<std::string_view> seen;
    bool codeGiven = false;

    const auto addCondition = [&](const std::string& condition) {
        where += where.empty() ? " WHERE " : " AND ";
        where += condition;
    };
    const auto parameter = [&](std::string value) {
        query.parameters.push_back(std::move(value));
        return "?" + std::to_string(query.parameters.size());
    };

    for (const Clause& clause : clauses) {
        const auto rule = std::find_if(target.rules.begin(), target.rules.end(),
                                       [&](const ClauseRule& r) { return r.name == clause.name; });
        if (rule == target.rules.end()) {
            throw Error("Clausola di filtro sconosciuta per \"" + std::string(target.table) +
                        "\": " + clause.name);
        }
        if (!seen.insert(rule->name).second) {
            throw Error("Clausola di filtro ripetuta: " + clause.name);
        }
        const bool flag = rule->kind == ClauseKind::NotEmpty;
        if (flag && clause.hasValue) {
            throw Error("La clausola di filtro " + clause.name + " non vuole un valore");
        }
        if (!flag && !clause.hasValue) {
            throw Error("La clausola di filtro " + clause.name + " vuole un valore");
        }
        const std::string column(rule->column);
        switch (rule->kind) {
            case ClauseKind::PatientCode:
                codeGiven = true;
                addCondition(column + " = " + parameter(resolveCode(clause.value)));
                break;
            case ClauseKind::Equals:
                addCondition(column + " = " + parameter(clause.value));
                break;
            case ClauseKind::After:
                addCondition(column + " > " + parameter(clause.value));
                break;
            case ClauseKind::BlankList: {
                const auto names = blankSeparated(clause.value);
                if (names.empty()) {
                    addCondition("0");
                    break;
                }
                std::string list;
                for (const auto& name : names) {
                    list += list.empty() ? "" : ", ";
                    list += parameter(name);
                }
                addCondition(column + " IN (" + list + ")");
                break;
            }
            case ClauseKind::NotEmpty:
                addCondition(column + " <> ''");
                break;
            case ClauseKind::Order:
                if (clause.value != kDateOrder) {
                    throw Error("Ordinamento sconosciuto: " + clause.value);
                }
                order = column + ", rowid";
                break;
        }
    }
    if (target.codeRequired && !codeGiven) {
        throw Error("Manca la clausola codice= nel filtro di \"" + std::string(target.table) +
                    "\"");
    }

    query.sql = "SELECT ";
    for (std::size_t i = 0; i < target.columns.size(); ++i) {
        query.sql += i ? ", " : "";
        query.sql += target.columns[i];
    }
    query.sql += " FROM ";
    query.sql += target.table;
    query.sql += where;
    if (!order.empty()) {
        query.sql += " ORDER BY " + order;
    }
    return query;
}

}  // namespace kvt::vellodoc
