// Reports on standard output, progress on a terminal, numbers as printf
// shows them, and one formatter for Markdown and CSV tables.
#include "text.h"

#include <unistd.h>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

int standard_output_error = 0;  // the errno of the first failed write
bool quiet = false;
std::size_t meter_width = 0;  // of the meter's line on the terminal, 0 when none is there

bool progress_shown() {
    static const bool terminal = ::isatty(2) != 0;
    return terminal && !quiet;
}

// Clears the meter's line, when it is there, so that the next line starts
// clean.
void clear_meter() {
    if (meter_width == 0) return;
    std::fprintf(stderr, "\r%*s\r", int(meter_width), "");
    meter_width = 0;
}

std::string time_left(double seconds) {
    if (seconds < 100) return printed("%.0f s", seconds);
    if (seconds < 6000) return printed("%.0f min", seconds / 60);
    return printed("%.1f h", seconds / 3600);
}

}  // namespace

void print(std::string_view text) {
    if (!write_standard_output(text) && standard_output_error == 0) standard_output_error = errno;
}

bool write_standard_output(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(1, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        bytes.remove_prefix(std::size_t(put));
    }
    return true;
}

bool standard_output_ok() {
    if (standard_output_error == 0) return true;
    std::fprintf(stderr, "digit-tools: standard output: cannot write: %s\n", std::strerror(standard_output_error));
    return false;
}

void set_quiet() { quiet = true; }

void progress(const std::string& text) {
    if (!progress_shown()) return;
    clear_meter();
    std::fprintf(stderr, "digit-tools: %s\n", text.c_str());
}

void warn(const std::string& text) {
    clear_meter();
    std::fprintf(stderr, "digit-tools: warning: %s\n", text.c_str());
}

ProgressMeter::ProgressMeter(uint32_t trainings) : trainings_(trainings), start_(std::chrono::steady_clock::now()) {}

ProgressMeter::~ProgressMeter() { clear_meter(); }

std::function<void(const programma::TrainingProgress&)> ProgressMeter::training(uint32_t index,
                                                                                const std::string& what) {
    if (!progress_shown()) return {};
    return [this, index, what](const programma::TrainingProgress& at) {
        const auto now = std::chrono::steady_clock::now();
        if (now - shown_ < std::chrono::milliseconds(500) || at.decisions == 0) return;
        shown_ = now;
        const double done = (index + double(at.decided) / double(at.decisions)) / trainings_;
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        std::string line = "digit-tools: " + what + ": " + printed("%.0f%%", done * 100);
        if (done > 0.0) line += ", " + time_left(elapsed * (1.0 - done) / done) + " left";
        clear_meter();
        std::fprintf(stderr, "%s", line.c_str());
        meter_width = line.size();
    };
}

std::string percent_of(uint64_t wrong, uint64_t rows) { return printed("%f", double(wrong) * 100.0 / double(rows)); }

std::string printed(const char* format, ...) {
    std::va_list values;
    va_start(values, format);
    std::va_list again;
    va_copy(again, values);
    const int length = std::vsnprintf(nullptr, 0, format, values);
    va_end(values);
    std::string text(length > 0 ? std::size_t(length) : 0, '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);  // the final NUL is the string's own
    va_end(again);
    return text;
}

std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string format_table(const TableRows& rows, bool csv) {
    std::string text;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            text += csv ? (c > 0 ? "," : "") : (c > 0 ? " | " : "| ");
            text += csv ? csv_field(rows[r][c]) : rows[r][c];
        }
        text += csv ? "\n" : " |\n";
        if (r == 0 && !csv) {
            for (std::size_t c = 0; c < rows[r].size(); ++c) text += "|---:";
            text += "|\n";
        }
    }
    return text;
}
