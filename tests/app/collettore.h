#pragma once
// kvt-collector as a child process of a test, on 127.0.0.1 and a port of its
// own choosing; stopped when the object goes.
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kvt::test {

class Collettore {
  public:
    // Starts the collector storing into `archivio` with the given --fault
    // options; raises std::runtime_error when it does not start within a few
    // seconds.
    explicit Collettore(std::filesystem::path archivio, std::vector<std::string> guasti = {});
    ~Collettore();
    Collettore(const Collettore&) = delete;
    Collettore& operator=(const Collettore&) = delete;

    int porta() const { return porta_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(porta_); }
    // The uploads stored, by pseudonym: "<PSEUDONIMO>.xml" files.
    const std::filesystem::path& archivio() const { return archivio_; }
    // Stops it now (SIGTERM, then SIGKILL after a while).
    void ferma();

  private:
    std::filesystem::path archivio_;
    pid_t processo_ = -1;
    int porta_ = 0;
};

// A loopback port where nothing listens (bound, then released).
int portaChiusa();

}  // namespace kvt::test
