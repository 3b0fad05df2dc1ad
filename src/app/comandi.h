#pragma once
// Names shared by the operator commands and the front ends.

namespace kvt {

// The fiscal code whose upload file the hidden single send sends:
// "kvt/xml/AAAAAA00A00A000A_kvt.xml".
inline constexpr const char* kCodiceInvioSingolo = "AAAAAA00A00A000A";

}  // namespace kvt
