// The sessions README.md shows are what the program prints on the shipped
// data, line for line (trailing blanks aside).
#include <gtest/gtest.h>

#include <sstream>

#include "support.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        while (!line.empty() && line.back() == ' ') line.pop_back();
        lines.push_back(line);
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

// The indented lines after "    $ <command>" in README.md, up to the next
// prompt or the end of the block.
std::vector<std::string> readme_block(const std::string& command) {
    std::vector<std::string> block;
    std::istringstream readme(read_text(std::string(PROGRAMMA_SOURCE_DIR) + "/README.md"));
    bool inside = false;
    for (std::string line; std::getline(readme, line);) {
        if (inside && (line.rfind("    ", 0) != 0 || line.rfind("    $ ", 0) == 0)) break;
        if (inside) block.push_back(line.substr(4));
        inside = inside || line == "    $ " + command;
    }
    return block;
}

TEST(Readme, SessionsShowTheProgramsOutput) {
    const std::vector<std::vector<std::string>> runs = {{"-dg", "3", "-e", "5", "-k", "gauss"},
                                                        {"-vot", "1", "-dg", "3", "-e", "5"}};
    for (const auto& args : runs) {
        std::string command = "./build/release/programma";
        for (const std::string& arg : args) command += " " + arg;
        const std::vector<std::string> shown = readme_block(command + " < /dev/null");
        ASSERT_FALSE(shown.empty()) << command;
        const RunResult r = launch({.work_dir = PROGRAMMA_SOURCE_DIR, .args = args, .input_from_null = true});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(lines_of(r.out), shown) << command;
    }
}

}  // namespace
