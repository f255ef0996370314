// Diagnostics on standard error. Standard output carries only the program's
// own report lines; every explanation of why a run stopped goes to standard
// error, prefixed with the program name, after standard output is flushed so
// that the two streams interleave in the order things happened.
#pragma once

[[gnu::format(printf, 1, 2)]] void report_error(const char* format, ...);

// While one is alive, report_error says nothing on its thread: for work done
// ahead of its turn, whose failures are reported when it is done again then.
struct QuietDiagnostics {
    QuietDiagnostics();
    ~QuietDiagnostics();
    QuietDiagnostics(const QuietDiagnostics&) = delete;
    QuietDiagnostics& operator=(const QuietDiagnostics&) = delete;
};
