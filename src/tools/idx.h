// IDX files (big-endian header, then unsigned bytes) as used by MNIST-style
// image sets, converted to sample sets with optional exact area resampling.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "convert.h"

struct IdxArray {
    std::vector<uint32_t> dims;  // the first is the item count
    std::string_view bytes;      // the items, one unsigned byte per value
};

// Checks the header and the size; the view points into `file`.
IdxArray parse_idx(std::string_view file, const std::string& name);

// Whole-number overlaps of `length` input cells with `side` output cells. In
// units of 1/side of an input cell (both reduced by their gcd), input a
// covers [a * side, (a + 1) * side] and output o covers [o * length,
// (o + 1) * length]; each output's overlaps sum to `total`.
struct AxisWeights {
    std::vector<uint32_t> first;                 // per output: its first input cell
    std::vector<std::vector<uint64_t>> overlap;  // per output: overlaps from `first` on
    uint64_t total = 0;
};

AxisWeights axis_weights(uint32_t length, uint32_t side);

// For each output pixel of a rows x columns image resampled onto `down` x
// `across` cells, S = the sum of w_row * w_column * value; the mean is S / W
// with W = down.total * across.total.
std::vector<uint64_t> area_sums(std::string_view image, uint32_t columns, const AxisWeights& down,
                                const AxisWeights& across);

// S / W, or with `scale` (2S - 255W) / (255W), the 0..255 mean mapped onto
// -1..1: one float division when both terms are exact floats, else the
// quotient in double rounded once to float.
float area_value(uint64_t sum, uint64_t weight, bool scale);

ConvertedRows idx_rows(std::string_view images, const std::string& images_name, std::string_view labels,
                       const std::string& labels_name, const IdxOptions& options);
std::string idx_to_samples(std::string_view images, const std::string& images_name, std::string_view labels,
                           const std::string& labels_name, const IdxOptions& options);
