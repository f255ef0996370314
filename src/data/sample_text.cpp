// Lines and numbers of sample files: the pieces both loaders share.
#include "sample_text.h"

#include <fcntl.h>
#include <cstdio>
#include <cstdlib>

#include "diagnostics.h"
#include "file_lib.h"

using programma::ErrorKind;

int open_sample_file(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (!diagnostics_captured()) std::printf("ERRORE NEL FILE");
        report_file_problem(ErrorKind::input_output, path, 0, error,
                            std::string("cannot open: ") + std::strerror(error));
    }
    return fd;
}

void report_read_failure(const char* path, int failure) {
    if (failure > 0) {
        report_file_problem(ErrorKind::input_output, path, 0, failure,
                            std::string("cannot read: ") + std::strerror(failure));
    } else {
        report_file_problem(ErrorKind::bad_data, path, 0, 0, "the file ended early (it changed)");
    }
}

void report_bad_line(const char* path, unsigned long long line, const std::string& problem) {
    report_file_problem(ErrorKind::bad_data, path, line, 0, problem);
}

void report_changed_count(const char* path, unsigned long long loaded, uint32_t counted) {
    report_file_problem(
        ErrorKind::bad_data, path, 0, 0,
        std::to_string(loaded) + " sample lines, " + std::to_string(counted) + " were counted (the file changed)");
}

int counted_dims(const char* path, uint64_t rows, uint64_t columns, Dims& dims) {
    if (rows == 0) {
        report_file_problem(ErrorKind::bad_data, path, 0, 0, "holds no sample line");
        return 1;
    }
    if (rows > UINT32_MAX || columns > UINT32_MAX) {
        report_file_problem(ErrorKind::bad_data, path, 0, 0, "too many samples or numbers");
        return 1;
    }
    dims.columns = static_cast<uint32_t>(columns);
    dims.rows = static_cast<uint32_t>(rows);
    return 0;
}

bool has_content(std::string_view line) {
    for (char c : line) {
        if (!is_separator(c)) return true;
    }
    return false;
}

std::size_t count_tokens(std::string_view line) {
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && is_separator(line[i])) ++i;
        if (i == line.size()) break;
        while (i < line.size() && !is_separator(line[i])) ++i;
        ++count;
    }
    return count;
}

bool read_number_strtof(std::string_view token, float& value) {
    const std::string copy(token);  // strtof needs the token's end marked
    char* end = nullptr;
    value = std::strtof(copy.c_str(), &end);
    return !copy.empty() && end == copy.c_str() + copy.size();
}

std::string not_a_number(std::string_view token) {
    constexpr std::size_t kMaxShown = 40;
    static const char kHex[] = "0123456789abcdef";
    std::string shown(1, '\'');
    for (unsigned char c : token.substr(0, kMaxShown)) {
        if (c >= 0x20 && c < 0x7f) {
            shown += static_cast<char>(c);
        } else {
            shown += "\\x";
            shown += kHex[c >> 4];
            shown += kHex[c & 0xf];
        }
    }
    if (token.size() > kMaxShown) shown += "...";
    shown += "' is not a number";
    return shown;
}

std::string wrong_count(std::size_t count, uint32_t columns) {
    std::string problem("holds ");
    problem += std::to_string(count);
    problem += " numbers, expected ";
    problem += std::to_string(columns);
    problem += " like the first sample line";
    return problem;
}

ssize_t read_some(int fd, char* to, std::size_t count, uint64_t offset) {
    for (;;) {
        const ssize_t got = offset == kToEnd ? ::read(fd, to, count) : ::pread(fd, to, count, off_t(offset));
        if (got >= 0 || errno != EINTR) return got;
    }
}
