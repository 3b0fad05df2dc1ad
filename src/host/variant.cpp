#include <cmath>
#include <cstdio>

#include "common/errors.h"
#include "host/automation.h"

namespace kvt::automation {

std::string Variant::toText() const {
    char buf[64];
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
        case Kind::Floating: {
            // Shortest general form with up to 15 significant digits.
            std::snprintf(buf, sizeof buf, "%.15G", asFloating());
            return buf;
        }
        case Kind::Date: {
            const Date& d = asDate();
            std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d.day, d.month, d.year);
            std::string text = buf;
            if (d.hour || d.minute || d.second) {
                std::snprintf(buf, sizeof buf, " %02d:%02d:%02d", d.hour, d.minute, d.second);
                text += buf;
            }
            return text;
        }
        case Kind::Boolean:
            return asBoolean() ? "True" : "False";
    }
    return {};
}

}  // namespace kvt::automation
