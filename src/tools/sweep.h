// `sweep`: runs the program once per digit, reads the results from its
// report lines, and prints them as a Markdown or CSV table, optionally with
// a gnuplot bar chart of the test errors.
#pragma once

#include "output.h"
#include "text.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The voted method's test line: answers given, not mistakes of each kind.
struct VotedCounts {
    uint32_t digit = 0;
    uint32_t right = 0;
    uint32_t wrong = 0;
    uint32_t said_minus = 0;
    uint32_t said_plus = 0;
};

// What one run reported.
struct ProgramReport {
    std::optional<double> training_error;        // percent
    std::optional<double> test_error;            // percent
    std::optional<uint32_t> wrong_saying_plus;   // kernel method
    std::optional<uint32_t> wrong_saying_minus;  // kernel method
    std::optional<VotedCounts> voted;
};

// Finds the report lines in a run's standard output as it streams in. The
// polynomial kernel's trace has no newlines and can run to gigabytes, so
// only a short tail is ever kept.
// The header lines before the report (the first line, then one naming the
// training set and one the test set) are skipped by counting their newlines,
// so that a file name holding a newline cannot fake a report line.
struct ReportScanner {
    ProgramReport report;
    std::string pending;
    std::size_t header_lines = 0;  // newlines still to skip

    void feed(std::string_view chunk);
    // The last line may lack its newline.
    void finish();
};

// One table row.
struct DigitResult {
    uint32_t digit = 0;
    double training_error = 0.0;
    double test_error = 0.0;
    uint32_t wrong_saying_plus = 0;
    uint32_t wrong_saying_minus = 0;
    double seconds = 0.0;
};

// Test-set rows showing the digit and rows in all: what turns the voted
// method's answer counts into mistakes of each kind.
struct TestSetCounts {
    uint32_t showing = 0;
    uint32_t rows = 0;
};

// Fills a row from a run's report; throws when a result is missing or the
// counts do not fit the test set.
DigitResult digit_result(uint32_t digit, const ProgramReport& report, double seconds,
                         const std::optional<TestSetCounts>& test_set);

// The report: a row per digit and a mean row, as Markdown or CSV.
std::string sweep_table(const std::vector<DigitResult>& results, bool csv);

// The newlines of the header lines a run with these options prints.
std::size_t header_newlines(const std::vector<std::string>& passed);

// The value of the last `option` among option/value pairs, as the program
// itself reads them.
std::string passed_value(const std::vector<std::string>& pairs, std::string_view option, const std::string& fallback);

// The gnuplot commands that draw the test errors as bars into `png_path`.
std::string plot_script(const std::vector<DigitResult>& results, const std::string& png_path, const std::string& title);

struct SweepOptions {
    std::string programma;            // the program to run
    std::vector<std::string> passed;  // option/value pairs handed to it
    std::vector<uint32_t> digits = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    bool csv = false;
    std::string plot;  // PNG file for the bar chart, or empty
};

// The program beside the running digit-tools.
std::string default_programma_path();

// Runs the program for every digit, standard input from /dev/null; throws
// when a run fails or reports no result.
std::vector<DigitResult> run_sweep(const SweepOptions& options);

// Draws the bar chart with gnuplot into a temporary file, put in place only
// when gnuplot exits 0 and the PNG is complete; throws otherwise.
void draw_plot(const std::vector<DigitResult>& results, const SweepOptions& options, const OutputTarget& target);
