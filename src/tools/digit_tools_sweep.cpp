// Runs the program for each digit and gathers its report lines into a table.
// The program's texts are fixed, so they are matched exactly; the voted
// method reports answer counts, and the test set's own labels turn them into
// mistakes of each kind.
#include "digit_tools_sweep.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "digit_tools_samples.h"
#include "file_lib.h"

extern char** environ;

namespace {

constexpr std::array<std::string_view, 4> kMarkers = {"End training with ", "End testing with ",
                                                      "I was wrong ", "Ho classificato la cifra "};
// A report line is short; a marker with no newline this far after it is
// part of something else.
constexpr std::size_t kLongestLine = 4096;

void parse_report_line(const std::string& line, ProgramReport& report) {
    double percent = 0.0;
    unsigned a = 0, b = 0, c = 0, d = 0, e = 0;
    int end = 0;
    const auto whole = [&]() { return end > 0 && static_cast<std::size_t>(end) == line.size(); };
    if (std::sscanf(line.c_str(), "End training with %lf%% error%n", &percent, &end) == 1 &&
        whole()) {
        report.training_error = percent;
    } else if (std::sscanf(line.c_str(), "End testing with %lf%% error%n", &percent, &end) == 1 &&
               whole()) {
        report.test_error = percent;
    } else if (std::sscanf(line.c_str(), "I was wrong %u times saying 1 e %u times saying -1%n", &a,
                           &b, &end) == 2 &&
               whole()) {
        report.wrong_saying_plus = a;
        report.wrong_saying_minus = b;
    } else if (std::sscanf(
                   line.c_str(),
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

// A child process with one end of a pipe; closes the descriptor and reaps
// the child on every path out.
struct Child {
    pid_t pid = -1;
    int fd = -1;
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (fd >= 0) ::close(fd);
        if (pid > 0) ::waitpid(pid, nullptr, 0);
    }
    // The exit status, or 128 + the signal that ended it.
    int wait() {
        if (fd >= 0) ::close(fd);
        fd = -1;
        int raw = 0;
        while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    }
};

// Starts `program`: its standard output comes back through the pipe, or its
// standard input is fed through it when `feed_input` (its standard output
// then /dev/null, and `output_fd`, when given, its descriptor 3).
void spawn(Child& child, const std::string& program, const std::vector<std::string>& args,
           bool feed_input, int output_fd = -1) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    const int parent_end = feed_input ? ends[1] : ends[0];
    const int child_end = feed_input ? ends[0] : ends[1];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (feed_input) {
        // Its standard output goes nowhere: what it writes there is no report.
        posix_spawn_file_actions_adddup2(&actions, child_end, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (output_fd >= 0) posix_spawn_file_actions_adddup2(&actions, output_fd, 3);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, child_end, 1);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const int failed =
        feed_input
            ? ::posix_spawnp(&child.pid, program.c_str(), &actions, nullptr, argv.data(), environ)
            : ::posix_spawn(&child.pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(child_end);
    child.fd = parent_end;
    if (failed != 0) {
        child.pid = -1;
        throw std::runtime_error("cannot run " + program + ": " + std::strerror(failed));
    }
}

TestSetCounts count_showing(const SampleMatrix& set, uint32_t digit) {
    TestSetCounts counts;
    counts.rows = set.rows;
    for (uint32_t r = 0; r < set.rows; ++r) {
        if (target_label(set.row(r)[set.columns - 1], digit) == 1) ++counts.showing;
    }
    return counts;
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
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
            fixed(r.training_error, 6),
            fixed(r.test_error, 6),
            std::to_string(r.wrong_saying_plus),
            std::to_string(r.wrong_saying_minus),
            fixed(r.seconds, 2)};
}

std::vector<std::string> mean_cells(const std::vector<DigitResult>& results) {
    const DigitResult mean = mean_of(results);
    return {"mean",
            fixed(mean.training_error, 6),
            fixed(mean.test_error, 6),
            fixed(mean_wrong(results, &DigitResult::wrong_saying_plus), 1),
            fixed(mean_wrong(results, &DigitResult::wrong_saying_minus), 1),
            fixed(mean.seconds, 2)};
}

// The last bytes of every complete PNG file: the empty IEND chunk and its CRC.
constexpr std::string_view kPngEnd{"\0\0\0\0IEND\xae\x42\x60\x82", 12};

bool png_complete(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size < static_cast<off_t>(kPngEnd.size())) return false;
    char tail[kPngEnd.size()];
    const off_t at = info.st_size - static_cast<off_t>(kPngEnd.size());
    return ::pread(fd, tail, sizeof tail, at) == static_cast<ssize_t>(sizeof tail) &&
           std::string_view(tail, sizeof tail) == kPngEnd;
}

bool executable_in_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "/usr/bin:/bin";
    while (true) {
        const std::size_t colon = folders.find(':');
        const std::string folder(folders.substr(0, colon));
        if (::access(((folder.empty() ? "." : folder) + "/" + name).c_str(), X_OK) == 0) return true;
        if (colon == std::string_view::npos) return false;
        folders.remove_prefix(colon + 1);
    }
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
        const std::size_t next =
            first_marker(std::string_view(pending).substr(start + 1, newline - start - 1));
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
    if (v.digit != digit ||
        v.said_minus + static_cast<unsigned long long>(v.said_plus) != test_set->rows ||
        twice < 0 || twice % 2 != 0 || twice / 2 > v.wrong) {
        throw std::runtime_error("the voted report for " + which + " does not fit the test set");
    }
    result.wrong_saying_plus = static_cast<uint32_t>(twice / 2);
    result.wrong_saying_minus = v.wrong - result.wrong_saying_plus;
    return result;
}

std::string sweep_table(const std::vector<DigitResult>& results, bool csv) {
    TableRows rows;
    rows.push_back(csv ? std::vector<std::string>{"digit", "training_error", "test_error", "wrong_saying_1",
                                                  "wrong_saying_minus_1", "seconds"}
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

std::string passed_value(const std::vector<std::string>& pairs, std::string_view option,
                         const std::string& fallback) {
    std::string value = fallback;
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
        if (pairs[i] == option) value = pairs[i + 1];
    }
    return value;
}

std::string plot_title(const std::string& text) {
    constexpr std::string_view kPlain = " -_.,:=+/";
    std::string title;
    for (const char c : text) {
        const bool plain = std::isalnum(static_cast<unsigned char>(c)) != 0 || kPlain.find(c) != std::string_view::npos;
        title += plain && static_cast<unsigned char>(c) < 0x80 ? c : '?';
    }
    return title;
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
        script += std::to_string(r.digit) + " " + fixed(r.test_error, 6) + "\n";
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
        spawn(child, options.programma, args, false);
        std::vector<char> block(1 << 16);
        for (;;) {
            const ssize_t got = ::read(child.fd, block.data(), block.size());
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            scanner.feed(std::string_view(block.data(), static_cast<std::size_t>(got)));
        }
        scanner.finish();
        const int status = child.wait();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        if (status != 0) {
            throw std::runtime_error(options.programma + " " + spaced(args) +
                                     " failed with exit status " + std::to_string(status));
        }
        std::optional<TestSetCounts> counts;
        if (scanner.report.voted) {
            if (!test_set) {
                test_set = load_sample_set(passed_value(options.passed, "-ts", "Data/Test_set"));
            }
            counts = count_showing(test_set->matrix(), digit);
        }
        results.push_back(digit_result(digit, scanner.report, took.count(), counts));
    }
    return results;
}

void require_gnuplot() {
    if (!executable_in_path("gnuplot")) throw std::runtime_error("--plot needs gnuplot, which is not installed");
}

void draw_plot(const std::vector<DigitResult>& results, const SweepOptions& options, const OutputTarget& target) {
    if (target.destination == Destination::discard) return;
    StagedFile staged(target);
    // gnuplot writes to descriptor 3, the temporary file: no name of the
    // user's ever reaches its script.
    const std::string title = "test error by digit: programma " + spaced(options.passed);
    const std::string script = plot_script(results, "/dev/fd/3", title);
    // A gnuplot that dies early must give an error here, not a SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    // Above the standard descriptors, so that moving it to 3 is a real copy.
    const int output_fd = ::fcntl(staged.descriptor(), F_DUPFD_CLOEXEC, 10);
    if (output_fd < 0) throw std::runtime_error(std::string("cannot pass the picture's file: ") + std::strerror(errno));
    Child child;
    try {
        spawn(child, "gnuplot", {}, true, output_fd);
    } catch (...) {
        ::close(output_fd);
        throw;
    }
    ::close(output_fd);
    std::size_t written = 0;
    while (written < script.size()) {
        const ssize_t put = ::write(child.fd, script.data() + written, script.size() - written);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        written += static_cast<std::size_t>(put);
    }
    const int status = child.wait();
    if (status != 0 || written != script.size()) {
        throw std::runtime_error("gnuplot failed (exit status " + std::to_string(status) + ") drawing " + target.shown);
    }
    if (!png_complete(staged.descriptor())) {
        throw std::runtime_error(target.shown + ": gnuplot could not write the whole picture");
    }
    staged.close_written();
    staged.commit();
}
