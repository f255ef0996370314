// Helpers for the digit-tools tests: commands run in-process with captured
// output, the built binaries run as child processes, and PNG decoding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support.h"

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

// digit_tools_run with standard output and standard error captured.
ToolRun run_tool(const std::vector<std::string>& args);

// Runs a built binary in `work_dir`, standard input from /dev/null.
ToolRun run_binary(const std::string& path, const std::vector<std::string>& args,
                   const std::string& work_dir);

struct DecodedPng {
    bool ok = false;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> grey;  // row-major
    uint8_t at(uint32_t x, uint32_t y) const { return grey[std::size_t(y) * width + x]; }
};

// Decodes a PNG file to 8-bit grey with libpng.
DecodedPng decode_png(const std::string& path);
