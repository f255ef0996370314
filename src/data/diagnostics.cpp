// Diagnostics on standard error, kept apart from the report lines on
// standard output, or collected by a caller that must not print.
#include "diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

thread_local DiagnosticCapture* innermost_capture = nullptr;

}  // namespace

DiagnosticCapture::DiagnosticCapture() : outer_(innermost_capture) { innermost_capture = this; }

DiagnosticCapture::~DiagnosticCapture() { innermost_capture = outer_; }

void DiagnosticCapture::add(const std::string& line) {
    if (!text_.empty()) text_ += '\n';
    text_ += line;
}

bool diagnostics_captured() { return innermost_capture != nullptr; }

void report_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (innermost_capture != nullptr) {
        va_list measure;
        va_copy(measure, args);
        const int length = std::vsnprintf(nullptr, 0, format, measure);
        va_end(measure);
        std::vector<char> line(length > 0 ? std::size_t(length) + 1 : 1, '\0');
        std::vsnprintf(line.data(), line.size(), format, args);
        va_end(args);
        innermost_capture->add(line.data());
        return;
    }
    std::fflush(stdout);
    std::fputs("programma: ", stderr);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}
