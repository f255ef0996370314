// Test helpers: files, folders and launches of the built programs.
#include "support.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

constexpr uid_t kNobody = 65534;

// The polynomial kernel reads standard input at every evaluation: in-process
// tests must never wait on the terminal.
struct DetachStdin {
    DetachStdin() { std::freopen("/dev/null", "r", stdin); }
} detach_stdin;

void remove_tree(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return;
    if (S_ISDIR(info.st_mode)) {
        ::chmod(path.c_str(), 0700);
        for (const std::string& name : list_dir(path)) remove_tree(path + "/" + name);
        ::rmdir(path.c_str());
    } else {
        ::unlink(path.c_str());
    }
}

// Reads a descriptor to its end, then closes it.
std::string read_all(int fd) {
    std::string text;
    char buffer[65536];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        } else if (errno != EINTR) {
            break;
        }
    }
    ::close(fd);
    return text;
}

}  // namespace

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/programma-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path = pattern;
    ::chmod(path.c_str(), 0755);  // nobody may enter it for unprivileged runs
}

TempDir::~TempDir() { remove_tree(path); }

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string read_text(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

bool file_exists(const std::string& path) { return file_mode(path) != 0; }

mode_t file_mode(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    std::error_code unreadable;  // a folder that cannot be read lists no names
    for (const auto& entry : std::filesystem::directory_iterator(path, unreadable)) {
        names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

RunResult launch(const Launch& launch) {
    const bool as_nobody = launch.unprivileged && ::geteuid() == 0;
    TempDir io;
    // The build tree may lie where the user nobody cannot reach it (a clone in
    // a private folder), so an unprivileged run starts a copy of the program,
    // under the same name, in this folder open to every user.
    const std::string program = as_nobody ? io.file(std::filesystem::path(launch.program).filename()) : launch.program;
    if (as_nobody) {
        std::error_code ignored;  // a run that cannot start says so by its status
        std::filesystem::copy_file(launch.program, program, ignored);
        ::chmod(program.c_str(), 0755);
    }
    const std::string in_path = launch.input_from_null ? "/dev/null" : io.file("stdin");
    if (!launch.input_from_null) write_text(in_path, launch.input);
    int out_pipe[2] = {-1, -1};
    int err_pipe[2] = {-1, -1};
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) return {};
    const pid_t child = ::fork();
    if (child == 0) {
        const int in = ::open(in_path.c_str(), O_RDONLY);
        if (in < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out_pipe[1], 1);
        ::dup2(err_pipe[1], 2);
        ::close_range(3, ~0U, 0);  // the program starts with only its standard streams
        if (as_nobody && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(125);
        }
        if (::chdir(launch.work_dir.c_str()) != 0) ::_exit(126);
        for (const std::string& setting : launch.environment) ::putenv(const_cast<char*>(setting.c_str()));
        std::string command = launch.shell_prefix + " exec " + shell_quote(program);
        for (const std::string& arg : launch.args) command += ' ' + shell_quote(arg);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    RunResult result;
    std::thread err_reader([&] { result.err = read_all(err_pipe[0]); });  // both pipes at once, or a full one blocks
    result.out = read_all(out_pipe[0]);
    err_reader.join();
    result.status = wait_for(child);
    return result;
}

pid_t spawn(const std::string& program, const std::vector<std::string>& args, int in, int out,
            const std::string& work_dir, bool ignore_sigpipe) {
    const pid_t child = ::fork();
    if (child != 0) return child;
    const int null_fd = ::open("/dev/null", O_RDWR);
    ::dup2(in >= 0 ? in : null_fd, 0);
    ::dup2(out >= 0 ? out : null_fd, 1);
    ::dup2(null_fd, 2);
    ::close_range(3, ~0U, 0);
    if (ignore_sigpipe) std::signal(SIGPIPE, SIG_IGN);
    // A test run in the background must not hand on ignored interrupts.
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) std::signal(number, SIG_DFL);
    if (::chdir(work_dir.c_str()) != 0) ::_exit(126);
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
}

int wait_for(pid_t pid) {
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

bool watched(int watch, const std::string& prefix, int limit_ms) {
    alignas(inotify_event) char buffer[4096];
    pollfd fd{watch, POLLIN, 0};
    while (::poll(&fd, 1, limit_ms) > 0) {
        const ssize_t got = ::read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0 && std::string(event->name).rfind(prefix, 0) == 0) return true;
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    return false;
}

bool is_root() { return ::geteuid() == 0; }

bool unprivileged_runs_possible(std::string& why) {
    if (!is_root()) return true;
    // -a 1 ends at once, printing nothing.
    const RunResult r = launch({.work_dir = "/", .args = {"-a", "1"}, .input_from_null = true, .unprivileged = true});
    if (r.status == 0 && r.out.empty()) return true;
    why = "cannot run the program as nobody (uid 65534), status " + std::to_string(r.status);
    return false;
}

bool make_device(const std::string& path, unsigned major, unsigned minor) {
    return is_root() && ::mknod(path.c_str(), S_IFCHR | 0666, ::makedev(major, minor)) == 0;
}

std::string usage_text(const std::string& program_name) {
    return "\n"
           "Usage:" +
           program_name +
           " [Options]\n"
           "\n"
           "Avaiable Options: {default value}\n"
           "-a  [0|1] Use adaboost \t\t\t\t{no} \n"
           "-c  [0-9] Constant of gaussian kernel   \t{3} \n"
           "-d  [0-9] Degree of polinomial kernel   \t{2}\n"
           "-e  [0-9] Epocs of training algoritm    \t{2}\n"
           "-dg [0-9] Digit to recognize\t\t\t{0}\n"
           "-k  [pol||gauss] Type of kernel to use  \t{polinomial} \n"
           "-l  [path/to/file] Path to saved list of previous run {no_list}\n"
           "-tr [path/to/file] Path to Training Set \t{Data/Training_set}\n"
           "-ts [path/to/file] Path to Test Set     \t{Data/Test_set}\n"
           "-vot[0|1] Use voted perceptron algoritm         {no}\n"
           "\n"
           "Wrong parameters makes this message appear\n"
           "\n";
}
