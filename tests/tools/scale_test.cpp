// scale: every row writes its files in a fresh folder, runs the command there
// and compares its whole standard output (or error) and the files it wrote;
// a refused run writes nothing.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "tools_support.h"

namespace {

struct ScaleCase {
    std::string args;  // after "scale", split at blanks
    std::map<std::string, std::string> files;
    int status;
    std::string out;                               // standard output (status 0) or standard error
    std::map<std::string, std::string> written{};  // files the run makes
};

const std::string kPixels = "0 5 255 1\n128 5 0 7\n255 5 64 3\n";

// The table keeps its rows as written, one or two lines each.
// clang-format off
const std::vector<ScaleCase> kCases = {
    {"--save-ranges r -o o in", {{"in", kPixels}}, 0, "",
     {{"o", "-1 0 1 1\n0.003921569 0 -1 7\n1 0 -0.49803922 3\n"}, {"r", "x\n-1 1\n1 0 255\n3 0 255\n"}}},
    // Labels untouched, NaN kept and left out of the ranges.
    {"-l 0 -u 1 --save-ranges r in", {{"in", "1 3.5\nnan 1e-3\n3 -0\n"}}, 0, "0 3.5\nnan 0.001\n1 -0\n",
     {{"r", "x\n0 1\n1 1 3\n"}}},
    // Beyond the range, beyond the bounds; a feature the file leaves out maps to the middle.
    {"--ranges r in", {{"r", "x\n-1 1\n1 0 255\n"}, {"in", "300 5 2\n-51 7 2\n"}}, 0, "1.3529412 0 2\n-1.4 0 2\n"},
    {"--from csv --header --label-map 10=0 in", {{"in", "a,b,l\n1,2,10\n3,2,123456789\n"}}, 0, "-1 0 0\n1 0 123456789\n"},
    {"--from libsvm --width 3 in", {{"in", "1 1:2\n2 2:4\n"}}, 0, "1 -1 0 1\n-1 1 0 2\n"},
    {"--from csv in", {{"in", "1,cat\n"}}, 1, "digit-tools: in:1: column 2, 'cat', is not a number\n"},
    {"in", {{"in", "1 2\n3 x\n"}}, 1, "digit-tools: in:2: 'x' is not a number\n"},
    {"--save-ranges r in", {{"in", "1 inf 3\n"}}, 1,
     "digit-tools: in: row 0 (counted from 0), feature 2: an infinite value has no range\n"},
    {"--ranges r -o o in", {{"r", "x\n-1 1\n1 0 x\n"}, {"in", "1 2\n"}}, 1, "digit-tools: r:3: MAX 'x' is not a finite float\n"},
    {"--ranges r in", {{"r", "x\n-1 1\n4 0 1\n"}, {"in", "1 2 3 0\n"}}, 1, "digit-tools: in: has 3 features, r names feature 4\n"},
    {"--save-ranges in in", {{"in", kPixels}}, 1, "digit-tools: in: cannot write: it is the input in\n"},
    {"-l 1 -u 1 in", {{"in", kPixels}}, 2,
     "digit-tools scale: -l and -u: the lower bound must be below the upper one; see digit-tools scale --help\n"},
    {"--ranges r -l 0 in", {{"r", "x\n-1 1\n"}, {"in", kPixels}}, 2,
     "digit-tools scale: -l and -u come from the range file with --ranges; see digit-tools scale --help\n"},
};
// clang-format on

TEST(Scale, EveryRowGivesItsOutputOrItsMessage) {
    for (const ScaleCase& c : kCases) {
        SCOPED_TRACE(c.args);
        TempDir dir;
        for (const auto& [name, text] : c.files) write_text(dir.file(name), text);
        std::istringstream words(c.args);
        std::vector<std::string> args = {"scale"};
        for (std::string word; words >> word;) args.push_back(word);
        const RunResult run = tool(args, dir.path);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(c.status == 0 ? run.out : run.err, c.out);
        std::vector<std::string> names;
        for (const auto& [name, text] : c.files) names.push_back(name);
        for (const auto& [name, text] : c.written) {
            EXPECT_EQ(read_text(dir.file(name)), text);
            names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(list_dir(dir.path), names);
    }
}

// LIBSVM's own tool, where it is installed, saves the same range file for the
// same rows and applies ours.
TEST(Scale, RangeFilesAreSvmScalesOwn) {
    if (!file_exists("/usr/bin/svm-scale")) GTEST_SKIP() << "svm-scale is not installed (libsvm-tools)";
    TempDir dir;
    write_text(dir.file("in"), kPixels);
    ASSERT_EQ(tool({"convert", "--to", "libsvm", "-o", "in.svm", "in"}, dir.path).status, 0);
    ASSERT_EQ(tool({"scale", "--save-ranges", "ours", "in"}, dir.path).status, 0);
    const auto svm_scale = [&](std::vector<std::string> args) {
        return launch({.program = "/usr/bin/svm-scale", .work_dir = dir.path, .args = std::move(args)});
    };
    EXPECT_EQ(svm_scale({"-s", "theirs", "in.svm"}).status, 0);
    EXPECT_EQ(read_text(dir.file("theirs")), read_text(dir.file("ours")));
    EXPECT_EQ(svm_scale({"-r", "ours", "in.svm"}).out, "1 1:-1 3:1 \n7 1:0.00392157 3:-1 \n3 1:1 3:-0.498039 \n");
}

}  // namespace
