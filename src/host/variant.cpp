#include <cmath>
#include <cstdio>
#include <limits>

#include "common/errors.h"
#include "common/workstation.h"
#include "host/automation.h"

namespace kvt::automation {
namespace {

std::function<std::string()>& decimalSeparatorSource() {
    static std::function<std::string()> source;
    return source;
}

std::string decimalSeparator() {
    const auto& source = decimalSeparatorSource();
    return source ? source() : workstation::decimalSeparator();
}

std::string floatingText(double value) {
    if (value == 0) {
        return "0";  // also for a negative zero
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15G", value);
    std::string text = buf;
    if (const auto point = text.find('.'); point != std::string::npos) {
        text.replace(point, 1, decimalSeparator());
    }
    return text;
}

std::string dateText(const Date& d) {
    char buf[64];
    const bool zeroDay = d.year == 1899 && d.month == 12 && d.day == 30;
    const bool hasTime = d.hour || d.minute || d.second;
    std::string text;
    if (!zeroDay) {
        std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d.day, d.month, d.year);
        text = buf;
    }
    if (hasTime || zeroDay) {
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", d.hour, d.minute, d.second);
        if (!text.empty()) {
            text += ' ';
        }
        text += buf;
    }
    return text;
}

[[noreturn]] void notAnInteger(const std::string& what) {
    throw Error("Conversione in numero intero non valida: " + what);
}

std::int32_t checkedInteger(std::int64_t value, const std::string& what) {
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        notAnInteger(what);
    }
    return static_cast<std::int32_t>(value);
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::int32_t textInteger(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isBlank(text[first])) {
        ++first;
    }
    while (last > first && isBlank(text[last - 1])) {
        --last;
    }
    bool negative = false;
    if (first < last && (text[first] == '-' || text[first] == '+')) {
        negative = text[first] == '-';
        ++first;
    }
    if (first == last) {
        notAnInteger('"' + text + '"');
    }
    std::int64_t value = 0;
    for (std::size_t i = first; i < last; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') {
            notAnInteger('"' + text + '"');
        }
        value = value * 10 + (c - '0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) {
            notAnInteger('"' + text + '"');
        }
    }
    return checkedInteger(negative ? -value : value, '"' + text + '"');
}

}  // namespace

void setDecimalSeparatorSource(std::function<std::string()> source) {
    decimalSeparatorSource() = std::move(source);
}

std::string Variant::toText() const {
    switch (kind_) {
        case Kind::Empty:
            return {};
        case Kind::Null:
            throw Error("Conversione di un valore Null in stringa non valida");
        case Kind::Missing:
            throw Error("Conversione di un parametro mancante in stringa non valida");
        case Kind::Text:
            return asText();
        case Kind::Integer:
            return std::to_string(asInteger());
        case Kind::Floating:
            return floatingText(asFloating());
        case Kind::Date:
            return dateText(asDate());
        case Kind::Boolean:
            return asBoolean() ? "True" : "False";
    }
    return {};
}

std::int32_t Variant::toInteger() const {
    switch (kind_) {
        case Kind::Empty:
            return 0;
        case Kind::Null:
            notAnInteger("valore Null");
        case Kind::Missing:
            notAnInteger("parametro mancante");
        case Kind::Text:
            return textInteger(asText());
        case Kind::Integer:
            return checkedInteger(asInteger(), std::to_string(asInteger()));
        case Kind::Floating: {
            const double value = asFloating();
            // Ties go to the even neighbour, as in the default rounding mode.
            const double rounded = std::nearbyint(value);
            if (!std::isfinite(rounded) || rounded < std::numeric_limits<std::int32_t>::min() ||
                rounded > std::numeric_limits<std::int32_t>::max()) {
                notAnInteger(floatingText(value));
            }
            return static_cast<std::int32_t>(rounded);
        }
        case Kind::Date:
            notAnInteger(dateText(asDate()));
        case Kind::Boolean:
            return asBoolean() ? -1 : 0;
    }
    notAnInteger("valore sconosciuto");
}

}  // namespace kvt::automation
