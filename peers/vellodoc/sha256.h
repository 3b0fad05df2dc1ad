#pragma once
// SHA-256, the digest of the host users' passwords: the platform's own
// implementation (sha256_posix.cpp, sha256_win.cpp), the same bytes on both.
#include <array>
#include <string_view>

namespace kvt::vellodoc {

using Sha256Digest = std::array<unsigned char, 32>;

// Raises kvt::Error when the platform cannot compute it.
Sha256Digest sha256(std::string_view bytes);

}  // namespace kvt::vellodoc
