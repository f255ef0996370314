// IDX image and label files to sample sets. Pixels may be averaged onto a
// smaller square grid by area and scaled from 0..255 to -1..1, the form of
// the program's shipped data.
#include "digit_tools_idx.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr unsigned char kUnsignedByte = 0x08;

uint32_t big_endian(std::string_view bytes, std::size_t at) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

// weights[o * length + i]: the share of input cell i in output cell o, each
// output row summing to one.
std::vector<double> area_weights(uint32_t length, uint32_t side) {
    std::vector<double> weights(std::size_t(side) * length, 0.0);
    const double step = static_cast<double>(length) / side;
    for (uint32_t o = 0; o < side; ++o) {
        const double start = o * step;
        const double end = start + step;
        for (uint32_t i = static_cast<uint32_t>(start); i < length && i < end; ++i) {
            const double overlap = std::min<double>(end, i + 1.0) - std::max<double>(start, i);
            if (overlap > 0.0) weights[std::size_t(o) * length + i] = overlap / step;
        }
    }
    return weights;
}

}  // namespace

IdxArray parse_idx(std::string_view file, const std::string& name) {
    if (file.size() < 4 || file[0] != 0 || file[1] != 0) {
        fail_in(name, "is not an IDX file (bad magic number)");
    }
    if (static_cast<unsigned char>(file[2]) != kUnsignedByte) {
        fail_in(name, "holds values of IDX type " +
                          std::to_string(static_cast<unsigned char>(file[2])) +
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
        fail_in(name, "holds " + std::to_string(file.size() - header) +
                          " data bytes, its header says " +
                          (items > file.size() ? std::string("more") : std::to_string(items)));
    }
    array.bytes = file.substr(header);
    return array;
}

std::vector<double> area_resample(const std::vector<double>& image, uint32_t rows, uint32_t columns,
                                  uint32_t side) {
    const std::vector<double> down = area_weights(rows, side);
    const std::vector<double> across = area_weights(columns, side);
    // First along each row, then down each column.
    std::vector<double> narrow(std::size_t(rows) * side, 0.0);
    for (uint32_t y = 0; y < rows; ++y) {
        for (uint32_t ox = 0; ox < side; ++ox) {
            double sum = 0.0;
            for (uint32_t x = 0; x < columns; ++x) {
                sum += across[std::size_t(ox) * columns + x] * image[std::size_t(y) * columns + x];
            }
            narrow[std::size_t(y) * side + ox] = sum;
        }
    }
    std::vector<double> out(std::size_t(side) * side, 0.0);
    for (uint32_t oy = 0; oy < side; ++oy) {
        for (uint32_t ox = 0; ox < side; ++ox) {
            double sum = 0.0;
            for (uint32_t y = 0; y < rows; ++y) {
                sum += down[std::size_t(oy) * rows + y] * narrow[std::size_t(y) * side + ox];
            }
            out[std::size_t(oy) * side + ox] = sum;
        }
    }
    return out;
}

std::string idx_to_samples(std::string_view images, const std::string& images_name,
                           std::string_view labels, const std::string& labels_name,
                           const IdxOptions& options) {
    const IdxArray pictures = parse_idx(images, images_name);
    const IdxArray tags = parse_idx(labels, labels_name);
    if (pictures.dims.size() != 3) {
        fail_in(images_name, "is not a set of images (needs 3 dimensions)");
    }
    if (tags.dims.size() != 1) fail_in(labels_name, "is not a set of labels (needs 1 dimension)");
    const uint32_t count = pictures.dims[0];
    if (tags.dims[0] != count) {
        fail_in(labels_name, "holds " + std::to_string(tags.dims[0]) + " labels for " +
                                 std::to_string(count) + " images in " + images_name);
    }
    if (count == 0) fail_in(images_name, "holds no image");
    const uint32_t rows = pictures.dims[1];
    const uint32_t columns = pictures.dims[2];
    const std::size_t pixels = std::size_t(rows) * columns;
    if (pixels == 0) fail_in(images_name, "holds images without pixels");

    std::string out;
    std::vector<double> image(pixels);
    std::vector<float> features;
    for (uint32_t item = 0; item < count; ++item) {
        for (std::size_t p = 0; p < pixels; ++p) {
            image[p] = static_cast<unsigned char>(pictures.bytes[item * pixels + p]);
        }
        const std::vector<double> shown =
            options.resample != 0 ? area_resample(image, rows, columns, options.resample) : image;
        features.clear();
        for (double value : shown) {
            features.push_back(static_cast<float>(options.scale ? value / 127.5 - 1.0 : value));
        }
        // Items are counted from 1, like lines.
        const double raw = static_cast<unsigned char>(tags.bytes[item]);
        append_sample(out, features, integer_label(raw, options.labels, labels_name, item + 1ULL));
    }
    return out;
}
