// LIBSVM/SVMlight and CSV text to sample sets, and sample sets back to
// LIBSVM. Inputs are checked line by line; the first bad line stops the
// conversion with its file and line number.
#include "convert.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view text) {
    while (!text.empty() && (is_blank(text.front()) || text.front() == '\r')) text.remove_prefix(1);
    while (!text.empty() && (is_blank(text.back()) || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> blank_separated(std::string_view line) {
    std::vector<std::string_view> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && is_blank(line[i])) ++i;
        std::size_t start = i;
        while (i < line.size() && !is_blank(line[i])) ++i;
        if (i > start) tokens.push_back(line.substr(start, i - start));
    }
    return tokens;
}

std::string quoted(std::string_view token) {
    constexpr std::size_t kMaxShown = 40;
    std::string shown(token.substr(0, kMaxShown));
    if (token.size() > kMaxShown) shown += "...";
    return "'" + shown + "'";
}

struct SparseRow {
    long long label = 0;
    std::vector<std::pair<uint32_t, float>> features;  // 1-based index, value
    unsigned long long line = 0;
};

bool parse_index(std::string_view text, uint32_t& index) {
    if (text.empty() || text.size() > 10) return false;
    unsigned long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > kMaxLibsvmWidth) return false;
    index = static_cast<uint32_t>(value);
    return true;
}

SparseRow parse_sparse_line(std::string_view line, unsigned long long number, const std::string& name,
                            const LibsvmOptions& options) {
    std::vector<std::string_view> tokens = blank_separated(line);
    SparseRow row;
    row.line = number;
    double raw = 0.0;
    if (!parse_double(tokens[0], raw)) {
        fail_at(name, number, "label " + quoted(tokens[0]) + " is not a number");
    }
    row.label = integer_label(raw, options.labels, name, number);
    uint32_t previous = 0;
    for (std::size_t t = 1; t < tokens.size(); ++t) {
        std::string_view token = tokens[t];
        if (token.starts_with("qid:")) continue;  // SVMlight query ids carry no feature
        std::size_t colon = token.find(':');
        uint32_t index = 0;
        float value = 0.0f;
        if (colon == std::string_view::npos || !parse_index(token.substr(0, colon), index) ||
            !parse_float(token.substr(colon + 1), value)) {
            fail_at(name, number, quoted(token) + " is not index:value with an index from 1");
        }
        if (index <= previous) {
            fail_at(name, number, "indices must ascend, " + quoted(token) + " does not");
        }
        if (options.width != 0 && index > options.width) {
            fail_at(name, number,
                    "index " + std::to_string(index) + " is beyond the width " + std::to_string(options.width));
        }
        previous = index;
        row.features.emplace_back(index, value);
    }
    return row;
}

// Splits a CSV line on the delimiter; blank delimiters split on runs of
// blanks. Fields lose surrounding blanks and double quotes.
std::vector<std::string_view> csv_fields(std::string_view line, char delimiter) {
    if (is_blank(delimiter)) return blank_separated(line);
    std::vector<std::string_view> fields;
    for (;;) {
        std::size_t end = line.find(delimiter);
        std::string_view field = trim(line.substr(0, end));
        if (field.size() >= 2 && field.front() == '"' && field.back() == '"') {
            field = trim(field.substr(1, field.size() - 2));
        }
        fields.push_back(field);
        if (end == std::string_view::npos) break;
        line.remove_prefix(end + 1);
    }
    return fields;
}

}  // namespace

void ConvertedRows::add(std::span<const float> row, long long label) {
    values.insert(values.end(), row.begin(), row.end());
    labels.push_back(label);
}

std::string sample_text(const ConvertedRows& rows) {
    std::string out;
    for (std::size_t r = 0; r < rows.rows(); ++r) {
        append_sample(out, std::span(rows.values).subspan(r * rows.features, rows.features), rows.labels[r]);
    }
    return out;
}

ConvertedRows libsvm_rows(std::string_view text, const std::string& name, const LibsvmOptions& options) {
    std::vector<SparseRow> rows;
    uint32_t widest = 0;
    for_each_text_line(text, [&](std::string_view line, unsigned long long number) {
        line = line.substr(0, line.find('#'));  // SVMlight comments
        if (blank_separated(line).empty()) return;
        rows.push_back(parse_sparse_line(line, number, name, options));
        if (!rows.back().features.empty()) {
            widest = std::max(widest, rows.back().features.back().first);
        }
    });
    if (rows.empty()) fail_in(name, "holds no sample line");

    ConvertedRows converted;
    converted.features = options.width != 0 ? options.width : widest;
    std::vector<float> dense(converted.features);
    for (const SparseRow& row : rows) {
        std::fill(dense.begin(), dense.end(), 0.0f);
        for (const auto& [index, value] : row.features) dense[index - 1] = value;
        converted.add(dense, row.label);
    }
    return converted;
}

std::string libsvm_to_samples(std::string_view text, const std::string& name, const LibsvmOptions& options) {
    return sample_text(libsvm_rows(text, name, options));
}

ConvertedRows csv_rows(std::string_view text, const std::string& name, const CsvOptions& options) {
    ConvertedRows converted;
    std::size_t expected = 0;
    bool header_pending = options.header;
    std::vector<float> features;
    for_each_text_line(text, [&](std::string_view line, unsigned long long number) {
        if (trim(line).empty()) return;
        if (header_pending) {
            header_pending = false;
            return;
        }
        std::vector<std::string_view> fields = csv_fields(line, options.delimiter);
        if (expected == 0) {
            expected = fields.size();
            if (options.label_column > expected) {
                fail_at(name, number,
                        "has " + std::to_string(expected) + " columns, no label column " +
                            std::to_string(options.label_column));
            }
        }
        if (fields.size() != expected) {
            fail_at(name, number,
                    "has " + std::to_string(fields.size()) + " columns, expected " + std::to_string(expected) +
                        " like the first line");
        }
        const std::size_t label_at = options.label_column == 0 ? expected - 1 : options.label_column - 1;
        features.clear();
        double raw = 0.0;
        for (std::size_t f = 0; f < fields.size(); ++f) {
            float value = 0.0f;
            bool ok = f == label_at ? parse_double(fields[f], raw) : parse_float(fields[f], value);
            if (!ok) {
                fail_at(name, number,
                        "column " + std::to_string(f + 1) + ", " + quoted(fields[f]) + ", is not a number");
            }
            if (f != label_at) features.push_back(value);
        }
        converted.features = uint32_t(features.size());
        converted.add(features, integer_label(raw, options.labels, name, number));
    });
    if (converted.rows() == 0) fail_in(name, "holds no sample line");
    return converted;
}

std::string csv_to_samples(std::string_view text, const std::string& name, const CsvOptions& options) {
    return sample_text(csv_rows(text, name, options));
}

std::string samples_to_libsvm(const programma::SampleSet& samples) {
    std::string out;
    const uint32_t features = samples.features();
    for (uint32_t r = 0; r < samples.rows(); ++r) {
        const float* row = samples.row(r);
        append_float(out, row[features]);
        for (uint32_t j = 0; j < features; ++j) {
            // Only +0 is left out: -0 must come back as -0.
            if (row[j] == 0.0f && !std::signbit(row[j])) continue;
            out += ' ';
            out += std::to_string(j + 1);
            out += ':';
            append_float(out, row[j]);
        }
        out += '\n';
    }
    return out;
}
