// Workstation seam on POSIX: the locale named by the environment, queried
// without changing the process's own locale.
#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <string_view>

#include "common/workstation.h"

namespace kvt::workstation {
namespace {

// The locale name the environment gives for a category, as setlocale(..., "")
// would choose it.
std::string_view environmentLocale(const char* categoryVariable) {
    for (const char* name : {"LC_ALL", categoryVariable, "LANG"}) {
        if (const char* value = std::getenv(name); value && *value) {
            return value;
        }
    }
    return "C";
}

bool isCLocale(std::string_view name) {
    return name == "C" || name == "POSIX" || name.starts_with("C.");
}

std::optional<std::string> query(locale_t locale, nl_item item) {
    const char* value = ::nl_langinfo_l(item, locale);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

}  // namespace

LocaleFormats localeFormats() {
    LocaleFormats out;
    if (!isCLocale(environmentLocale("LC_NUMERIC"))) {
        if (locale_t numeric = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr))) {
            out.decimalSeparator = query(numeric, RADIXCHAR);
            ::freelocale(numeric);
        }
    }
    if (!isCLocale(environmentLocale("LC_TIME"))) {
        if (locale_t time = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr))) {
            if (const auto date = query(time, D_FMT)) {
                out.shortDate = windowsFormatFromStrftime(*date);
            }
            if (const auto clock = query(time, T_FMT)) {
                out.longTime = windowsFormatFromStrftime(*clock);
            }
            ::freelocale(time);
        }
    }
    return out;
}

// The program's texts are UTF-8 and so are the files it shares with the
// workstation: nothing to convert.
unsigned codePage() {
    return 65001;
}

std::optional<std::string> toCodePage(std::string_view text) {
    return std::string(text);
}

std::string toCodePageReplacing(std::string_view text) {
    return std::string(text);
}

std::string fromCodePage(std::string_view bytes) {
    return std::string(bytes);
}

}  // namespace kvt::workstation
