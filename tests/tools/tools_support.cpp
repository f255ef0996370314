#include "tools_support.h"

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include "digit_tools_cli.h"

ToolRun run_tool(const std::vector<std::string>& args) {
    ToolRun run;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    run.status = digit_tools_run(args);
    std::fflush(stdout);
    run.out = ::testing::internal::GetCapturedStdout();
    run.err = ::testing::internal::GetCapturedStderr();
    return run;
}

ToolRun run_binary(const std::string& path, const std::vector<std::string>& args,
                   const std::string& work_dir) {
    TempDir io;
    const std::string out_path = io.file("stdout");
    const std::string err_path = io.file("stderr");
    pid_t child = ::fork();
    if (child == 0) {
        int in = ::open("/dev/null", O_RDONLY);
        int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || ::chdir(work_dir.c_str()) != 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::vector<char*> argv{const_cast<char*>(path.c_str())};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(path.c_str(), argv.data());
        ::_exit(127);
    }
    int raw = 0;
    ::waitpid(child, &raw, 0);
    ToolRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    run.out = read_text(out_path);
    run.err = read_text(err_path);
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
