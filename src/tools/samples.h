// Shared pieces of digit-tools: reading whole files, writing sample lines
// that read back as the same floats, label maps, the engine's options, and
// loading sample sets through the library's loader.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "programma/api.h"

// Every failure of a command is thrown as std::runtime_error; its text names
// the file and the line (or item) at fault.
[[noreturn]] void fail_at(const std::string& file, unsigned long long line, const std::string& what);
[[noreturn]] void fail_in(const std::string& file, const std::string& what);

// The whole content of a file ("-" is standard input).
std::string read_whole_file(const std::string& path);

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

// A whole token as a number (C locale, a leading '+' allowed, "nan" and
// "inf" too). False when the token is not entirely a number.
bool parse_float(std::string_view token, float& value);
bool parse_double(std::string_view token, double& value);

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

// Reads a mistake list, one row index a line, whose entries must name rows
// of a set of `rows` rows; throws naming the file, and the line or entry at
// fault.
std::vector<int32_t> restored_list(const std::string& path, uint32_t rows);
