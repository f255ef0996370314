// Converters between sample-set files and other formats: LIBSVM/SVMlight
// sparse text, CSV, and IDX image/label pairs. Each takes the input's bytes
// and returns its rows or the output's bytes, throwing std::runtime_error at
// the first bad line.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "samples.h"

// Wider LIBSVM rows than this are surely a wrong index, not an image.
inline constexpr uint32_t kMaxLibsvmWidth = uint32_t(1) << 24;

struct LibsvmOptions {
    uint32_t width = 0;  // feature count; 0 means the largest index seen
    LabelMap labels;
};

struct CsvOptions {
    char delimiter = ',';
    bool header = false;        // the first line names the columns
    uint32_t label_column = 0;  // 1-based; 0 means the last column
    LabelMap labels;
};

struct IdxOptions {
    uint32_t resample = 0;  // side of the square output image; 0 keeps the size
    bool scale = false;     // map 0..255 to -1..1
    LabelMap labels;
};

// Rows read from another format: each row's features and its whole-number
// label, as the sample-set file convert writes holds them.
struct ConvertedRows {
    uint32_t features = 0;
    std::vector<float> values;      // row-major, features a row
    std::vector<long long> labels;  // one a row

    std::size_t rows() const { return labels.size(); }
    void add(std::span<const float> row, long long label);
};

// The sample-set file of the rows: one sample line each (append_sample).
std::string sample_text(const ConvertedRows& rows);

ConvertedRows libsvm_rows(std::string_view text, const std::string& name, const LibsvmOptions& options);
ConvertedRows csv_rows(std::string_view text, const std::string& name, const CsvOptions& options);

std::string libsvm_to_samples(std::string_view text, const std::string& name, const LibsvmOptions& options);
std::string csv_to_samples(std::string_view text, const std::string& name, const CsvOptions& options);
std::string samples_to_libsvm(const programma::SampleSet& samples);
