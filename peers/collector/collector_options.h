#pragma once
// kvt-collector's command line.
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "collector/faults.h"

namespace kvt::collector {

struct ServeOptions {
    std::string host = "127.0.0.1";
    int port = 0;  // 0: a free port, printed on the first line of standard output
    std::filesystem::path store;
    std::filesystem::path dtdFolder;  // empty: kvt/dtd beside the executable
    std::vector<Fault> faults;
    std::filesystem::path certFile;  // with keyFile: serve HTTPS
    std::filesystem::path keyFile;
    std::filesystem::path tokenFile;    // when given, every request needs its bearer token
    std::filesystem::path journalFile;  // when given, one line per request received
    std::size_t maxRequestBytes = std::size_t{16} << 20;
    bool verbose = false;
};

struct CommandLine {
    enum class Action { Serve, List, Help, Version };
    Action action = Action::Serve;
    ServeOptions serve;
    std::filesystem::path listFolder;
};

// Raises std::invalid_argument with an Italian reason.
CommandLine parseCommandLine(const std::vector<std::string>& args);

std::string usage();

}  // namespace kvt::collector
