// The text digit-tools prints: its reports on standard output, the tables
// in them (Markdown or CSV, in one formatter), numbers by printf's formats,
// progress lines on a terminal, and warnings.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "programma/api.h"

// Writes a report to standard output, unbuffered; a failed write is
// reported at the end (standard_output_ok).
void print(std::string_view text);

// Writes bytes to standard output as they are; false, with errno set, when
// a write fails.
bool write_standard_output(std::string_view bytes);

// Whether every write to standard output went through; false after the
// message, with the system's reason, on standard error.
bool standard_output_ok();

// Progress is shown only when standard error is a terminal, and not after
// set_quiet() (--quiet).
void set_quiet();

// A line "digit-tools: TEXT" on standard error, only when progress is shown.
void progress(const std::string& text);

// A line "digit-tools: warning: TEXT" on standard error, always.
void warn(const std::string& text);

// How far a run's trainings have got and the time left, on one line of
// standard error rewritten in place (a carriage return before each), at
// most twice a second, only when progress is shown; the line is cleared
// when the meter goes, and before any other line is written.
class ProgressMeter {
public:
    // A run of `trainings` trainings of about one cost each.
    explicit ProgressMeter(uint32_t trainings = 1);
    ~ProgressMeter();
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    // The library's progress hook for training `index` (from 0), which the
    // line names as `what`; empty when progress is not shown.
    std::function<void(const programma::TrainingProgress&)> training(uint32_t index, const std::string& what);

private:
    uint32_t trainings_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point shown_{};
};

// A share of rows as digit-tools' own reports print it: wrong times 100
// over rows, in double, by "%f" (131 of 1000 is 13.100000).
std::string percent_of(uint64_t wrong, uint64_t rows);

// What printf prints for `format` and the values (in the C locale): how a
// report shows a number, such as "%f" for a percentage as programma shows it.
[[gnu::format(printf, 1, 2)]] std::string printed(const char* format, ...);

// A CSV field: quoted, its quotes doubled, where it holds a comma, a quote
// or a line break (labels of text may).
std::string csv_field(const std::string& text);

using TableRows = std::vector<std::vector<std::string>>;

// The rows of a table, the first one its header: Markdown ("| a | b |" with
// a rule of right-aligned columns under the header), or CSV ("a,b", each
// field as csv_field writes it).
std::string format_table(const TableRows& rows, bool csv);
