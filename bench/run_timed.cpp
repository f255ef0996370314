// Runs a command and writes its wall time, peak resident memory and page
// faults, so that runs of a few milliseconds can be timed without the
// start-up of a timing program or a clock-reading process in the
// measurement.
//
// Usage: run_timed RESULT_FILE COMMAND [ARGUMENT...]
// The command inherits standard input and output. RESULT_FILE receives
// "SECONDS PEAK_KIB MINOR_FAULTS" (the clock runs from just before the command is started
// to the moment it has ended). The exit status is the command's, or 128 plus
// the signal that ended it.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RESULT_FILE COMMAND [ARGUMENT...]\n", argv[0]);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("fork");
        return 2;
    }
    if (child == 0) {
        ::execvp(argv[2], argv + 2);
        std::fprintf(stderr, "%s: cannot run %s: %s\n", argv[0], argv[2], std::strerror(errno));
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    while (::wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("wait4");
            return 2;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::FILE* result = std::fopen(argv[1], "w");
    if (result == nullptr || std::fprintf(result, "%.6f %ld %ld\n", seconds, usage.ru_maxrss, usage.ru_minflt) < 0 ||
        std::fclose(result) != 0) {
        std::perror(argv[1]);
        return 2;
    }
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
