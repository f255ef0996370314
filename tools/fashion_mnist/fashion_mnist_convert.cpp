// Converts Fashion-MNIST IDX files (28x28 grey images, labels 0..9) into
// sample-set files: each image is area-averaged to 16x16, scaled to [-1, 1]
// and written as 256 features and the integer label, one sample per line.
//
// Usage: fashion_mnist_convert IMAGES LABELS OUTPUT
// IMAGES and LABELS are the uncompressed IDX files (idx3-ubyte, idx1-ubyte).
//
// Area averaging: output pixel i covers source coordinates [1.75 i, 1.75 (i + 1)]
// on each axis, so every source pixel overlaps it by 0, 1, 2, 3 or 4 quarters
// of its width. With those quarter weights q (seven quarters per output pixel
// and axis) the average of the output pixel is S / 49, where
// S = sum over source pixels of q_row * q_col * value is a whole number, and
// the scaled value (S / 49) / 255 * 2 - 1 is exactly (2 S - 12495) / 12495.
// Both terms are exact floats, so one float division gives that quotient
// correctly rounded; it is printed in the shortest form that reads back to
// the same float.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kSource = 28;
constexpr int kTarget = 16;
constexpr int kQuartersPerTarget = 7;  // 28 / 16 = 1.75 source pixels
constexpr int kDenominator = kQuartersPerTarget * kQuartersPerTarget * 255;  // 12495

using Weights = std::array<std::array<int, kSource>, kTarget>;

// Quarter-width overlap of source pixel a ([4a, 4a + 4] in quarters) with
// target pixel i ([7i, 7i + 7] in quarters).
Weights quarter_weights() {
    Weights weights{};
    for (int i = 0; i < kTarget; ++i) {
        for (int a = 0; a < kSource; ++a) {
            int low = std::max(4 * a, kQuartersPerTarget * i);
            int high = std::min(4 * a + 4, kQuartersPerTarget * (i + 1));
            weights[i][a] = std::max(0, high - low);
        }
    }
    return weights;
}

bool read_whole(const char* path, std::vector<unsigned char>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

uint32_t big_endian(const std::vector<unsigned char>& bytes, std::size_t at) {
    return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 |
           uint32_t(bytes[at + 2]) << 8 | uint32_t(bytes[at + 3]);
}

// The shortest decimal text of every possible output value, indexed by S.
std::vector<std::string> value_texts() {
    std::vector<std::string> texts(kDenominator + 1);
    for (int s = 0; s <= kDenominator; ++s) {
        float value = static_cast<float>(2 * s - kDenominator) / static_cast<float>(kDenominator);
        char buffer[32];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        texts[s].assign(buffer, result.ptr);
    }
    return texts;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s IMAGES LABELS OUTPUT\n", argv[0]);
        return 2;
    }
    std::vector<unsigned char> images, labels;
    if (!read_whole(argv[1], images) || !read_whole(argv[2], labels)) {
        std::fprintf(stderr, "%s: cannot read the IDX files\n", argv[0]);
        return 1;
    }
    if (images.size() < 16 || labels.size() < 8 || big_endian(images, 0) != 0x803 ||
        big_endian(labels, 0) != 0x801) {
        std::fprintf(stderr, "%s: not an IDX image file and an IDX label file\n", argv[0]);
        return 1;
    }
    const uint32_t count = big_endian(images, 4);
    if (big_endian(images, 8) != kSource || big_endian(images, 12) != kSource ||
        big_endian(labels, 4) != count ||
        images.size() != 16 + std::size_t(count) * kSource * kSource ||
        labels.size() != 8 + std::size_t(count)) {
        std::fprintf(stderr, "%s: the IDX files do not hold matching 28x28 images and labels\n",
                     argv[0]);
        return 1;
    }

    const Weights weights = quarter_weights();
    const std::vector<std::string> texts = value_texts();
    std::FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[3]);
        return 1;
    }
    std::string line;
    for (uint32_t n = 0; n < count; ++n) {
        const unsigned char* pixels = images.data() + 16 + std::size_t(n) * kSource * kSource;
        // Rows first: the quarter-weighted sum of source rows for each target row.
        std::array<std::array<int, kSource>, kTarget> row_sums{};
        for (int i = 0; i < kTarget; ++i) {
            for (int a = 0; a < kSource; ++a) {
                if (weights[i][a] == 0) continue;
                for (int b = 0; b < kSource; ++b) {
                    row_sums[i][b] += weights[i][a] * pixels[a * kSource + b];
                }
            }
        }
        line.clear();
        for (int i = 0; i < kTarget; ++i) {
            for (int j = 0; j < kTarget; ++j) {
                int s = 0;
                for (int b = 0; b < kSource; ++b) s += weights[j][b] * row_sums[i][b];
                line += texts[s];
                line += ' ';
            }
        }
        line += std::to_string(labels[8 + n]);
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), out);
    }
    if (std::fclose(out) != 0) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[3]);
        return 1;
    }
    return 0;
}
