#include "tools_support.h"

#include <cstring>
#include <gtest/gtest.h>
#include <png.h>

#include "digit_tools_cli.h"

RunResult run_tool(const std::vector<std::string>& args) {
    RunResult run;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    run.status = digit_tools_run(args);
    std::fflush(stdout);
    run.out = ::testing::internal::GetCapturedStdout();
    run.err = ::testing::internal::GetCapturedStderr();
    return run;
}

DecodedPng decode_png(const std::string& path) {
    DecodedPng decoded;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return decoded;
    image.format = PNG_FORMAT_GRAY;
    decoded.width = image.width;
    decoded.height = image.height;
    decoded.grey.resize(PNG_IMAGE_SIZE(image));
    decoded.ok = png_image_finish_read(&image, nullptr, decoded.grey.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return decoded;
}
