// The README's picture and sweep table must be what its commands give on the
// shipped data.
#include <gtest/gtest.h>

#include <sstream>

#include "digit_tools_show.h"
#include "tools_support.h"

namespace {

const std::string kData = DATA_DIR;
const std::string kSource = SOURCE_DIR;

// The README's table rows under the sweep command, seconds cut off.
std::string readme_sweep_table() {
    std::istringstream readme(read_text(kSource + "/README.md"));
    std::string line;
    std::string table;
    bool after_command = false;
    while (std::getline(readme, line)) {
        if (line.find("digit-tools sweep --plot docs/sweep.png -k gauss -e 5") !=
            std::string::npos) {
            after_command = true;
        }
        if (after_command && line.rfind("| ", 0) == 0) {
            table += line.substr(0, line.rfind(" | ")) + "\n";
        }
        if (after_command && line.rfind("|---", 0) == 0) table += line + "\n";
        if (!table.empty() && line.empty()) break;
    }
    return table;
}

std::string without_seconds(const std::string& table) {
    std::istringstream lines(table);
    std::string line;
    std::string kept;
    while (std::getline(lines, line)) {
        kept += line.rfind("|---", 0) == 0 ? line + "\n" : line.substr(0, line.rfind(" | ")) + "\n";
    }
    return kept;
}

TEST(Readme, MistakePictureComesFromItsCommands) {
    TempDir dir;
    RunResult run = run_programma(dir.path,
                                  {"-dg", "3", "-e", "5", "-k", "gauss", "-tr",
                                   kData + "/Training_set", "-ts", kData + "/Test_set"},
                                  "y\nthree.list\n");
    ASSERT_EQ(run.status, 0) << run.err;
    RunResult show = run_tool({"show", "--list", dir.file("three.list"), "--columns", "12", "-o",
                             dir.file("m.png"), kData + "/Training_set"});
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_EQ(show.err, "digit-tools: drew 45 images into " + dir.file("m.png") + "\n");
    const DecodedPng made = decode_png(dir.file("m.png"));
    const DecodedPng shipped = decode_png(kSource + "/docs/mistakes.png");
    ASSERT_TRUE(made.ok && shipped.ok);
    EXPECT_EQ(made.width, shipped.width);
    EXPECT_EQ(made.height, shipped.height);
    EXPECT_TRUE(made.grey == shipped.grey);
}

TEST(Readme, SweepTableComesFromItsCommand) {
    const std::string expected = readme_sweep_table();
    ASSERT_FALSE(expected.empty());
    RunResult run = run_tool({"sweep", "--programma", PROGRAMMA_PATH, "-k", "gauss", "-e", "5", "-tr",
                            kData + "/Training_set", "-ts", kData + "/Test_set"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(without_seconds(run.out), expected);
}

}  // namespace
