// Helpers of the digit-tools tests: runs of the built digit-tools, sweep
// tables, and PNG files decoded to grey pixels.
#pragma once

#include <png.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

// A run of digit-tools in `work_dir`.
inline RunResult tool(std::vector<std::string> args, const std::string& work_dir = ".") {
    return launch({.program = DIGIT_TOOLS_PATH, .work_dir = work_dir, .args = std::move(args)});
}

// The Markdown table in `text` after `after`, each row without its last
// column (the seconds, which depend on the machine).
inline std::string table_without_seconds(const std::string& text, const std::string& after = "") {
    std::istringstream lines(text.substr(text.find(after)));
    std::string table;
    for (std::string line; std::getline(lines, line) && (table.empty() || line.starts_with("|"));) {
        if (line.starts_with("|")) table += line.substr(0, line.rfind(" | ")) + "\n";
    }
    return table;
}

struct Png {
    uint32_t width = 0, height = 0;  // 0 when the file did not decode
    std::vector<uint8_t> grey;       // row-major
    uint8_t at(uint32_t x, uint32_t y) const { return grey[std::size_t(y) * width + x]; }
};

inline Png read_png(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Png png;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return png;
    image.format = PNG_FORMAT_GRAY;
    png.grey.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, png.grey.data(), 0, nullptr)) {
        png.width = image.width;
        png.height = image.height;
    }
    png_image_free(&image);
    return png;
}
