// Diagnostics on standard error, kept apart from the report lines on
// standard output.
#include "diagnostics.h"

#include <cstdarg>
#include <cstdio>

void report_error(const char* format, ...) {
    std::fflush(stdout);
    std::fputs("programma: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}
