// Shared pieces of digit-tools: reading files, lists and numbers, writing
// sample lines that read back as the same floats, label maps, the engine's
// options, and sample sets loaded through the library's loader or made of
// chosen rows.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "programma/api.h"

// Every failure of a command is thrown as std::runtime_error; its text names
// the file and the line (or item) at fault.
[[noreturn]] void fail_at(const std::string& file, unsigned long long line, const std::string& what);
[[noreturn]] void fail_in(const std::string& file, const std::string& what);

// A library result's value; its error thrown as std::runtime_error, named
// after `path` when it names no file of its own.
template <typename T>
T value_for(programma::Result<T>&& result, const std::string& path) {
    if (result) return std::move(result).value();
    programma::Error error = result.error();
    if (error.path.empty()) error.path = path;
    throw std::runtime_error(error.message());
}

// An open descriptor, closed when it goes (-1 for none).
struct Descriptor {
    int fd;
    explicit Descriptor(int open) : fd(open) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor();
};

// The whole content of a file ("-" is standard input).
std::string read_whole_file(const std::string& path);

// The whole content of a regular file of at most `most` bytes, read once; a
// FIFO, a device or a folder is refused at once, and so is a larger file.
std::string read_regular_file(const std::string& path, std::size_t most = SIZE_MAX);

// Reads an open file to its end, handing on_block(bytes) each block in
// order; throws naming `path` when a read fails.
void for_each_block(std::FILE* file, const std::string& path, const std::function<void(std::string_view)>& on_block);

// Calls on_line(line, number) for every line, the last one too when it has
// no newline; a carriage return before the newline is dropped.
template <typename OnLine>
void for_each_text_line(std::string_view text, OnLine&& on_line) {
    unsigned long long number = 0;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        on_line(line, ++number);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    }
}

// Calls on_item(item) for each item of a list cut at `separator` (empty
// items too), while it returns true; false when one returned false.
template <typename OnItem>
bool for_each_item(std::string_view text, char separator, OnItem&& on_item) {
    while (true) {
        const std::size_t end = text.find(separator);
        if (!on_item(text.substr(0, end))) return false;
        if (end == std::string_view::npos) return true;
        text.remove_prefix(end + 1);
    }
}

// A whole token as a number (C locale, a leading '+' allowed, "nan" and
// "inf" too). False when the token is not entirely a number.
bool parse_float(std::string_view token, float& value);
bool parse_double(std::string_view token, double& value);

// A whole token as a whole number of its type, in `base` (no sign, no
// blank). False when the token is not entirely one, or out of range.
template <typename Number>
bool parse_whole(std::string_view token, Number& value, int base = 10) {
    const char* end = token.data() + token.size();
    const auto [stop, error] = std::from_chars(token.data(), end, value, base);
    return !token.empty() && error == std::errc() && stop == end;
}

// Appends the shortest text that reads back as exactly `value`.
void append_float(std::string& out, float value);

// Appends one sample line: the features, then the label, single blanks,
// a final newline.
void append_sample(std::string& out, std::span<const float> features, long long label);

// Label rewrites such as 10=0 (the digit zero stored as ten).
struct LabelMap {
    std::vector<std::pair<double, double>> pairs;

    // Adds "FROM=TO[,FROM=TO...]"; false when the text is malformed.
    bool add(std::string_view text);
    double apply(double label) const;
};

// The label a sample line gets: mapped, and required to be a whole number.
long long integer_label(double raw, const LabelMap& map, const std::string& file, unsigned long long line);

// How digit-tools lets the library use the machine: the defaults with the
// environment's PROGRAMMA_THREADS, PROGRAMMA_CACHE_MB and PROGRAMMA_VECTOR,
// read once, at start, and workers pinned to processors (the mask of the
// thread that starts programma's runs is left alone: they inherit it).
const programma::EngineOptions& engine_options();

// Loads a sample set with the library's loader (the program's rows, read in
// parallel); throws naming the file and line of a fault.
programma::SampleSet load_sample_set(const std::string& path);

// The same from a file or a stream read once ("-" is standard input).
programma::SampleSet load_sample_stream(const std::string& path);

// Throws naming `path` unless `samples` have the training set's numbers a row.
void require_training_width(const programma::SampleSet& samples, const std::string& path,
                            const programma::SampleSet& training);

// What the last number of a loaded row is: its label, or (in rows that hold
// features only) one more feature.
enum class LastColumn { label, feature };

// The rows named, in that order, as a set of their own; rows whose last
// number is a feature keep it as one, each with the label 0.
programma::SampleSet rows_of(const programma::SampleSet& set, const std::vector<uint32_t>& rows,
                             LastColumn last = LastColumn::label);

// Reads a mistake list file (a regular file, read once) by the library's
// rule: one row index a line, each naming a row of a set of `rows` rows;
// throws naming the file, and the line or entry at fault.
std::vector<int32_t> restored_list(const std::string& path, uint32_t rows);
