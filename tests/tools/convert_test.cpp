// convert: every row writes its inputs, runs the command and checks the output
// file, or the message naming the input (and line) at fault and that no
// output file was written.
#include <gtest/gtest.h>

#include <sstream>

#include "tools_support.h"

namespace {

// An IDX file of unsigned bytes with the given dimensions.
std::string idx(const std::vector<uint32_t>& dims, const std::vector<uint8_t>& values) {
    std::string file = {0, 0, 8, static_cast<char>(dims.size())};
    for (uint32_t d : dims) {
        for (int shift = 24; shift >= 0; shift -= 8) file += static_cast<char>(d >> shift);
    }
    return file + std::string(values.begin(), values.end());
}

struct ConvertCase {
    std::string options;              // split at blanks
    std::vector<std::string> inputs;  // written to in0 (and in1)
    int status;
    std::string expected;  // the output file (status 0), or a part of the message
};

const std::vector<ConvertCase> kCases = {
    {"--from libsvm --width 4 --label-map 10=0,-1=9",
     {"10 1:0.5 3:-1 # note\n# comment\n\n+1 qid:3 2:2e-1\r\n-1"},
     0,
     "0.5 0 -1 0 0\n0 0.2 0 0 1\n0 0 0 0 9\n"},
    {"--from libsvm", {"1 1:1\n1 0:1\n"}, 1, "in0:2: '0:1' is not index:value with an index"},
    {"--from libsvm", {"1 2:1 2:5\n"}, 1, "in0:1: indices must ascend, '2:5' does not"},
    {"--from libsvm --width 2", {"1 3:1\n"}, 1, "in0:1: index 3 is beyond the width 2"},
    {"--from libsvm", {"1 1:1\n\n1.5 1:1\n"}, 1, "in0:3: label 1.5 is not a whole number"},
    {"--from csv --header --label-column 1 --delimiter ; --label-map 10=0",
     {"label;a;b\n10; 0.25 ;\"-1\"\n"},
     0,
     "0.25 -1 0\n"},
    {"--from csv", {"1,2,3\n4,x,6\n"}, 1, "in0:2: column 2, 'x', is not a number"},
    {"--from csv", {"1,2,3\n\n4,5\n"}, 1, "in0:3: has 2 columns, expected 3 like the first"},
    {"--from idx --scale --label-map 10=0",
     {idx({2, 1, 2}, {0, 255, 51, 10}), idx({2}, {10, 3})},
     0,
     "-1 1 0\n-0.6 -0.92156863 3\n"},
    // Four columns onto two: pixels in pairs, (0 + 51) / 2 ...
    {"--from idx --resample 2",
     {idx({1, 2, 4}, {0, 51, 102, 255, 255, 0, 0, 255}), idx({1}, {3})},
     0,
     "25.5 178.5 127.5 127.5 3\n"},
    // Three onto two: weights 2 1 0 and 0 1 2 on each axis, W = 9; the first
    // pixel's S = 2*255 + 2*255 = 1020, (2S - 255W) / 255W = -1/9.
    {"--from idx --resample 2 --scale",
     {idx({1, 3, 3}, {0, 255, 0, 255, 0, 0, 0, 0, 90}), idx({1}, {4})},
     0,
     "-0.11111111 -0.5555556 -0.5555556 -0.6862745 4\n"},
    {"--from idx", {idx({2, 1, 2}, {1, 2, 3}), idx({2}, {1, 2})}, 1, "in0: holds 3 data bytes"},
    {"--from idx", {idx({2, 1, 2}, {1, 2, 3, 4, 5}), idx({2}, {1, 2})}, 1, "holds 5 data bytes"},
    {"--from idx", {idx({2, 1, 2}, {1, 2, 3, 4}), idx({3}, {1, 2, 3})}, 1, "in1: holds 3 labels"},
    // +0 is left out, -0 and a subnormal are kept.
    {"--to libsvm", {"-1 0 -0 0.5 3\n1e-40 0.1 0 -2.75 0\n"}, 0, "3 1:-1 3:-0 4:0.5\n0 1:1e-40 2:0.1 4:-2.75\n"},
    {"--to libsvm", {"1 2 3\n1 2\n"}, 1, "in0:2: holds 2 numbers, expected 3"},
    {"", {"1 1:1\n"}, 2, "convert needs --from FORMAT or --to libsvm"},
    {"--from xml", {"1 1:1\n"}, 2, "--from takes libsvm, csv or idx"},
    {"--from csv --width 3", {"1 1:1\n"}, 2, "--width applies to --from libsvm only"},
    {"--to libsvm --label-map 1=2", {"1 1:1\n"}, 2, "--label-map applies to --from only"},
    {"--from idx", {"1 1:1\n"}, 2, "--from idx needs an image file and a label file"},
};

TEST(Convert, EveryRowGivesItsOutputOrItsMessage) {
    for (const ConvertCase& c : kCases) {
        SCOPED_TRACE(&c - kCases.data());  // the row
        TempDir dir;
        std::istringstream words(c.options);
        std::vector<std::string> args = {"convert", "-o", dir.file("out")};
        for (std::string word; words >> word;) args.push_back(word);
        for (std::size_t i = 0; i < c.inputs.size(); ++i) {
            args.push_back(dir.file("in" + std::to_string(i)));
            write_text(args.back(), c.inputs[i]);
        }
        const RunResult run = tool(args);
        EXPECT_EQ(run.status, c.status) << run.err;
        if (c.status == 0) {
            EXPECT_EQ(read_text(dir.file("out")), c.expected);
        } else {
            EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
            EXPECT_FALSE(file_exists(dir.file("out")));
        }
    }
}

}  // namespace
