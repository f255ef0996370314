// The reference reader of the sample-file fuzz targets: what measuring and
// loading a text must give, worked out with strtof itself, and the check of
// line_counter and read_file against it.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "file_lib.h"
#include "fuzz_support.h"

namespace fuzz {


inline bool is_separator(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

inline std::string shown(std::string_view token) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : token.substr(0, 40)) {
        if (c >= 0x20 && c < 0x7f) {
            text += static_cast<char>(c);
        } else {
            text += "\\x";
            text += kHex[c >> 4];
            text += kHex[c & 0xf];
        }
    }
    if (token.size() > 40) text += "...";
    return text;
}

struct Expected {
    bool measured = false;  // line_counter succeeds
    bool loaded = false;    // read_file succeeds too
    uint32_t rows = 0;
    uint32_t columns = 0;
    std::vector<float> values;
    std::string diagnostic;  // the whole standard error of the failing step
};

inline std::vector<std::string_view> tokens_of(std::string_view line) {
    std::vector<std::string_view> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && is_separator(line[i])) ++i;
        std::size_t from = i;
        while (i < line.size() && !is_separator(line[i])) ++i;
        if (i > from) tokens.push_back(line.substr(from, i - from));
    }
    return tokens;
}

inline Expected reference(std::string_view text, const std::string& path, std::size_t line_offset = 0) {
    Expected e;
    std::vector<std::pair<std::size_t, std::vector<std::string_view>>> lines;  // line number, tokens
    std::size_t start = 0;
    std::size_t number = line_offset;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        ++number;
        std::vector<std::string_view> tokens = tokens_of(text.substr(start, end - start));
        if (!tokens.empty()) lines.emplace_back(number, std::move(tokens));
        start = end + 1;
    }
    if (lines.empty()) {
        e.diagnostic = "programma: " + path + ": holds no sample line\n";
        return e;
    }
    e.measured = true;
    e.rows = static_cast<uint32_t>(lines.size());
    e.columns = static_cast<uint32_t>(lines.front().second.size());
    for (const auto& [line, tokens] : lines) {
        const std::string where = "programma: " + path + ":" + std::to_string(line) + ": ";
        // Tokens are read left to right up to the expected width; the first
        // that is not a number is reported, then a wrong count.
        for (std::size_t i = 0; i < tokens.size() && i < e.columns; ++i) {
            std::string token(tokens[i]);
            char* end = nullptr;
            float value = std::strtof(token.c_str(), &end);
            if (end != token.c_str() + token.size()) {  // not a number (NUL bytes too)
                e.diagnostic = where + "'" + shown(tokens[i]) + "' is not a number\n";
                return e;
            }
            e.values.push_back(value);
        }
        if (tokens.size() != e.columns) {
            e.diagnostic = where + "holds " + std::to_string(tokens.size()) + " numbers, expected " +
                           std::to_string(e.columns) + " like the first sample line\n";
            return e;
        }
    }
    e.loaded = true;
    return e;
}

inline bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Measures and loads `path` and checks every outcome against the reference
// reader on `text`: the file's content, or (for a padded file) the part that
// holds numbers, starting `line_offset` lines into the file.
inline void check_load(const std::string& path, std::string_view text, std::size_t line_offset = 0) {
    const Expected expected = reference(text, path, line_offset);
    fuzz::StderrCapture err;
    Dims dims;
    int measured = line_counter(path.c_str(), dims);
    FUZZ_CHECK((measured == 0) == expected.measured);
    if (measured != 0) {
        FUZZ_CHECK(err.text() == expected.diagnostic);
        return;
    }
    FUZZ_CHECK(dims.rows == expected.rows);
    FUZZ_CHECK(dims.columns == expected.columns);
    FUZZ_CHECK(err.text().empty());

    SampleMatrix matrix;
    int loaded = read_file(matrix, dims.columns, dims.rows, path.c_str());
    FUZZ_CHECK((loaded == 0) == expected.loaded);
    FUZZ_CHECK(err.text() == expected.diagnostic);
    if (loaded != 0) return;
    FUZZ_CHECK(matrix.rows == dims.rows);
    FUZZ_CHECK(matrix.columns == dims.columns);
    FUZZ_CHECK(matrix.values.size() == std::size_t(dims.rows) * dims.columns);
    for (std::size_t i = 0; i < matrix.values.size(); ++i) {
        FUZZ_CHECK(same_bits(matrix.values[i], expected.values[i]));
    }
}

}  // namespace fuzz
