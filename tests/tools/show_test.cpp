// `show`: which rows are drawn, and the PNG itself decoded pixel by pixel.
#include <gtest/gtest.h>

#include <stdexcept>

#include "digit_tools_show.h"
#include "tools_support.h"

namespace {

class Show : public ::testing::Test {
protected:
    void SetUp() override {
        // 2x2 images; values -1 (white) to 1 (black).
        write_text(dir.file("set"), "-1 1 0 0.5 3\n1 1 -1 -1 7\n0 0 0 0 3\n");
    }
    RunResult show(std::vector<std::string> extra) {
        std::vector<std::string> args = {"show", dir.file("set"), "-o", dir.file("out.png")};
        args.insert(args.end(), extra.begin(), extra.end());
        return run_tool(args);
    }
    TempDir dir;
};

TEST_F(Show, TinySetDecodesToTheExpectedPixels) {
    RunResult run = show({"--rows", "0,1", "--zoom", "1"});
    ASSERT_EQ(run.status, 0) << run.err;
    const DecodedPng png = decode_png(dir.file("out.png"));
    ASSERT_TRUE(png.ok);
    // Cells 5 wide (a 3-pixel label and a pixel each side) and 9 high (2
    // image rows, a 5-row label with a blank row each side), 2-pixel gaps.
    ASSERT_EQ(png.width, 16u);
    ASSERT_EQ(png.height, 13u);
    EXPECT_EQ(png.at(0, 0), kGapGrey);
    EXPECT_EQ(png.at(7, 5), kGapGrey);
    EXPECT_EQ(png.at(2, 2), 255);  // cell ground
    // Row 0, centred in its cell from x = 3.
    EXPECT_EQ(png.at(3, 2), 255);  // -1
    EXPECT_EQ(png.at(4, 2), 0);    // 1
    EXPECT_EQ(png.at(3, 3), 128);  // 0
    EXPECT_EQ(png.at(4, 3), 64);   // 0.5
    // Row 1 in the second cell, from x = 10.
    EXPECT_EQ(png.at(10, 2), 0);
    EXPECT_EQ(png.at(11, 3), 255);
    // The label 3 under row 0: a full top bar, then only its right column.
    for (uint32_t x = 3; x < 6; ++x) EXPECT_EQ(png.at(x, 5), 0) << x;
    EXPECT_EQ(png.at(3, 6), 255);
    EXPECT_EQ(png.at(5, 6), 0);
    // The label 7 under row 1: its bottom row holds only the right pixel.
    EXPECT_EQ(png.at(10, 9), 255);
    EXPECT_EQ(png.at(12, 9), 0);
}

TEST_F(Show, ZoomRepeatsEachFeatureAndRangeSetsTheGreys) {
    RunResult run = show({"--rows", "2", "--zoom", "2", "--range", "0:1"});
    ASSERT_EQ(run.status, 0) << run.err;
    const DecodedPng png = decode_png(dir.file("out.png"));
    ASSERT_TRUE(png.ok);
    // A 4-pixel image; font scale 1; label "3" 3 wide plus margins: 5.
    EXPECT_EQ(png.width, 5u + 2 * kCellGap);
    EXPECT_EQ(png.height, 4u + 7u + 2 * kCellGap);
    // 0 is the low end of the range: white, over the whole 2x2 block.
    for (uint32_t y = 2; y < 6; ++y) {
        for (uint32_t x = 2; x < 6; ++x) EXPECT_EQ(png.at(x, y), 255);
    }
}

TEST_F(Show, MistakeListRowsInListOrderEachOnce) {
    write_text(dir.file("list"), "2\n0\n2\n1\n0\n");
    EXPECT_EQ(mistake_rows(dir.file("list"), 3), (std::vector<uint32_t>{2, 0, 1}));
    write_text(dir.file("far"), "1\n3\n");
    try {
        mistake_rows(dir.file("far"), 3);
        FAIL() << "a row beyond the set was accepted";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()),
                  dir.file("far") + ": entry 2 names row 3, the set has 3 rows");
    }
}

TEST_F(Show, LabelFilterAndLimitPickRowsInOrder) {
    SampleMatrix set;
    set.columns = 2;
    set.rows = 5;
    set.values = {0, 3, 0, 1, 0, 3, 0, 3, 0, 1};
    ShowOptions options;
    options.label = 3;
    EXPECT_EQ(choose_rows(set, {}, options), (std::vector<uint32_t>{0, 2, 3}));
    options.limit = 2;
    EXPECT_EQ(choose_rows(set, {3, 1, 0}, options), (std::vector<uint32_t>{3, 0}));
    options = ShowOptions{};
    EXPECT_THROW(choose_rows(set, {5}, options), std::runtime_error);
}

TEST(RowList, RangesAndRefusals) {
    std::vector<uint32_t> rows;
    ASSERT_TRUE(parse_row_list("0,5,9-11", rows));
    EXPECT_EQ(rows, (std::vector<uint32_t>{0, 5, 9, 10, 11}));
    for (const char* bad : {"", "1,", "a", "3-1", "-2", "1--2", "4294967296"}) {
        std::vector<uint32_t> ignored;
        EXPECT_FALSE(parse_row_list(bad, ignored)) << bad;
    }
}

TEST(LabelText, WholeNumbersOrAQuestionMark) {
    EXPECT_EQ(label_text(7.0f), "7");
    EXPECT_EQ(label_text(-1.0f), "-1");
    EXPECT_EQ(label_text(2.5f), "?");
}

TEST_F(Show, RefusalsAndFailures) {
    write_text(dir.file("odd"), "1 2 3 4\n");
    RunResult odd = run_tool({"show", dir.file("odd"), "-o", dir.file("x.png")});
    EXPECT_EQ(odd.status, 1);
    EXPECT_EQ(odd.err, "digit-tools: " + dir.file("odd") +
                           ": samples have 3 features, not a square image\n");
    EXPECT_FALSE(file_exists(dir.file("x.png")));

    RunResult none = show({"--label", "5"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("no row matches"), std::string::npos);

    std::string many;
    for (int i = 0; i < 3000; ++i) many += "0 0 0 0 1\n";
    write_text(dir.file("many"), many);
    RunResult tall = run_tool({"show", dir.file("many"), "--columns", "1", "--zoom", "64", "--limit",
                             "0", "-o", dir.file("tall.png")});
    EXPECT_EQ(tall.status, 1);
    EXPECT_NE(tall.err.find("too large"), std::string::npos) << tall.err;

    EXPECT_EQ(show({"--zoom", "65"}).status, 2);
    EXPECT_EQ(show({"--rows", "0", "--list", dir.file("set")}).status, 2);
    EXPECT_EQ(run_tool({"show", dir.file("set")}).status, 2);
    EXPECT_EQ(show({"--zoom", "0"}).status, 2);
    EXPECT_EQ(show({"--range", "1:0"}).status, 2);
}

}  // namespace
