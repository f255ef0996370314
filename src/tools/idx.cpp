// IDX image and label files to sample sets. Pixels may be averaged onto a
// square grid by area, with whole-number weights so that every mean is
// exact until its one rounding, and scaled from 0..255 to -1..1, the form of
// the program's shipped data.
#include "idx.h"

#include <algorithm>
#include <numeric>

namespace {

constexpr unsigned char kUnsignedByte = 0x08;

uint32_t big_endian(std::string_view bytes, std::size_t at) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

// Whole numbers below this are exact floats: a quotient of two is rounded once.
constexpr uint64_t kExactFloat = uint64_t(1) << 24;

uint64_t pixel(std::string_view image, std::size_t at) { return static_cast<unsigned char>(image[at]); }

// The sum of output o's overlaps times value(input cell).
template <typename Value>
uint64_t weighted_sum(const AxisWeights& axis, std::size_t o, Value&& value) {
    uint64_t sum = 0;
    const std::vector<uint64_t>& overlap = axis.overlap[o];
    for (std::size_t k = 0; k < overlap.size(); ++k) sum += overlap[k] * value(axis.first[o] + k);
    return sum;
}

}  // namespace

IdxArray parse_idx(std::string_view file, const std::string& name) {
    if (file.size() < 4 || file[0] != 0 || file[1] != 0) {
        fail_in(name, "is not an IDX file (bad magic number)");
    }
    if (static_cast<unsigned char>(file[2]) != kUnsignedByte) {
        fail_in(name, "holds values of IDX type " + std::to_string(static_cast<unsigned char>(file[2])) +
                          "; only unsigned bytes (8) are read");
    }
    const std::size_t rank = static_cast<unsigned char>(file[3]);
    const std::size_t header = 4 + 4 * rank;
    if (rank == 0 || file.size() < header) fail_in(name, "IDX header is truncated");
    IdxArray array;
    // Counted in 64 bits, stopping at "more than the file holds" so that
    // the product cannot overflow.
    unsigned long long items = 1;
    for (std::size_t d = 0; d < rank; ++d) {
        array.dims.push_back(big_endian(file, 4 + 4 * d));
        items = std::min<unsigned long long>(items * array.dims.back(), file.size() + 1ULL);
    }
    if (file.size() - header != items) {
        fail_in(name, "holds " + std::to_string(file.size() - header) + " data bytes, its header says " +
                          (items > file.size() ? std::string("more") : std::to_string(items)));
    }
    array.bytes = file.substr(header);
    return array;
}

AxisWeights axis_weights(uint32_t length, uint32_t side) {
    const uint64_t common = std::gcd(length, side);
    const uint64_t input_span = side / common;
    const uint64_t output_span = length / common;
    AxisWeights axis;
    axis.total = output_span;
    for (uint64_t o = 0; o < side; ++o) {
        const uint64_t start = o * output_span;
        const uint64_t end = start + output_span;
        const uint64_t first = start / input_span;
        std::vector<uint64_t> overlap;
        for (uint64_t a = first; a < length && a * input_span < end; ++a) {
            overlap.push_back(std::min(end, (a + 1) * input_span) - std::max(start, a * input_span));
        }
        axis.first.push_back(static_cast<uint32_t>(first));
        axis.overlap.push_back(std::move(overlap));
    }
    return axis;
}

std::vector<uint64_t> area_sums(std::string_view image, uint32_t columns, const AxisWeights& down,
                                const AxisWeights& across) {
    const std::size_t rows = image.size() / columns;
    const std::size_t wide = across.first.size();
    // Each input row resampled across first, then each output column down.
    std::vector<uint64_t> narrow(rows * wide);
    for (std::size_t y = 0; y < rows; ++y) {
        for (std::size_t ox = 0; ox < wide; ++ox) {
            narrow[y * wide + ox] =
                weighted_sum(across, ox, [&](std::size_t x) { return pixel(image, y * columns + x); });
        }
    }
    std::vector<uint64_t> sums(down.first.size() * wide);
    for (std::size_t oy = 0; oy < down.first.size(); ++oy) {
        for (std::size_t ox = 0; ox < wide; ++ox) {
            sums[oy * wide + ox] = weighted_sum(down, oy, [&](std::size_t y) { return narrow[y * wide + ox]; });
        }
    }
    return sums;
}

float area_value(uint64_t sum, uint64_t weight, bool scale) {
    const uint64_t denominator = scale ? 255 * weight : weight;
    const int64_t numerator =
        scale ? 2 * static_cast<int64_t>(sum) - static_cast<int64_t>(denominator) : static_cast<int64_t>(sum);
    const uint64_t magnitude = numerator < 0 ? uint64_t(-numerator) : uint64_t(numerator);
    if (magnitude < kExactFloat && denominator < kExactFloat) {
        return static_cast<float>(numerator) / static_cast<float>(denominator);
    }
    return static_cast<float>(static_cast<double>(numerator) / static_cast<double>(denominator));
}

ConvertedRows idx_rows(std::string_view images, const std::string& images_name, std::string_view labels,
                       const std::string& labels_name, const IdxOptions& options) {
    const IdxArray pictures = parse_idx(images, images_name);
    const IdxArray tags = parse_idx(labels, labels_name);
    if (pictures.dims.size() != 3) {
        fail_in(images_name, "is not a set of images (needs 3 dimensions)");
    }
    if (tags.dims.size() != 1) fail_in(labels_name, "is not a set of labels (needs 1 dimension)");
    const uint32_t count = pictures.dims[0];
    if (tags.dims[0] != count) {
        fail_in(labels_name, "holds " + std::to_string(tags.dims[0]) + " labels for " + std::to_string(count) +
                                 " images in " + images_name);
    }
    if (count == 0) fail_in(images_name, "holds no image");
    const uint32_t rows = pictures.dims[1];
    const uint32_t columns = pictures.dims[2];
    const std::size_t pixels = std::size_t(rows) * columns;
    if (pixels == 0) fail_in(images_name, "holds images without pixels");

    const bool resample = options.resample != 0;
    AxisWeights down;
    AxisWeights across;
    if (resample) {
        down = axis_weights(rows, options.resample);
        across = axis_weights(columns, options.resample);
    }
    const uint64_t weight = resample ? down.total * across.total : 1;
    ConvertedRows converted;
    std::vector<float> features;
    for (uint32_t item = 0; item < count; ++item) {
        const std::string_view image = pictures.bytes.substr(item * pixels, pixels);
        features.clear();
        if (resample) {
            for (uint64_t sum : area_sums(image, columns, down, across)) {
                features.push_back(area_value(sum, weight, options.scale));
            }
        } else {
            for (std::size_t p = 0; p < pixels; ++p) {
                features.push_back(area_value(pixel(image, p), 1, options.scale));
            }
        }
        // Items are counted from 1, like lines.
        const double raw = static_cast<unsigned char>(tags.bytes[item]);
        converted.features = uint32_t(features.size());
        converted.add(features, integer_label(raw, options.labels, labels_name, item + 1ULL));
    }
    return converted;
}

std::string idx_to_samples(std::string_view images, const std::string& images_name, std::string_view labels,
                           const std::string& labels_name, const IdxOptions& options) {
    return sample_text(idx_rows(images, images_name, labels, labels_name, options));
}
