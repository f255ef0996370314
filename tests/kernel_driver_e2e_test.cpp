// The kernel-perceptron run from the command line: whole standard output and
// exit status for training, the save dialogue, restoring, testing and every
// way the run can stop.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "support.h"

namespace {

const std::vector<std::string> kGauss = {"-tr", "train", "-ts", "test", "-dg", "1",
                                         "-k",  "gauss", "-c",  "1",    "-e",  "2"};

const std::string kGaussHeader =
    "Starting training for 1 digit with gaussian kernel and 1 as constant for 2 epocs \n"
    "Training set loaded from train\n"
    "Test loaded from test\n"
    "Training set dimension are 4x2\n";
const std::string kGaussTraining =
    "I classified 2 times 1 e 2 times -1\n"
    "I classified 2 times 1 e 2 times -1\n"
    "End training with 0.000000% error\n"
    "Do you want to save the list? [y|n] \n";
const std::string kGaussTesting =
    "Start testing\n"
    "I classified 1 times 1 e 2 times -1\n"
    "I was wrong 0 times saying 1 e 1 times saying -1\n"
    "End testing with 33.333336% error\n\n\n\n";

class KernelDriver : public ::testing::Test {
protected:
    void SetUp() override {
        write_text(dir.file("train"), "0 0\n5 1\n0.1 0\n5.1 1\n");
        write_text(dir.file("test"), "0.2 0\n4.9 1\n0 1\n");
    }
    RunResult gauss(const std::string& input, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = kGauss;
        args.insert(args.end(), extra.begin(), extra.end());
        return run_programma(dir.path, args, input);
    }
    TempDir dir;
};

TEST_F(KernelDriver, AnswerNoTestsWithoutSaving) {
    RunResult r = gauss("n\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kGaussHeader + kGaussTraining + kGaussTesting);
    EXPECT_EQ(r.err, "");
}

TEST_F(KernelDriver, EndOfInputAtThePromptCountsAsNo) {
    RunResult r = gauss("");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kGaussHeader + kGaussTraining + kGaussTesting);
    EXPECT_EQ(list_dir(dir.path).size(), 2u);
}

TEST_F(KernelDriver, SaveThenRestoreTestsTheSameList) {
    RunResult saved = gauss("\nx\ny and the rest\nlist.txt\n");
    EXPECT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(saved.out, kGaussHeader + kGaussTraining + "Save file as :file saved as list.txt" +
                             kGaussTesting);
    EXPECT_EQ(read_text(dir.file("list.txt")), "0\n1\n");

    RunResult restored = gauss("", {"-l", "list.txt"});
    EXPECT_EQ(restored.status, 0) << restored.err;
    EXPECT_EQ(restored.out,
              "Starting training for 1 digit with gaussian kernel and 1 as constant for 2 epocs \n"
              "List loaded from list.txt\n"
              "Test loaded from test\n"
              "Training set dimension are 4x2\n" +
                  kGaussTesting);
}

TEST_F(KernelDriver, OneCharacterNameWithoutNewlineAtTheEnd) {
    RunResult r = gauss("y\nL");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_text(dir.file("L")), "0\n1\n");
}

TEST_F(KernelDriver, EndOfInputBeforeTheNameStopsTheRun) {
    for (const char* input : {"y", "y\n", "yes"}) {
        RunResult r = gauss(input);
        EXPECT_EQ(r.status, 1) << input;
        EXPECT_EQ(r.out, kGaussHeader + kGaussTraining + "Save file as :") << input;
        EXPECT_NE(r.err.find("no file name"), std::string::npos);
    }
}

TEST_F(KernelDriver, FailedSavesStopTheRunAndKeepFiles) {
    RunResult empty = gauss("y\n\n");
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.out, kGaussHeader + kGaussTraining + "Save file as :");

    RunResult missing_dir = gauss("y\nno/such/dir/list\n");
    EXPECT_EQ(missing_dir.status, 1);
    EXPECT_NE(missing_dir.err.find("no/such/dir/list: cannot save"), std::string::npos);

    write_text(dir.file("keep"), "12\n");
    ::mkdir(dir.file("keep.d").c_str(), 0700);
    RunResult onto_dir = gauss("y\nkeep.d\n");
    EXPECT_EQ(onto_dir.status, 1);

    if (::geteuid() == 0) {
        ASSERT_EQ(::mknod(dir.file("full").c_str(), S_IFCHR | 0666, ::makedev(1, 7)), 0);
        RunResult full = gauss("y\nfull\n");
        EXPECT_EQ(full.status, 1);
        EXPECT_NE(full.err.find("full: cannot save: No space left on device"), std::string::npos);
        struct stat info {};
        ::lstat(dir.file("full").c_str(), &info);
        EXPECT_TRUE(S_ISCHR(info.st_mode));
    }
    EXPECT_EQ(read_text(dir.file("keep")), "12\n");
}

TEST_F(KernelDriver, RestoreFailures) {
    RunResult missing = gauss("", {"-l", "absent"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("absent: cannot open"), std::string::npos);

    write_text(dir.file("far"), "0\n4\n");
    RunResult far = gauss("", {"-l", "far"});
    EXPECT_EQ(far.status, 1);
    EXPECT_EQ(far.out,
              "Starting training for 1 digit with gaussian kernel and 1 as constant for 2 epocs \n"
              "List loaded from far\n"
              "Test loaded from test\n"
              "Training set dimension are 4x2\n");
    EXPECT_NE(far.err.find("far: entry 2 (index 4) names no row"), std::string::npos) << far.err;

    write_text(dir.file("negative"), "-3\n");
    EXPECT_EQ(gauss("", {"-l", "negative"}).status, 1);
}

TEST_F(KernelDriver, EmptyListStillClassifiesEveryTestRow) {
    write_text(dir.file("empty"), "");
    RunResult r = gauss("", {"-l", "empty"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Start testing\n"
                         "I classified 3 times 1 e 0 times -1\n"
                         "I was wrong 1 times saying 1 e 0 times saying -1\n"
                         "End testing with 33.333336% error\n\n\n\n"),
              std::string::npos)
        << r.out;
}

TEST_F(KernelDriver, RowMistakenInTwoEpochsIsSavedTwice) {
    // Equal features with different labels: row 1 is wrong in both epochs,
    // row 0 in the second.
    write_text(dir.file("conflict"), "0 1\n0 0\n");
    RunResult r = gauss("y\ntwice\n", {"-tr", "conflict", "-ts", "conflict"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_text(dir.file("twice")), "1\n0\n1\n");
    EXPECT_NE(r.out.find("I classified 2 times 1 e 0 times -1\n"
                         "I classified 1 times 1 e 1 times -1\n"
                         "End training with 100.000000% error\n"),
              std::string::npos)
        << r.out;
}

TEST_F(KernelDriver, ZeroEpochs) {
    RunResult r = gauss("n\n", {"-e", "0"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Training set dimension are 4x2\n"
                         "End training with 0.000000% error\n"),
              std::string::npos)
        << r.out;
}

TEST_F(KernelDriver, ColumnMismatchStopsBeforeTesting) {
    write_text(dir.file("wide"), "1 2 1\n");
    RunResult r = gauss("n\n", {"-ts", "wide"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Starting training for 1 digit with gaussian kernel and 1 as constant for 2 "
                     "epocs \nTraining set loaded from train\nTest loaded from wide\n"
                     "Training set dimension are 4x2\n" +
                         kGaussTraining);
    EXPECT_NE(r.err.find("wide: samples have 3 numbers, the training set's have 2"),
              std::string::npos);
}

TEST_F(KernelDriver, BadTrainingFileStopsAfterTheDimensionLine) {
    write_text(dir.file("ragged"), "1 0\n2\n");
    RunResult r = run_programma(dir.path, {"-tr", "ragged", "-ts", "test"}, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "Starting training for 0 digit with polinomial kernel of 2 degree for 2 epocs \n"
              "Training set loaded from ragged\nTest loaded from test\n"
              "Training set dimension are 2x2\n");
    EXPECT_NE(r.err.find("ragged:2: holds 1 numbers, expected 2"), std::string::npos);
}

// Polynomial runs trace every kernel evaluation and pause for one character.
class PolynomialDriver : public ::testing::Test {
protected:
    void SetUp() override {
        write_text(dir.file("train"), "1 0\n2 1\n");
        write_text(dir.file("test"), "1 0\n");
    }
    TempDir dir;
};

const std::string kPolTraining =
    "Training set dimension are 2x2\n"
    "Arg 1 nan nan 0.000000 2.000000result vale 9.000000"
    "I classified 1 times 1 e 1 times -1\n"
    "End training with 100.000000% error\n"
    "Do you want to save the list? [y|n] \n";
const std::string kPolTesting =
    "Start testing\n"
    "Arg 1 nan nan 0.000000 2.000000result vale 4.000000"
    "Arg 1 nan nan 4.000000 2.000000result vale 9.000000"
    "I classified 1 times 1 e 0 times -1\n"
    "I was wrong 1 times saying 1 e 0 times saying -1\n"
    "End testing with 100.000000% error\n\n\n\n";

TEST_F(PolynomialDriver, PausesConsumeTypedCharacters) {
    // The training evaluation eats 'n'; the prompt then skips the newline and
    // takes the 'y' of the next line; the name follows.
    RunResult r = run_programma(dir.path, {"-tr", "train", "-ts", "test", "-dg", "1", "-e", "1"},
                                "n\ny\nsaved\nab");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Starting training for 1 digit with polinomial kernel of 2 degree for 1 epocs \n"
              "Training set loaded from train\nTest loaded from test\n" +
                  kPolTraining + "Save file as :file saved as saved" + kPolTesting);
    EXPECT_EQ(read_text(dir.file("saved")), "0\n1\n");
}

TEST_F(PolynomialDriver, InputAtItsEndNeverWaits) {
    RunResult r = run_programma(dir.path, {"-tr", "train", "-ts", "test", "-dg", "1", "-e", "1",
                                           "-d", "2.9"},
                                "", true);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, 80),
              "Starting training for 1 digit with polinomial kernel of 2 degree for 1 epocs \nTr");
    // The kernel uses 2.9 itself.
    EXPECT_NE(r.out.find("Arg 1 nan nan 0.000000 2.900000result vale 24.190882"),
              std::string::npos)
        << r.out;
}

TEST_F(PolynomialDriver, HugeDegreePrintsAsIntMin) {
    RunResult r = run_programma(dir.path, {"-tr", "train", "-ts", "test", "-d", "1e20", "-e", "0"},
                                "", true);
    EXPECT_EQ(r.out.substr(0, 72),
              "Starting training for 0 digit with polinomial kernel of -2147483648 degr");
}

}  // namespace
