#pragma once
// The connector client library's five functions, as the program calls them.
// On POSIX the library is LKlib.so, found beside the program.
extern "C" {
void LKConfig(void);
int LKConnect(const char* service, const char* second);
const char* LKQuery(const char* request, int n, int timeoutSeconds);
int LKGetError(void);
int LKDisconnect(void);
}
