// A connector client library for the tests of vd_kvt.exe only (never in
// bin/): the five functions, answering as a connector that reaches nothing.
#include "connector/lklib.h"

namespace {

// "ERR_UNCONN: non connesso"
constexpr int kNonConnesso = 14;

}  // namespace

extern "C" {

void LK_CALL LKConfig(void) {}

int LK_CALL LKConnect(const char*, const char*) {
    return kNonConnesso;
}

const char* LK_CALL LKQuery(const char*, int, int) {
    return nullptr;
}

int LK_CALL LKGetError(void) {
    return kNonConnesso;
}

int LK_CALL LKDisconnect(void) {
    return kNonConnesso;
}
}
