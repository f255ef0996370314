// Diagnostics on standard error, kept apart from the report lines on
// standard output, or collected by a caller that must not print.
#include "diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

thread_local DiagnosticCapture* innermost_capture = nullptr;

}  // namespace

DiagnosticCapture::DiagnosticCapture() : outer_(innermost_capture) { innermost_capture = this; }

DiagnosticCapture::~DiagnosticCapture() { innermost_capture = outer_; }

void DiagnosticCapture::add(const programma::Error& error) {
    if (held_) {
        error_.detail += '\n' + error.message();
        return;
    }
    error_ = error;
    held_ = true;
}

bool diagnostics_captured() { return innermost_capture != nullptr; }

void report(const programma::Error& error) {
    if (innermost_capture != nullptr) {
        innermost_capture->add(error);
        return;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "programma: %s\n", error.message().c_str());
}

void report_file_problem(programma::ErrorKind kind, const char* path, unsigned long long line, int error_number,
                         std::string detail) {
    report(programma::Error{kind, std::move(detail), path, line, error_number, {}});
}

void report_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::vector<char> line(length > 0 ? std::size_t(length) + 1 : 1, '\0');
    std::vsnprintf(line.data(), line.size(), format, args);
    va_end(args);
    report(programma::Error{programma::ErrorKind::bad_data, line.data(), {}, 0, 0, {}});
}
