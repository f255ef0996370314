// Test helpers: files, folders and launches of the built programs.
#include "support.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
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
#include <map>
#include <sstream>

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

// Reads both pipes to their end.
void drain(int out_fd, int err_fd, std::string& out, std::string& err) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int open_count = 2;
    char buffer[65536];
    while (open_count > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
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

bool file_exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return names;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The build tree may lie where the user nobody cannot reach it (a clone in
// a private folder), so an unprivileged run starts a copy of the program,
// under the same name, kept in a folder open to every user.
std::string program_nobody_can_run(const std::string& program) {
    static TempDir copies;
    static std::map<std::string, std::string> copied;
    auto [entry, is_new] = copied.try_emplace(program);
    if (is_new) {
        const std::string folder = copies.file(std::to_string(copied.size()));
        const std::string copy = folder + "/" + std::filesystem::path(program).filename().string();
        std::error_code ignored;
        std::filesystem::create_directory(folder, ignored);
        ::chmod(folder.c_str(), 0755);
        std::filesystem::copy_file(program, copy, ignored);
        ::chmod(copy.c_str(), 0755);
        entry->second = copy;
    }
    return entry->second;
}

RunResult launch(const Launch& launch) {
    const bool as_nobody = launch.unprivileged && ::geteuid() == 0;
    const std::string program = as_nobody ? program_nobody_can_run(launch.program) : launch.program;
    TempDir io;
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
    drain(out_pipe[0], err_pipe[0], result.out, result.err);
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

bool is_root() { return ::geteuid() == 0; }

bool unprivileged_runs_possible(std::string& why) {
    if (!is_root()) return true;
    Launch probe;  // -a 1 ends at once, printing nothing
    probe.work_dir = "/";
    probe.args = {"-a", "1"};
    probe.input_from_null = true;
    probe.unprivileged = true;
    const RunResult r = launch(probe);
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
