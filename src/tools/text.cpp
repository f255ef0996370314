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

void progress(const std::string& text) {
    static const bool shown = ::isatty(2) != 0;
    if (shown) std::fprintf(stderr, "digit-tools: %s\n", text.c_str());
}

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

std::string format_table(const TableRows& rows, bool csv) {
    std::string text;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            text += csv ? (c > 0 ? "," : "") : (c > 0 ? " | " : "| ");
            text += rows[r][c];
        }
        text += csv ? "\n" : " |\n";
        if (r == 0 && !csv) {
            for (std::size_t c = 0; c < rows[r].size(); ++c) text += "|---:";
            text += "|\n";
        }
    }
    return text;
}
