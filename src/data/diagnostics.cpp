// Diagnostics on standard error, kept apart from the report lines on
// standard output.
#include "diagnostics.h"

#include <cstdarg>
#include <cstdio>

namespace {

thread_local int quiet_depth = 0;

}  // namespace

QuietDiagnostics::QuietDiagnostics() { ++quiet_depth; }
QuietDiagnostics::~QuietDiagnostics() { --quiet_depth; }

void report_error(const char* format, ...) {
    if (quiet_depth > 0) return;
    std::fflush(stdout);
    std::fputs("programma: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}
