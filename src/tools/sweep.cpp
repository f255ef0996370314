// Runs the program for each digit and gathers its report lines into a table.
// The program's texts are fixed, so they are matched exactly; the voted
// method reports answer counts, and the test set's own labels turn them into
// mistakes of each kind.
#include "sweep.h"

#include <unistd.h>
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "arguments.h"
#include "gnuplot.h"
#include "interrupt.h"
#include "process.h"
#include "samples.h"
#include "text.h"

namespace {

constexpr std::array<std::string_view, 4> kMarkers = {"End training with ", "End testing with ", "I was wrong ",
                                                      "Ho classificato la cifra "};
// A report line is short; a marker with no newline this far after it is
// part of something else.
constexpr std::size_t kLongestLine = 4096;

void parse_report_line(const std::string& line, ProgramReport& report) {
    double percent = 0.0;
    unsigned a = 0, b = 0, c = 0, d = 0, e = 0;
    int end = 0;
    const auto whole = [&]() { return end > 0 && static_cast<std::size_t>(end) == line.size(); };
    if (std::sscanf(line.c_str(), "End training with %lf%% error%n", &percent, &end) == 1 && whole()) {
        report.training_error = percent;
    } else if (std::sscanf(line.c_str(), "End testing with %lf%% error%n", &percent, &end) == 1 && whole()) {
        report.test_error = percent;
    } else if (std::sscanf(line.c_str(), "I was wrong %u times saying 1 e %u times saying -1%n", &a, &b, &end) == 2 &&
               whole()) {
        report.wrong_saying_plus = a;
        report.wrong_saying_minus = b;
    } else if (std::sscanf(line.c_str(),
                           "Ho classificato la cifra %u e ho azzeccato %u volte e sbagliato %u volte, ho "
                           "detto %u volte meno e %u volte piu'%n",
                           &a, &b, &c, &d, &e, &end) == 5 &&
               whole()) {
        report.voted = VotedCounts{a, b, c, d, e};
    }
}

// The earliest marker in `text`, or npos.
std::size_t first_marker(std::string_view text) {
    std::size_t first = std::string_view::npos;
    for (std::string_view marker : kMarkers) first = std::min(first, text.find(marker));
    return first;
}

std::string spaced(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

// The rows that show the digit: their label equals it, compared as reals, as
// programma's recogniser compares them.
TestSetCounts count_showing(const programma::SampleSet& set, uint32_t digit) {
    TestSetCounts counts;
    counts.rows = set.rows();
    for (uint32_t r = 0; r < set.rows(); ++r) {
        if (static_cast<double>(set.label(r)) == static_cast<double>(digit)) ++counts.showing;
    }
    return counts;
}

DigitResult mean_of(const std::vector<DigitResult>& results) {
    DigitResult mean;
    for (const DigitResult& r : results) {
        mean.training_error += r.training_error;
        mean.test_error += r.test_error;
        mean.seconds += r.seconds;
    }
    const auto n = static_cast<double>(results.size());
    mean.training_error /= n;
    mean.test_error /= n;
    mean.seconds /= n;
    return mean;
}

double mean_wrong(const std::vector<DigitResult>& results, uint32_t DigitResult::*field) {
    double sum = 0.0;
    for (const DigitResult& r : results) sum += r.*field;
    return sum / static_cast<double>(results.size());
}

std::vector<std::string> table_cells(const DigitResult& r) {
    return {std::to_string(r.digit),
            printed("%.6f", r.training_error),
            printed("%.6f", r.test_error),
            std::to_string(r.wrong_saying_plus),
            std::to_string(r.wrong_saying_minus),
            printed("%.2f", r.seconds)};
}

std::vector<std::string> mean_cells(const std::vector<DigitResult>& results) {
    const DigitResult mean = mean_of(results);
    return {"mean",
            printed("%.6f", mean.training_error),
            printed("%.6f", mean.test_error),
            printed("%.1f", mean_wrong(results, &DigitResult::wrong_saying_plus)),
            printed("%.1f", mean_wrong(results, &DigitResult::wrong_saying_minus)),
            printed("%.2f", mean.seconds)};
}

}  // namespace

void ReportScanner::feed(std::string_view chunk) {
    while (header_lines > 0 && !chunk.empty()) {
        const std::size_t newline = chunk.find('\n');
        if (newline == std::string_view::npos) return;
        chunk.remove_prefix(newline + 1);
        --header_lines;
    }
    pending.append(chunk);
    for (;;) {
        const std::size_t start = first_marker(pending);
        if (start == std::string::npos) {
            // Keep just enough to catch a marker split across two chunks.
            constexpr std::size_t kKeep = 32;
            if (pending.size() > kKeep) pending.erase(0, pending.size() - kKeep);
            return;
        }
        const std::size_t newline = pending.find('\n', start);
        if (newline == std::string::npos) {
            pending.erase(0, start);
            // Too long for a report line: skip this marker.
            if (pending.size() > kLongestLine) {
                pending.erase(0, 1);
            } else
                return;
            continue;
        }
        // Another marker before the newline ends this candidate line there.
        const std::size_t next = first_marker(std::string_view(pending).substr(start + 1, newline - start - 1));
        if (next != std::string::npos) {
            pending.erase(0, start + 1 + next);
            continue;
        }
        parse_report_line(pending.substr(start, newline - start), report);
        pending.erase(0, newline + 1);
    }
}

void ReportScanner::finish() {
    const std::size_t start = first_marker(pending);
    if (start != std::string::npos) feed("\n");
    pending.clear();
}

DigitResult digit_result(uint32_t digit, const ProgramReport& report, double seconds,
                         const std::optional<TestSetCounts>& test_set) {
    const std::string which = "digit " + std::to_string(digit);
    if (!report.training_error || !report.test_error) {
        throw std::runtime_error("the program reported no training or test error for " + which +
                                 " (was its command line refused?)");
    }
    DigitResult result;
    result.digit = digit;
    result.training_error = *report.training_error;
    result.test_error = *report.test_error;
    result.seconds = seconds;
    if (report.wrong_saying_plus && report.wrong_saying_minus) {
        result.wrong_saying_plus = *report.wrong_saying_plus;
        result.wrong_saying_minus = *report.wrong_saying_minus;
        return result;
    }
    if (!report.voted || !test_set) {
        throw std::runtime_error("the program reported no wrong answers for " + which);
    }
    // said_plus = right "yes" + wrong "yes", showing = right "yes" + wrong
    // "no", wrong = wrong "yes" + wrong "no": so wrong "yes" is half of
    // wrong - showing + said_plus.
    const VotedCounts& v = *report.voted;
    const long long twice = static_cast<long long>(v.wrong) - test_set->showing + v.said_plus;
    if (v.digit != digit || v.said_minus + static_cast<unsigned long long>(v.said_plus) != test_set->rows ||
        twice < 0 || twice % 2 != 0 || twice / 2 > v.wrong) {
        throw std::runtime_error("the voted report for " + which + " does not fit the test set");
    }
    result.wrong_saying_plus = static_cast<uint32_t>(twice / 2);
    result.wrong_saying_minus = v.wrong - result.wrong_saying_plus;
    return result;
}

std::string sweep_table(const std::vector<DigitResult>& results, bool csv) {
    TableRows rows;
    rows.push_back(csv ? std::vector<std::string>{"digit", "training_error_percent", "test_error_percent",
                                                  "wrong_saying_1", "wrong_saying_minus_1", "seconds"}
                       : std::vector<std::string>{"digit", "training error (%)", "test error (%)", "wrong saying 1",
                                                  "wrong saying -1", "seconds"});
    for (const DigitResult& r : results) rows.push_back(table_cells(r));
    if (!results.empty()) rows.push_back(mean_cells(results));
    return format_table(rows, csv);
}

std::size_t header_newlines(const std::vector<std::string>& passed) {
    std::size_t newlines = 3;
    for (const std::string_view option : {"-tr", "-ts"}) {
        const std::string name = passed_value(passed, option, "");
        newlines += std::size_t(std::count(name.begin(), name.end(), '\n'));
    }
    return newlines;
}

std::string passed_value(const std::vector<std::string>& pairs, std::string_view option, const std::string& fallback) {
    std::string value = fallback;
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
        if (pairs[i] == option) value = pairs[i + 1];
    }
    return value;
}

std::string plot_script(const std::vector<DigitResult>& results, const std::string& png_path,
                        const std::string& title) {
    std::string script =
        "set terminal png size 640,400\n"
        "set output '" +
        plot_title(png_path) +
        "'\n"
        "set title '" +
        plot_title(title) +
        "' noenhanced\n"
        "set xlabel 'digit'\n"
        "set ylabel 'test error (%)'\n"
        "set yrange [0:*]\n"
        "set style fill solid 0.8 border -1\n"
        "set boxwidth 0.7\n"
        "unset key\n"
        "plot '-' using 1:2:xtic(1) with boxes lc rgb '#4a6fa5'\n";
    for (const DigitResult& r : results) {
        script += std::to_string(r.digit) + " " + printed("%.6f", r.test_error) + "\n";
    }
    return script + "e\nset output\n";
}

std::string default_programma_path() {
    std::string self(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size());
    if (length <= 0) return "programma";
    self.resize(static_cast<std::size_t>(length));
    return self.substr(0, self.rfind('/') + 1) + "programma";
}

std::vector<DigitResult> run_sweep(const SweepOptions& options) {
    std::optional<programma::SampleSet> test_set;
    std::vector<DigitResult> results;
    for (uint32_t digit : options.digits) {
        std::vector<std::string> args = options.passed;
        args.insert(args.end(), {"-dg", std::to_string(digit)});
        ReportScanner scanner;
        scanner.header_lines = header_newlines(options.passed);
        const auto started = std::chrono::steady_clock::now();
        Child child;
        spawn(child, options.programma, args, {});
        std::vector<char> block(1 << 16);
        for (;;) {
            const ssize_t got = ::read(child.fd, block.data(), block.size());
            stop_if_interrupted();
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            scanner.feed(std::string_view(block.data(), static_cast<std::size_t>(got)));
        }
        scanner.finish();
        const int status = child.wait();
        stop_if_interrupted();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        if (status != 0) {
            throw std::runtime_error(options.programma + " " + spaced(args) + " failed with exit status " +
                                     std::to_string(status));
        }
        std::optional<TestSetCounts> counts;
        if (scanner.report.voted) {
            if (!test_set) {
                test_set = load_sample_set(passed_value(options.passed, "-ts", kDefaultTestSet));
            }
            counts = count_showing(*test_set, digit);
        }
        results.push_back(digit_result(digit, scanner.report, took.count(), counts));
    }
    return results;
}

void draw_plot(const std::vector<DigitResult>& results, const SweepOptions& options, const OutputTarget& target) {
    const std::string title = "test error by digit: programma " + spaced(options.passed);
    if (const auto staged = draw_with_gnuplot(plot_script(results, kGnuplotOutput, title), target)) staged->commit();
}
