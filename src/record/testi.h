#pragma once
// Small text rules shared by the record's sections.
#include <string>
#include <string_view>

namespace kvt {

// Upper-cases the letters a to z only; every other byte stays as it is.
std::string maiuscoloAscii(std::string_view testo);

}  // namespace kvt
