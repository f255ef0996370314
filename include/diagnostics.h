// Diagnostics on standard error. Standard output carries only the program's
// own report lines; every explanation of why a run stopped goes to standard
// error, prefixed with the program name, after standard output is flushed so
// that the two streams interleave in the order things happened.
//
// A library caller that must not print collects a thread's diagnostics
// instead, with a DiagnosticCapture.
#pragma once

#include <string>

[[gnu::format(printf, 1, 2)]] void report_error(const char* format, ...);

// While one lives, the diagnostics of the thread that made it are kept in
// it, without the program's prefix, instead of written; the program's own
// console text for them (such as "ERRORE NEL FILE") is left out too.
// Captures nest: the innermost one collects.
class DiagnosticCapture {
public:
    DiagnosticCapture();
    ~DiagnosticCapture();
    DiagnosticCapture(const DiagnosticCapture&) = delete;
    DiagnosticCapture& operator=(const DiagnosticCapture&) = delete;

    // The diagnostics so far, one a line, without the last newline.
    const std::string& text() const { return text_; }
    void add(const std::string& line);

private:
    std::string text_;
    DiagnosticCapture* outer_;
};

// Whether the calling thread's diagnostics are being captured.
bool diagnostics_captured();
