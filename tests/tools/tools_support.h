// Helpers for the digit-tools tests: commands run in-process with captured
// output, and PNG decoding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support.h"

// digit_tools_run with standard output and standard error captured.
RunResult run_tool(const std::vector<std::string>& args);

struct DecodedPng {
    bool ok = false;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> grey;  // row-major
    uint8_t at(uint32_t x, uint32_t y) const { return grey[std::size_t(y) * width + x]; }
};

// Decodes a PNG file to 8-bit grey with libpng.
DecodedPng decode_png(const std::string& path);
