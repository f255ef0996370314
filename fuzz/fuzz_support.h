// Helpers shared by the fuzz targets: quiet standard streams, a private
// scratch folder, and checks whose failure is a crash libFuzzer records.
//
// Every target is built twice: as a libFuzzer binary (PROGRAMMA_FUZZ build,
// clang, -fsanitize=fuzzer,address,undefined) and, in ordinary builds, as a
// replayer (replay_main.cpp) that runs the committed corpus under ctest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace fuzz {

// Once per process: standard input at its end (the polynomial kernel and the
// save dialogue read it) and standard output sent to /dev/null. Standard
// error is left alone: the sanitizers report there.
void quiet_stdio();

// A private folder for this process, removed when the process exits normally.
const std::string& scratch_dir();
std::string scratch_path(std::string_view name);

// Replaces the file's content with the bytes given.
void write_file(const std::string& path, const uint8_t* data, std::size_t size);
void write_file(const std::string& path, std::string_view text);

// Collects what the program's diagnostics (report_error, through the C
// stream stderr) write while it lives; file descriptor 2 stays where it was,
// so sanitizer reports still reach the terminal.
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    std::string text();  // what was written so far

private:
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* saved_;
    std::FILE* memory_;
};

// Reports a broken invariant and aborts, which libFuzzer records as a crash.
[[noreturn]] void fail(const char* condition, const char* file, int line);

}  // namespace fuzz

#define FUZZ_CHECK(condition)                                          \
    do {                                                               \
        if (!(condition)) ::fuzz::fail(#condition, __FILE__, __LINE__); \
    } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);
