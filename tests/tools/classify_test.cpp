// classify: the saved lists against programma's, --restore against training
// under every combiner, and bad input refused with its message and no file.
// (The answers' sums are the library's, held against the reference modules
// by the library's own tests, and the README's table pins the wiring.)
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cmath>

#include "digit_tools_classify.h"
#include "digit_tools_samples.h"
#include "tools_support.h"

namespace {

TEST(Classify, ListsAreProgrammasAndRestoringGivesTheSameAnswers) {
    TempDir dir;
    const std::string data = std::string(PROGRAMMA_SOURCE_DIR) + "/Data/";
    const std::vector<std::string> sets = {"-tr", data + "Training_set", "-ts", data + "Test_set", "-k", "gauss", "-e",
                                           "3"};
    std::vector<std::string> args = {"classify",          "--lists", dir.file("lists"),   "--predictions",
                                     dir.file("trained"), "--plot",  dir.file("plot.png")};
    args.insert(args.end(), sets.begin(), sets.end());
    const RunResult trained = tool(args);
    ASSERT_EQ(trained.status, 0) << trained.err;
    for (const char* d : {"0", "4", "9"}) {
        std::vector<std::string> run = sets;
        run.insert(run.end(), {"-dg", d});
        EXPECT_EQ(launch({.work_dir = dir.path, .args = run, .input = "y\nsaved\n"}).status, 0);
        EXPECT_EQ(read_text(dir.file("lists/" + std::string(d) + ".list")), read_text(dir.file("saved"))) << d;
    }
    args = {"classify", "--restore", dir.file("lists"), "--predictions", dir.file("restored"), "--csv"};
    args.insert(args.end(), sets.begin(), sets.end());
    const RunResult restored = tool(args);
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
    for (const char* combine : {"vote", "average"}) {
        args = {"classify", "--combine", combine, "--predictions", dir.file(std::string("trained_") + combine)};
        args.insert(args.end(), sets.begin(), sets.end());
        ASSERT_EQ(tool(args).status, 0) << combine;
        args = {"classify",
                "--combine",
                combine,
                "--restore",
                dir.file("lists"),
                "--predictions",
                dir.file(std::string("restored_") + combine)};
        args.insert(args.end(), sets.begin(), sets.end());
        ASSERT_EQ(tool(args).status, 0) << combine;
        EXPECT_EQ(read_text(dir.file(std::string("restored_") + combine)),
                  read_text(dir.file(std::string("trained_") + combine)));
    }
    // Lists that need three epochs, restored with two, cannot be weighed.
    args = {"classify", "--combine", "vote", "--restore", dir.file("lists"), "--predictions", dir.file("two")};
    args.insert(args.end(), sets.begin(), sets.end() - 1);
    args.push_back("2");
    const RunResult short_of_epochs = tool(args);
    EXPECT_EQ(short_of_epochs.status, 1);
    EXPECT_NE(short_of_epochs.err.find("needs 3 epochs of training, more than the 2 given"), std::string::npos)
        << short_of_epochs.err;
    EXPECT_FALSE(file_exists(dir.file("two")));
}

TEST(Classify, BadInputIsRefusedWithItsFileAndNoOutput) {
    TempDir dir;
    write_text(dir.file("train"), "0 0\n1 1\n2 2\n");
    write_text(dir.file("half"), "0 0\n1 1.5\n");
    write_text(dir.file("ten"), "0 0\n5 10\n");
    write_text(dir.file("wide"), "0 0 1\n");
    ::mkdir(dir.file("lists").c_str(), 0755);
    for (int d = 0; d < 10; ++d)
        write_text(dir.file("lists/" + std::to_string(d) + ".list"), d == 7 ? "1\n3\n" : "0\n");
    ::unlink(dir.file("lists/9.list").c_str());
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-tr", "half"}, "half: row 2: label 1.5 is not a whole number from 0 to 9"},
        {{"-ts", "ten"}, "ten: row 2: label 10 is not a whole number from 0 to 9"},
        {{"-ts", "wide"}, "wide: samples have 3 numbers, the training set's have 2"},
        {{"--restore", "lists"}, "lists/7.list: entry 2 (index 3) names no row of the 3-row training set"},
        {{"--restore", "none"}, "none/0.list: cannot open: No such file or directory"}};
    for (const auto& [extra, message] : cases) {
        std::vector<std::string> args = {"classify",      "-tr", "train",  "-ts",  "train",
                                         "--predictions", "out", "--plot", "p.png"};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult r = launch({.program = DIGIT_TOOLS_PATH, .work_dir = dir.path, .args = args});
        EXPECT_EQ(r.status, 1) << message;
        EXPECT_EQ(r.err, "digit-tools: " + message + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(file_exists(dir.file("out")) || file_exists(dir.file("p.png"))) << message;
    }
    EXPECT_EQ(tool({"classify", "-k", "poly"}).status, 2);
}

}  // namespace
