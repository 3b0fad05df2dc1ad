#pragma once
#include <string>

namespace kvt {

// The program's text for a connector result code; unknown codes give
// "ERR_ERRUNKNOW:" followed by the code.
std::string descriviCodice(int code);

}  // namespace kvt
