// show: which rows land in which cell of the PNG, at which greys and size.
// (Its refusals are rows of the output rule's table.)
#include <gtest/gtest.h>

#include <array>

#include "tools_support.h"

namespace {

struct ShowCase {
    std::vector<std::string> options;
    uint32_t width, height;
    std::vector<std::array<uint32_t, 3>> pixels;  // x, y, grey
};

// 2x2 images from -1 (white) to 1 (black). At zoom 1 a cell is 5 wide (a 3-pixel
// label and a pixel each side), 9 high (2 image rows, a 5-row label, a blank row each
// side), cells 2 pixels apart: the first image starts at 3,2, the second at 10,2.
const std::string kSet = "-1 1 0 0.5 3\n1 1 -1 -1 7\n0 0 0 0 3\n";

const std::vector<ShowCase> kCases = {
    {{"--rows", "1,0", "--zoom", "1"}, 16, 13, {{3, 2, 0}, {10, 2, 255}, {11, 2, 0}, {10, 3, 128}}},
    {{"--label", "3", "--zoom", "1"}, 16, 13, {{3, 2, 255}, {4, 3, 64}, {10, 2, 128}, {0, 0, 160}}},
    {{"--list", "list", "--zoom", "1", "--limit", "2"}, 16, 13, {{3, 2, 128}, {10, 2, 255}}},
    // Zoom 2: a 4-pixel image centred in a 5-pixel cell from x = 2.
    {{"--rows", "1", "--zoom", "2", "--range", "-1:3"}, 9, 15, {{2, 2, 128}, {3, 3, 128}, {2, 4, 255}}},
};

TEST(Show, RowsLandInTheirCellsAtTheirGreys) {
    for (const ShowCase& c : kCases) {
        SCOPED_TRACE(&c - kCases.data());  // the row
        TempDir dir;
        write_text(dir.file("set"), kSet);
        write_text(dir.file("list"), "2\n2\n0\n1\n");
        std::vector<std::string> args = {"show", dir.file("set"), "-o", dir.file("out.png")};
        for (const std::string& option : c.options) args.push_back(option == "list" ? dir.file("list") : option);
        const RunResult run = tool(args);
        ASSERT_EQ(run.status, 0) << run.err;
        const Png png = read_png(dir.file("out.png"));
        ASSERT_EQ(png.width, c.width);
        ASSERT_EQ(png.height, c.height);
        for (const auto& [x, y, grey] : c.pixels) EXPECT_EQ(png.at(x, y), grey) << x << "," << y;
    }
}

}  // namespace
