// The sessions shown in README.md are what the program prints on the shipped
// data, line for line (trailing blanks aside).
#include <gtest/gtest.h>

#include <sstream>

#include "support.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
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
    std::string line;
    bool inside = false;
    while (std::getline(readme, line)) {
        if (inside) {
            if (line.rfind("    ", 0) != 0 || line.rfind("    $ ", 0) == 0) break;
            block.push_back(line.substr(4));
        } else if (line == "    $ " + command) {
            inside = true;
        }
    }
    return block;
}

std::vector<std::string> split_args(const std::string& command) {
    std::vector<std::string> args;
    std::istringstream words(command);
    std::string word;
    words >> word;  // the program itself
    while (words >> word && word != "<") args.push_back(word);
    return args;
}

TEST(ReadmeSessions, ShownOutputIsTheProgramsOutput) {
    const char* commands[] = {
        "./build/release/programma -dg 3 -e 5 -k gauss < /dev/null",
        "./build/release/programma -vot 1 -dg 3 -e 5 < /dev/null",
    };
    for (const char* command : commands) {
        std::vector<std::string> shown = readme_block(command);
        ASSERT_FALSE(shown.empty()) << command;
        RunResult r = run_programma(PROGRAMMA_SOURCE_DIR, split_args(command), "", true);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(lines_of(r.out), shown) << command;
    }
}

TEST(ReadmeSessions, GaussianErrorOnShippedDataIsLow) {
    RunResult r = run_programma(PROGRAMMA_SOURCE_DIR, {"-dg", "3", "-e", "5", "-k", "gauss"}, "", true);
    std::size_t at = r.out.find("End testing with ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_LT(std::stod(r.out.substr(at + 17)), 5.0);
}

}  // namespace
