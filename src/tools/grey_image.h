// Grey images: a pixel buffer, a tiny bitmap font for labels, and PNG files
// written with libpng.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct GreyImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels;  // row-major, 0 black, 255 white

    GreyImage(uint32_t w, uint32_t h, uint8_t fill) : width(w), height(h), pixels(std::size_t(w) * h, fill) {}
    uint8_t& at(uint32_t x, uint32_t y) { return pixels[std::size_t(y) * width + x]; }
    uint8_t at(uint32_t x, uint32_t y) const { return pixels[std::size_t(y) * width + x]; }
};

// Glyphs are 3 pixels wide and 5 high before scaling, one blank column apart.
constexpr uint32_t kGlyphWidth = 3;
constexpr uint32_t kGlyphHeight = 5;

// Width of `text` drawn at `scale`.
uint32_t text_width(std::string_view text, uint32_t scale);

// Draws `text` (digits, '-', anything else as '?') in black with its top
// left corner at x, y; parts outside the image are clipped.
void draw_text(GreyImage& image, uint32_t x, uint32_t y, std::string_view text, uint32_t scale);

// The bytes of an 8-bit greyscale PNG; throws std::runtime_error when the
// picture is empty or the encoder fails.
std::string png_bytes(const GreyImage& image);
