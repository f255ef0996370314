// The README's Tools examples give what it shows: the LIBSVM text of the
// test set and its way back, the picture of a run's mistakes, the sweep table.
#include <gtest/gtest.h>

#include "tools_support.h"

namespace {

const std::string kSource = PROGRAMMA_SOURCE_DIR;
const std::string kData = kSource + "/Data/";

TEST(Readme, TestSetThroughLibsvmAndBack) {
    TempDir dir;
    const std::string svm = dir.file("test.svm");
    ASSERT_EQ(tool({"convert", "--to", "libsvm", kData + "Test_set", "-o", svm}).status, 0);
    const std::string head = read_text(svm).substr(0, 60);
    const std::string readme = read_text(kSource + "/README.md");
    EXPECT_NE(readme.find("$ head -c 60 test.svm\n    " + head + "\n"), std::string::npos) << head;
    const RunResult back = tool({"convert", "--from", "libsvm", "--width", "256", svm});
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_TRUE(back.out == read_text(kData + "Test_set"));
}

TEST(Readme, MistakePictureComesFromItsCommands) {
    TempDir dir;
    // The README's run, in the repository with its data, the list saved aside.
    const Launch programma{.work_dir = kSource,
                           .args = {"-dg", "3", "-e", "5", "-k", "gauss"},
                           .input = "y\n" + dir.file("three.list") + "\n"};
    ASSERT_EQ(launch(programma).status, 0);
    const RunResult show = tool({"show", "--list", dir.file("three.list"), "--columns", "12", "-o",
                                 dir.file("m.png"), kData + "Training_set"});
    EXPECT_EQ(show.err, "digit-tools: drew 45 images into " + dir.file("m.png") + "\n");
    const Png made = read_png(dir.file("m.png"));
    const Png shipped = read_png(kSource + "/docs/mistakes.png");
    EXPECT_TRUE(made.width > 0 && made.width == shipped.width && made.grey == shipped.grey);
}

TEST(Readme, SweepTableComesFromItsCommand) {
    const RunResult run = tool({"sweep", "--programma", PROGRAMMA_PATH, "-k", "gauss", "-e", "5",
                                "-tr", kData + "Training_set", "-ts", kData + "Test_set"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(table_without_seconds(run.out),
              table_without_seconds(read_text(kSource + "/README.md"), "digit-tools sweep --plot"));
}

}  // namespace
