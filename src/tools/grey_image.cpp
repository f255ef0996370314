// Grey images, the label font and PNG output through libpng.
#include "grey_image.h"

#include <png.h>
#include <array>
#include <csetjmp>
#include <stdexcept>

namespace {

// Each glyph is five rows of three bits, the high bit on the left.
using Glyph = std::array<uint8_t, kGlyphHeight>;

constexpr std::array<Glyph, 10> kDigits = {{
    {7, 5, 5, 5, 7},  // 0
    {2, 6, 2, 2, 7},  // 1
    {7, 1, 7, 4, 7},  // 2
    {7, 1, 7, 1, 7},  // 3
    {5, 5, 7, 1, 1},  // 4
    {7, 4, 7, 1, 7},  // 5
    {7, 4, 7, 5, 7},  // 6
    {7, 1, 1, 1, 1},  // 7
    {7, 5, 7, 5, 7},  // 8
    {7, 5, 7, 1, 7},  // 9
}};
constexpr Glyph kMinus = {0, 0, 7, 0, 0};
constexpr Glyph kUnknown = {7, 1, 2, 0, 2};

const Glyph& glyph_for(char c) {
    if (c >= '0' && c <= '9') return kDigits[static_cast<std::size_t>(c - '0')];
    return c == '-' ? kMinus : kUnknown;
}

void draw_glyph(GreyImage& image, uint32_t x, uint32_t y, const Glyph& glyph, uint32_t scale) {
    for (uint32_t gy = 0; gy < kGlyphHeight; ++gy) {
        for (uint32_t gx = 0; gx < kGlyphWidth; ++gx) {
            if (((glyph[gy] >> (kGlyphWidth - 1 - gx)) & 1) == 0) continue;
            for (uint32_t dy = 0; dy < scale; ++dy) {
                for (uint32_t dx = 0; dx < scale; ++dx) {
                    const uint32_t px = x + gx * scale + dx;
                    const uint32_t py = y + gy * scale + dy;
                    if (px < image.width && py < image.height) image.at(px, py) = 0;
                }
            }
        }
    }
}

// Frees libpng's state on every path out.
struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngWriter() = default;
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;
    ~PngWriter() {
        if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    }
};

// libpng's output callback: appends to the std::string behind io_ptr.
void append_bytes(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

// libpng reports errors by longjmp; writing happens in this function alone,
// with no C++ object whose destructor the jump could skip.
bool write_rows(png_structp png, png_infop info, const GreyImage& image, std::vector<png_bytep>& rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

uint32_t text_width(std::string_view text, uint32_t scale) {
    if (text.empty()) return 0;
    return static_cast<uint32_t>(text.size() * (kGlyphWidth + 1) - 1) * scale;
}

void draw_text(GreyImage& image, uint32_t x, uint32_t y, std::string_view text, uint32_t scale) {
    for (char c : text) {
        draw_glyph(image, x, y, glyph_for(c), scale);
        x += (kGlyphWidth + 1) * scale;
    }
}

std::string png_bytes(const GreyImage& image) {
    if (image.width == 0 || image.height == 0) throw std::runtime_error("the picture would be empty");
    PngWriter writer;
    writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (writer.png != nullptr) writer.info = png_create_info_struct(writer.png);
    if (writer.info == nullptr) throw std::runtime_error("cannot start the PNG encoder");
    std::string bytes;
    png_set_write_fn(writer.png, &bytes, append_bytes, nullptr);
    std::vector<png_bytep> rows(image.height);
    for (uint32_t y = 0; y < image.height; ++y) {
        rows[y] = const_cast<png_bytep>(image.pixels.data() + std::size_t(y) * image.width);
    }
    if (!write_rows(writer.png, writer.info, image, rows)) throw std::runtime_error("the PNG encoder failed");
    return bytes;
}
