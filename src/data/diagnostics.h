// Diagnostics on standard error. Standard output carries only the program's
// own report lines; every explanation of why a run stopped goes to standard
// error, prefixed with the program name, after standard output is flushed so
// that the two streams interleave in the order things happened.
//
// A library caller that must not print collects a thread's diagnostics
// instead, with a DiagnosticCapture, as typed errors (programma/error.h).
#pragma once

#include <string>

#include "programma/error.h"

// Writes "programma: " and the error's message, or keeps the error.
void report(const programma::Error& error);

// A problem with a file: its kind, the file, the line (0 for none), the
// errno (0 for none) and what is wrong.
void report_file_problem(programma::ErrorKind kind, const char* path, unsigned long long line, int error_number,
                         std::string detail);

// The program's own words, kept by a capture as bad data.
[[gnu::format(printf, 1, 2)]] void report_error(const char* format, ...);

// While one lives, the diagnostics of the thread that made it are kept in
// it instead of written; the program's own console text for them (such as
// "ERRORE NEL FILE") is left out too. Captures nest: the innermost one
// collects.
class DiagnosticCapture {
public:
    DiagnosticCapture();
    ~DiagnosticCapture();
    DiagnosticCapture(const DiagnosticCapture&) = delete;
    DiagnosticCapture& operator=(const DiagnosticCapture&) = delete;

    // The first diagnostic kept; any later one is added to its detail on a
    // line of its own.
    const programma::Error& error() const { return error_; }
    bool holds_error() const { return held_; }
    void add(const programma::Error& error);

private:
    programma::Error error_;
    bool held_ = false;
    DiagnosticCapture* outer_;
};

// Whether the calling thread's diagnostics are being captured.
bool diagnostics_captured();
