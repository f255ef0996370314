// classify: the saved lists against programma's, and --restore against
// training under every combiner. (The answers' sums are the library's, held
// against the reference modules by the library's own tests, and the README's
// table pins the wiring; bad input is refused in the output rule's rows.)
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>

#include "tools_support.h"

namespace {

TEST(Classify, ListsAreProgrammasAndRestoringGivesTheSameAnswers) {
    TempDir dir;
    const std::string data = std::string(PROGRAMMA_SOURCE_DIR) + "/Data/";
    const auto sets = [&](const std::string& epochs) {
        return std::vector<std::string>{"-tr", data + "Training_set", "-ts", data + "Test_set", "-k", "gauss", "-e",
                                        epochs};
    };
    const RunResult trained = tool(with({"classify", "--lists", dir.file("lists"), "--predictions", dir.file("trained"),
                                         "--plot", dir.file("plot.png")},
                                        sets("3")));
    ASSERT_EQ(trained.status, 0) << trained.err;
    for (const char* d : {"0", "4", "9"}) {
        EXPECT_EQ(launch({.work_dir = dir.path, .args = with(sets("3"), {"-dg", d}), .input = "y\nsaved\n"}).status, 0);
        EXPECT_EQ(read_text(dir.file("lists/" + std::string(d) + ".list")), read_text(dir.file("saved"))) << d;
    }
    const std::vector<std::string> restore = {"classify", "--restore", dir.file("lists")};
    const RunResult restored = tool(with(restore, with({"--predictions", dir.file("restored"), "--csv"}, sets("3"))));
    ASSERT_EQ(restored.status, 0) << restored.err;
    EXPECT_EQ(read_text(dir.file("restored")), read_text(dir.file("trained")));
    const std::string error_line = trained.out.substr(trained.out.find("Ten-class test error: "), 60);
    const std::string wrong = error_line.substr(22, error_line.find(' ', 22) - 22);
    EXPECT_NE(restored.out.find("\nall,,,597," + wrong + ","), std::string::npos) << restored.out;
    EXPECT_EQ(std::count(restored.out.begin(), restored.out.end(), '\n'), 12) << "one CSV table";
    EXPECT_EQ(read_png(dir.file("plot.png")).width, 680u);  // gnuplot's heat map of ten columns

    // Every combiner answers the same from restored lists as from training:
    // the lists alone give each hypothesis's weight. programma's own lists
    // (without a manifest) take -e from the command line.
    ::unlink(dir.file("lists/manifest").c_str());
    for (const std::string combine : {"vote", "average"}) {
        const std::vector<std::string> answers = with({"--combine", combine}, sets("3"));
        ASSERT_EQ(tool(with({"classify", "--predictions", dir.file("trained_" + combine)}, answers)).status, 0);
        ASSERT_EQ(tool(with(restore, with({"--predictions", dir.file("restored_" + combine)}, answers))).status, 0);
        EXPECT_EQ(read_text(dir.file("restored_" + combine)), read_text(dir.file("trained_" + combine))) << combine;
    }
    // Lists that need three epochs, restored with two, cannot be weighed.
    const RunResult short_of_epochs =
        tool(with(restore, with({"--combine", "vote", "--predictions", dir.file("two")}, sets("2"))));
    EXPECT_EQ(short_of_epochs.status, 1);
    EXPECT_NE(short_of_epochs.err.find("needs 3 epochs of training, more than the 2 given"), std::string::npos)
        << short_of_epochs.err;
    EXPECT_FALSE(file_exists(dir.file("two")));
}

}  // namespace
