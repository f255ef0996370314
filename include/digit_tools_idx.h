// IDX files (big-endian header, then unsigned bytes) as used by MNIST-style
// image sets, converted to sample sets with optional area resampling.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "digit_tools_convert.h"

struct IdxArray {
    std::vector<uint32_t> dims;  // the first is the item count
    std::string_view bytes;      // the items, one unsigned byte per value
};

// Checks the header and the size; the view points into `file`.
IdxArray parse_idx(std::string_view file, const std::string& name);

// Averages a rows x columns image over a side x side grid, each output pixel
// taking the area-weighted mean of the input pixels it covers.
std::vector<double> area_resample(const std::vector<double>& image, uint32_t rows, uint32_t columns,
                                  uint32_t side);

std::string idx_to_samples(std::string_view images, const std::string& images_name,
                           std::string_view labels, const std::string& labels_name,
                           const IdxOptions& options);
