// The voted-perceptron run from the command line.
#include <gtest/gtest.h>

#include "support.h"

namespace {

const std::string kVoted =
    "Starting training for 1 digit with voted perceptron algoritm for 2 epocs \n"
    "Training set loaded from train\n"
    "Test loaded from test\n"
    "Training set dimension are 3x3\n"
    "ho fatto la 0-esima epoca, 1 errori, 2 right"
    "ho fatto la 1-esima epoca, 0 errori, 3 right"
    "End training with 0.000000% error\n"
    "Test set dimension are 3x3\n"
    "Ho classificato la cifra 1 e ho azzeccato 2 volte e sbagliato 1 volte, ho detto 2 volte "
    "meno e 1 volte piu'\n"
    "End testing with 33.333336% error\n\n\n\n";

class VotedDriver : public ::testing::Test {
protected:
    void SetUp() override {
        // Two features, far fewer than 256.
        write_text(dir.file("train"), "1 0 1\n0 1 0\n1 0 1\n");
        write_text(dir.file("test"), "0 1 0\n0 -1 1\n0 -3 1\n");
    }
    RunResult voted(std::vector<std::string> extra) {
        std::vector<std::string> args = {"-tr", "train", "-ts", "test", "-dg", "1", "-e", "2"};
        args.insert(args.end(), extra.begin(), extra.end());
        return run_programma(dir.path, args, "", true);
    }
    TempDir dir;
};

TEST_F(VotedDriver, WholeRun) {
    RunResult r = voted({"-vot", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kVoted);
    EXPECT_EQ(r.err, "");
}

TEST_F(VotedDriver, KernelSettingsAndAdaboostDoNotApply) {
    EXPECT_EQ(voted({"-vot", "1", "-a", "1"}).out, kVoted);
    EXPECT_EQ(voted({"-k", "gauss", "-d", "7", "-c", "0", "-vot", "1"}).out, kVoted);
    EXPECT_EQ(voted({"-vot", "1", "-l", "nothing"}).out, kVoted);
}

TEST_F(VotedDriver, ColumnMismatchStopsAfterTheTestLoad) {
    write_text(dir.file("narrow"), "1 0\n");
    RunResult r = voted({"-vot", "1", "-ts", "narrow"});
    EXPECT_EQ(r.status, 1);
    std::string expected = kVoted.substr(0, kVoted.find("Test set dimension"));
    expected.replace(expected.find("Test loaded from test"), 21, "Test loaded from narrow");
    EXPECT_EQ(r.out, expected + "Test set dimension are 1x2\n");
    EXPECT_NE(r.err.find("narrow: samples have 2 numbers, the training set's have 3"),
              std::string::npos);
}

TEST_F(VotedDriver, UnreadableTestFileStopsTheRun) {
    RunResult r = voted({"-vot", "1", "-ts", "absent"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("End training with 0.000000% error\nERRORE NEL FILE"), std::string::npos);
    EXPECT_EQ(r.out.find("Test set dimension"), std::string::npos);
}

}  // namespace
