#pragma once
// The collection service stand-in: the HTTP(S) endpoints of the connector's
// wire protocol over cpp-httplib, the request checks, the store and the
// injected faults.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "collector/answer.h"
#include "collector/collector_options.h"
#include "collector/faults.h"
#include "collector/request_check.h"
#include "collector/request_journal.h"
#include "collector/upload_store.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace kvt::collector {

class CollectorService {
  public:
    // Loads the document type, opens the store, reads the token and sets up
    // the server; raises std::runtime_error on any of them failing.
    explicit CollectorService(ServeOptions options);
    ~CollectorService();

    // Binds the listening socket and gives the port.
    int bind();
    // Serves until stop() is called.
    void run();
    // May be called from any thread; wakes delayed and stalled answers.
    void stop();

  private:
    void setUpRoutes();
    bool authorised(const httplib::Request& request) const;
    void answerConnect(const httplib::Request& request, httplib::Response& response);
    void answerQuery(const httplib::Request& request, httplib::Response& response);
    Receipt nextReceipt();
    // Waits until the time passed or the service stops; true when stopped.
    bool waitOrStop(std::chrono::milliseconds duration);

    ServeOptions options_;
    RequestChecker checker_;
    UploadStore store_;
    RequestJournal journal_;
    FaultPlan faults_;
    std::string token_;
    std::unique_ptr<httplib::Server> server_;
    std::atomic<std::uint64_t> receipts_{0};
    std::mutex stopMutex_;
    std::condition_variable stopSignal_;
    bool stopping_ = false;
};

std::filesystem::path defaultDtdFolder();

}  // namespace kvt::collector
