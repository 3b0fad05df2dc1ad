// kvt-collector: the KVT collection service stand-in.
#include <signal.h>

#include <exception>
#include <iostream>
#include <thread>

#include "collector/collector_options.h"
#include "collector/collector_service.h"
#include "collector/upload_store.h"

namespace {

int serve(const kvt::collector::ServeOptions& options) {
    // SIGTERM and SIGINT are taken by sigwait below, never by a handler:
    // blocked before any thread starts, so that every thread inherits it.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A client that goes away mid-answer must not end the service.
    signal(SIGPIPE, SIG_IGN);

    kvt::collector::CollectorService service(options);
    const int port = service.bind();
    std::cout << port << std::endl;
    std::cerr << "kvt-collector: in ascolto su " << options.host << ":" << port << ", archivio "
              << options.store.string() << std::endl;

    std::thread server([&service] { service.run(); });
    int received = 0;
    sigwait(&stopSignals, &received);
    service.stop();
    server.join();
    std::cerr << "kvt-collector: fermato" << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    using kvt::collector::CommandLine;
    CommandLine line;
    try {
        line = kvt::collector::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        std::cerr << "kvt-collector: " << e.what() << "\n" << kvt::collector::usage();
        return 2;
    }
    try {
        switch (line.action) {
            case CommandLine::Action::Help:
                std::cout << kvt::collector::usage();
                return 0;
            case CommandLine::Action::Version:
                std::cout << "kvt-collector 1.0 (protocollo KVT 1.1)\n";
                return 0;
            case CommandLine::Action::List:
                if (!std::filesystem::is_directory(line.listFolder)) {
                    std::cerr << "kvt-collector: cartella non trovata: " << line.listFolder.string()
                              << '\n';
                    return 1;
                }
                std::cout << kvt::collector::formatListing(
                    kvt::collector::listStore(line.listFolder));
                return 0;
            case CommandLine::Action::Serve:
                return serve(line.serve);
        }
    } catch (const std::exception& e) {
        std::cerr << "kvt-collector: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
