// kvt-bench-runner: runs one program and tells what it cost, for bench/run.
//
//   kvt-bench-runner OUT PROGRAM [ARG...]
//
// Writes to OUT one line "wall_s user_s system_s maxrss_kib status" about the
// program alone (wait4 on it), then exits with the program's status. A small
// process of its own, so that the peak resident memory of the child is not
// inflated by a large parent's pages at fork time (the kernel keeps the
// forking process's high-water mark in the child's figure).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("uso: kvt-bench-runner OUT PROGRAMMA [ARGOMENTO...]\n", stderr);
        return 2;
    }
    const double start = now();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("kvt-bench-runner: fork");
        return 127;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "kvt-bench-runner: %s: %s\n", argv[2], std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("kvt-bench-runner: wait4");
            return 127;
        }
    }
    const double wall = now() - start;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out) {
        std::perror(argv[1]);
        return 127;
    }
    std::fprintf(out, "%.6f %.6f %.6f %ld %d\n", wall, seconds(usage.ru_utime),
                 seconds(usage.ru_stime), usage.ru_maxrss, code);
    std::fclose(out);
    return code;
}
