#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef PROGRAMMA_PATH
#error "PROGRAMMA_PATH must name the built program"
#endif

namespace {

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

}  // namespace

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/programma-test-XXXXXX";
    char* made = ::mkdtemp(pattern.data());
    if (made == nullptr) std::abort();
    path = made;
}

TempDir::~TempDir() { remove_tree(path); }

void write_text(const std::string& path, const std::string& text) {
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream << text;
}

std::string read_text(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
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
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

RunResult run_programma(const std::string& work_dir, const std::vector<std::string>& args,
                        const std::string& input, bool input_from_null,
                        const std::string& shell_prefix) {
    return run_binary(PROGRAMMA_PATH, work_dir, args, input, input_from_null, shell_prefix);
}

RunResult run_binary(const std::string& program, const std::string& work_dir,
                     const std::vector<std::string>& args, const std::string& input,
                     bool input_from_null, const std::string& shell_prefix) {
    TempDir io;
    std::string in_path = input_from_null ? "/dev/null" : io.file("stdin");
    if (!input_from_null) write_text(in_path, input);
    std::string out_path = io.file("stdout");
    std::string err_path = io.file("stderr");

    pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(work_dir.c_str()) != 0) ::_exit(126);
        int in = ::open(in_path.c_str(), O_RDONLY);
        int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (shell_prefix.empty()) {
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
        } else {
            std::string command = shell_prefix + " exec " + shell_quote(program);
            for (const std::string& arg : args) {
                command += ' ';
                command += shell_quote(arg);
            }
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        }
        ::_exit(127);
    }
    int raw = 0;
    ::waitpid(child, &raw, 0);
    RunResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    result.out = read_text(out_path);
    result.err = read_text(err_path);
    return result;
}

std::string usage_text(const std::string& program_name) {
    return "\n"
           "Usage:" + program_name + " [Options]\n"
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
