// The text of sample files: splitting bytes into lines, and a line into its
// numbers. Both loaders (the plain one of file_lib and the engine's, which
// reads parts of a file on several threads) read lines through here, each
// with its own way of reading a number.
#pragma once

#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "file_lib.h"

// Blanks between numbers; a carriage return before the newline is one too.
inline bool is_separator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// Opens a sample file for reading. One that cannot be opened is reported
// with the program's own text, "ERRORE NEL FILE", on standard output and
// the reason on standard error; the result is then -1.
int open_sample_file(const char* path);

// Owns the descriptor of an open sample file.
struct SampleFile {
    int fd = -1;
    explicit SampleFile(int value) : fd(value) {}
    SampleFile(const SampleFile&) = delete;
    SampleFile& operator=(const SampleFile&) = delete;
    ~SampleFile() {
        if (fd >= 0) ::close(fd);
    }
};

// The diagnostics both loaders give. A read failure is an errno, or -1 when
// the file ended before the bytes measured.
void report_read_failure(const char* path, int failure);
void report_bad_line(const char* path, unsigned long long line, const std::string& problem);
void report_changed_count(const char* path, unsigned long long loaded, uint32_t counted);

// Sets a file's Dims from the sample lines and the numbers on the first one
// that were counted. Returns 0, or 1 after a diagnostic when there is no
// sample line or more than 32 bits can count.
int counted_dims(const char* path, uint64_t rows, uint64_t columns, Dims& dims);

// Whether a line holds anything but separators.
bool has_content(std::string_view line);

// The numbers on a line, without reading them.
std::size_t count_tokens(std::string_view line);

// Reads a whole token as strtof does in the C locale; false when the token is
// not entirely a number.
bool read_number_strtof(std::string_view token, float& value);

// What is wrong with a bad line: a token that is not a number (shown by its
// first 40 bytes, bytes that are not printable ASCII written as \xNN), or
// its count of numbers.
std::string not_a_number(std::string_view token);
std::string wrong_count(std::size_t count, uint32_t columns);

// Calls on_line(line) for every newline-ended line of `text` until it returns
// false; returns how many bytes the lines took (the bytes after them are the
// start of a line not yet ended), or npos when on_line stopped.
template <typename OnLine>
std::size_t for_each_ended_line(std::string_view text, OnLine&& on_line) {
    std::size_t start = 0;
    for (std::size_t newline = text.find('\n'); newline != std::string_view::npos; newline = text.find('\n', start)) {
        if (!on_line(text.substr(start, newline - start))) return std::string_view::npos;
        start = newline + 1;
    }
    return start;
}

// Bytes readable past the data in a line buffer (they hold zeros, which end
// any number), so that a scanner may load 16 bytes from anywhere in a line.
constexpr std::size_t kLinePadding = 64;

// Where for_each_line reads: bytes [begin, end) at those offsets (pread), or
// with end == kToEnd whatever read() gives from the current position, which
// serves pipes too.
constexpr uint64_t kToEnd = ~uint64_t(0);

// Reads at most `count` bytes into `to` at `offset` (pread), or from the
// current position when offset is kToEnd, retrying interrupted reads.
// Returns the byte count, 0 at end of file, -1 on error (errno set).
ssize_t read_some(int fd, char* to, std::size_t count, uint64_t offset);

// Calls on_line(line, readable) for every line of a file, the last one too
// when it has no newline, reading blocks into `buffer` (a vector of char,
// grown for a line longer than it); the bytes up to `readable` may be read
// past the line. Stops when on_line returns false. Returns 0, the errno of a
// failed read, or -1 when the file ended before `end` (it shrank).
template <typename Buffer, typename OnLine>
int for_each_line(int fd, uint64_t begin, uint64_t end, std::size_t block, Buffer& buffer, OnLine&& on_line) {
    if (buffer.size() < block + kLinePadding) buffer.resize(block + kLinePadding);
    std::size_t kept = 0;  // the start of a line the last block cut, moved to the front
    uint64_t offset = begin;
    for (;;) {
        if (kept == buffer.size() - kLinePadding) buffer.resize(2 * kept + kLinePadding);
        std::size_t room = buffer.size() - kLinePadding - kept;
        if (end != kToEnd && end - offset < room) room = std::size_t(end - offset);
        const ssize_t got = room == 0 ? 0 : read_some(fd, buffer.data() + kept, room, end == kToEnd ? kToEnd : offset);
        if (got < 0) return errno;
        if (got == 0 && end != kToEnd && offset != end) return -1;
        offset += uint64_t(got);
        const std::size_t size = kept + std::size_t(got);
        std::memset(buffer.data() + size, 0, kLinePadding);
        const char* readable = buffer.data() + size + kLinePadding;
        const std::string_view data(buffer.data(), size);
        const std::size_t used =
            for_each_ended_line(data, [&](std::string_view line) { return on_line(line, readable); });
        if (used == std::string_view::npos) return 0;
        kept = size - used;
        if (got == 0 || offset == end) {
            if (kept > 0) on_line(data.substr(used), readable);
            return 0;
        }
        std::memmove(buffer.data(), buffer.data() + used, kept);
    }
}

enum class LineKind { blank, sample, bad };

// Reads one line of a sample file into out (room for `columns` floats) with
// read_number(p, end, value), which reads the token starting at p (the
// bytes up to `readable` may be read) and returns where it stopped, or
// nullptr when the token is not a number. A bad line leaves its reason in
// `problem`.
template <typename ReadNumber>
LineKind parse_sample_line(std::string_view line, uint32_t columns, float* out, std::string& problem,
                           const char* readable, ReadNumber&& read_number) {
    const char* p = line.data();
    const char* const end = p + line.size();
    std::size_t count = 0;
    for (;;) {
        while (p < end && is_separator(*p)) ++p;
        if (p == end) break;
        if (count >= columns) {  // too many numbers: only counted
            while (p < end && !is_separator(*p)) ++p;
            ++count;
            continue;
        }
        const char* stop = read_number(p, end, readable, out[count]);
        if (stop == nullptr) {
            const char* token_end = p;
            while (token_end < end && !is_separator(*token_end)) ++token_end;
            problem = not_a_number(std::string_view(p, std::size_t(token_end - p)));
            return LineKind::bad;
        }
        ++count;
        p = stop;
    }
    if (count == 0) return LineKind::blank;
    if (count != columns) {
        problem = wrong_count(count, columns);
        return LineKind::bad;
    }
    return LineKind::sample;
}

// The token at p, up to the next separator or the line's end.
inline std::string_view token_at(const char* p, const char* end) {
    const char* stop = p;
    while (stop < end && !is_separator(*stop)) ++stop;
    return std::string_view(p, std::size_t(stop - p));
}
