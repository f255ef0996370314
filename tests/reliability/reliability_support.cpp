#include "reliability_support.h"

#include "support.h"

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef PROGRAMMA_PATH
#error "PROGRAMMA_PATH must name the built program"
#endif

namespace {

// Reads both pipes to their end.
void drain(int out_fd, int err_fd, std::string& out, std::string& err) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int open_count = (out_fd >= 0 ? 1 : 0) + (err_fd >= 0 ? 1 : 0);
    char buffer[65536];
    while (open_count > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
}

}  // namespace

bool is_root() { return ::geteuid() == 0; }

RunResult launch(const Launch& launch) {
    TempDir io;
    std::string in_path = launch.input_from_null ? "/dev/null" : io.file("stdin");
    if (!launch.input_from_null) write_text(in_path, launch.input);
    int out_pipe[2] = {-1, -1};
    int err_pipe[2] = {-1, -1};
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) return {};

    pid_t child = ::fork();
    if (child == 0) {
        int in = ::open(in_path.c_str(), O_RDONLY);
        int out = launch.discard_stdout ? ::open("/dev/null", O_WRONLY) : out_pipe[1];
        if (in < 0 || out < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err_pipe[1], 2);
        if (launch.unprivileged && ::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
                ::_exit(125);
            }
        }
        if (::chdir(launch.work_dir.c_str()) != 0) ::_exit(126);
        if (launch.shell_prefix.empty()) {
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(PROGRAMMA_PATH));
            for (const std::string& arg : launch.args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(PROGRAMMA_PATH, argv.data());
        } else {
            std::string command = launch.shell_prefix + " exec " + shell_quote(PROGRAMMA_PATH);
            for (const std::string& arg : launch.args) {
                command += ' ';
                command += shell_quote(arg);
            }
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        }
        ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    RunResult result;
    drain(out_pipe[0], err_pipe[0], result.out, result.err);
    int raw = 0;
    while (::waitpid(child, &raw, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return result;
}

bool unprivileged_runs_possible(std::string& why) {
    if (!is_root()) return true;
    // The program must be reachable and runnable by nobody: `-a 1` ends at
    // once, printing nothing.
    Launch probe;
    probe.work_dir = "/";
    probe.args = {"-a", "1"};
    probe.input_from_null = true;
    probe.unprivileged = true;
    RunResult r = launch(probe);
    if (r.status == 0 && r.out.empty()) return true;
    why = "cannot run the program as nobody (uid 65534), status " + std::to_string(r.status);
    return false;
}

bool make_device(const std::string& path, unsigned major, unsigned minor) {
    if (!is_root()) return false;
    return ::mknod(path.c_str(), S_IFCHR | 0666, ::makedev(major, minor)) == 0;
}
