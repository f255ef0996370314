// Shared test helpers: temporary folders, small files, argument lists, the
// capture of what a call prints, and runs of a built program with given
// arguments, standard input and limits, its standard output and error coming
// back through pipes.
#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>
#include <string>
#include <vector>

struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

void write_text(const std::string& path, const std::string& text);
std::string read_text(const std::string& path);
bool file_exists(const std::string& path);
mode_t file_mode(const std::string& path);                   // lstat's st_mode; 0 when there is no such file
std::vector<std::string> list_dir(const std::string& path);  // sorted

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or 128 + signal number
};

struct Launch {
    std::string program = PROGRAMMA_PATH;
    std::string work_dir = ".";
    std::vector<std::string> args{};
    std::string input{};           // standard input's bytes ...
    bool input_from_null = false;  // ... or /dev/null
    // When set, the program runs as `/bin/sh -c '<shell_prefix> exec PROGRAM
    // ARGS'`, for example with "ulimit -f 1;".
    std::string shell_prefix{};
    // When the tests run as root, run the program as the unprivileged user
    // nobody, so that permissions hold.
    bool unprivileged = false;
    std::vector<std::string> environment{};  // NAME=VALUE added to the program's
};

RunResult launch(const Launch& launch);

// Starts `program` with standard input from `in` and standard output to
// `out` (descriptors; -1 for /dev/null), standard error to /dev/null, in
// `work_dir`; with `ignore_sigpipe` SIGPIPE ignored. Returns the pid.
pid_t spawn(const std::string& program, const std::vector<std::string>& args, int in, int out,
            const std::string& work_dir = ".", bool ignore_sigpipe = false);
// Waits for a spawned program: its exit status, or 128 + signal number.
int wait_for(pid_t pid);

// The text quoted for the shell (single quotes).
std::string shell_quote(const std::string& text);

bool is_root();
// Whether unprivileged launches can run (always for a non-root user; for
// root when the program runs as nobody); `why` says why not.
bool unprivileged_runs_possible(std::string& why);
// Makes a character device node (root only). Never use the system's own /dev
// files as save targets: use a private twin, make_device(dir.file("full"), 1, 7).
bool make_device(const std::string& path, unsigned major, unsigned minor);

// Waits up to `limit_ms` for an event of an inotify watch on a folder (a
// file made, moved in or closed, as the watch asks) about a file whose name
// starts with `prefix`.
bool watched(int watch, const std::string& prefix, int limit_ms);

// `args` with `more` after them.
inline std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// What `run` printed on standard output.
template <class Run>
std::string stdout_of(Run&& run) {
    ::testing::internal::CaptureStdout();
    run();
    return ::testing::internal::GetCapturedStdout();
}

// The whole usage text for a given program name: the one copy the tests
// hold of it.
std::string usage_text(const std::string& program_name);
