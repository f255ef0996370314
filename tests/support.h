// Shared test helpers: temporary folders, small files, captured output of
// in-process calls, and runs of the built program with given standard input.
#pragma once

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
std::vector<std::string> list_dir(const std::string& path);

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or 128 + signal number
};

// Runs the built program in `work_dir` with `args`, feeding `input` on
// standard input (or /dev/null when `input_from_null`). `shell_prefix`, when
// given, is a shell command run before the program in the same shell (for
// example "ulimit -f 1;").
RunResult run_programma(const std::string& work_dir, const std::vector<std::string>& args,
                        const std::string& input = "", bool input_from_null = false,
                        const std::string& shell_prefix = "");

// The same with another build of the program (for example the scalar
// reference build).
RunResult run_binary(const std::string& program, const std::string& work_dir,
                     const std::vector<std::string>& args, const std::string& input = "",
                     bool input_from_null = false, const std::string& shell_prefix = "");

// The text quoted for the shell (single quotes).
std::string shell_quote(const std::string& text);

// The whole usage text for a given program name.
std::string usage_text(const std::string& program_name);
