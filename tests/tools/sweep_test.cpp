// `sweep`: the report lines found in streamed output, the voted method's
// answer counts turned into mistakes, the tables, and real runs of the built
// program, failing ones included.
#include <gtest/gtest.h>

#include <stdexcept>
#include <unistd.h>

#include "digit_tools_sweep.h"
#include "tools_support.h"

namespace {

// Feeds `text` in pieces of `piece` bytes.
ProgramReport scan(const std::string& text, std::size_t piece) {
    ReportScanner scanner;
    for (std::size_t at = 0; at < text.size(); at += piece) {
        scanner.feed(std::string_view(text).substr(at, piece));
    }
    scanner.finish();
    return scanner.report;
}

TEST(ReportScanner, FindsKernelLinesWhereverTheChunksSplit) {
    const std::string out =
        "Starting training for 3 digit with polinomial kernel of 2 degree for 1 epocs \n"
        "Arg 256 -1.000000 -1.000000 0.000000 2.000000result vale 1.000000"
        "I classified 121 times 1 e 1079 times -1\n"
        "End training with 12.500000% error\n"
        "Do you want to save the list? [y|n] \n"
        "Start testing\n"
        "Arg 2 1.0 1.0 0.0 2.0result vale 9.0I classified 69 times 1 e 528 times -1\n"
        "I was wrong 13 times saying 1 e 6 times saying -1\n"
        "End testing with 3.182580% error\n\n\n\n";
    for (std::size_t piece = 1; piece <= out.size(); ++piece) {
        const ProgramReport report = scan(out, piece);
        ASSERT_EQ(report.training_error, 12.5) << piece;
        ASSERT_EQ(report.test_error, 3.18258) << piece;
        ASSERT_EQ(report.wrong_saying_plus, 13u) << piece;
        ASSERT_EQ(report.wrong_saying_minus, 6u) << piece;
        ASSERT_FALSE(report.voted) << piece;
    }
}

TEST(ReportScanner, FindsVotedLinesGluedToTheEpochTrace) {
    const std::string out =
        "ho fatto la 0-esima epoca, 61 errori, 1139 rightho fatto la 1-esima epoca, 18 errori, "
        "1182 right"
        "End training with 1.333333% error\n"
        "Test set dimension are 597x257\n"
        "Ho classificato la cifra 3 e ho azzeccato 535 volte e sbagliato 62 volte, ho detto 597 "
        "volte meno e 0 "
        "volte piu'\n"
        "End testing with 10.385260% error";  // no final newline
    for (std::size_t piece : {1u, 7u, 1000u}) {
        const ProgramReport report = scan(out, piece);
        ASSERT_EQ(report.training_error, 1.333333);
        ASSERT_EQ(report.test_error, 10.38526);
        ASSERT_TRUE(report.voted);
        EXPECT_EQ(report.voted->digit, 3u);
        EXPECT_EQ(report.voted->wrong, 62u);
        EXPECT_EQ(report.voted->said_minus, 597u);
    }
}

TEST(ReportScanner, KeepsOnlyATailOfEndlessTrace) {
    ReportScanner scanner;
    const std::string trace(1 << 16, 'x');
    for (int i = 0; i < 64; ++i) scanner.feed(trace + "End training with 1.0% error");
    EXPECT_LT(scanner.pending.size(), 8192u);
    EXPECT_FALSE(scanner.report.training_error);  // never ended by a newline
    scanner.feed("Arg result vale 1.0End testing with 2.5% error\n");
    EXPECT_EQ(scanner.report.test_error, 2.5);
}

TEST(DigitResult, VotedAnswerCountsBecomeMistakesOfEachKind) {
    ProgramReport report;
    report.training_error = 1.0;
    report.test_error = 5.0;
    // 10 test rows, 4 show the digit; said "yes" 5 times, wrong 3 times:
    // 2 wrong "yes" and 1 wrong "no".
    report.voted = VotedCounts{4, 7, 3, 5, 5};
    const DigitResult result = digit_result(4, report, 0.5, TestSetCounts{4, 10});
    EXPECT_EQ(result.wrong_saying_plus, 2u);
    EXPECT_EQ(result.wrong_saying_minus, 1u);
    EXPECT_THROW(digit_result(4, report, 0.5, TestSetCounts{3, 10}), std::runtime_error);  // odd
    EXPECT_THROW(digit_result(4, report, 0.5, TestSetCounts{4, 11}),
                 std::runtime_error);  // row count
    EXPECT_THROW(digit_result(5, report, 0.5, TestSetCounts{4, 10}),
                 std::runtime_error);  // other digit
    report.training_error.reset();
    EXPECT_THROW(digit_result(4, report, 0.5, TestSetCounts{4, 10}), std::runtime_error);
}

TEST(Tables, MarkdownAndCsvWithAMeanRow) {
    const std::vector<DigitResult> results = {{0, 0.0, 1.0, 2, 1, 0.25}, {7, 1.5, 2.0, 1, 0, 0.75}};
    EXPECT_EQ(markdown_table(results),
              "| digit | training error (%) | test error (%) | wrong saying 1 | wrong saying -1 | "
              "seconds |\n"
              "|---:|---:|---:|---:|---:|---:|\n"
              "| 0 | 0.000000 | 1.000000 | 2 | 1 | 0.25 |\n"
              "| 7 | 1.500000 | 2.000000 | 1 | 0 | 0.75 |\n"
              "| mean | 0.750000 | 1.500000 | 1.5 | 0.5 | 0.50 |\n");
    EXPECT_EQ(csv_table(results),
              "digit,training_error,test_error,wrong_saying_1,wrong_saying_minus_1,seconds\n"
              "0,0.000000,1.000000,2,1,0.25\n"
              "7,1.500000,2.000000,1,0,0.75\n"
              "mean,0.750000,1.500000,1.5,0.5,0.50\n");
}

// The table without its seconds column, which depends on the machine.
std::string without_seconds(const std::string& table) {
    std::string kept;
    std::size_t start = 0;
    while (start < table.size()) {
        std::size_t end = table.find('\n', start);
        std::string line = table.substr(start, end - start);
        kept += line.substr(0, line.rfind(" | ")) + "\n";
        start = end + 1;
    }
    return kept;
}

class Sweep : public ::testing::Test {
protected:
    void SetUp() override {
        write_text(dir.file("train"), "0 0\n5 1\n0.1 0\n5.1 1\n");
        write_text(dir.file("test"), "0.2 0\n4.9 1\n0 1\n");
    }
    RunResult sweep(std::vector<std::string> passed, std::vector<std::string> own = {}) {
        std::vector<std::string> args = {"sweep", "--programma", PROGRAMMA_PATH, "--digits", "0-1"};
        args.insert(args.end(), own.begin(), own.end());
        args.insert(args.end(), {"-tr", dir.file("train"), "-ts", dir.file("test")});
        args.insert(args.end(), passed.begin(), passed.end());
        return run_tool(args);
    }
    TempDir dir;
};

TEST_F(Sweep, KernelRunsOfTheRealProgram) {
    RunResult run = sweep({"-k", "gauss", "-c", "1", "-e", "2"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(without_seconds(run.out),
              "| digit | training error (%) | test error (%) | wrong saying 1 | wrong saying -1\n"
              "|---:|---:|---:|---:|---:|---:|\n"
              "| 0 | 0.000000 | 33.333336 | 1 | 0\n"
              "| 1 | 0.000000 | 33.333336 | 0 | 1\n"
              "| mean | 0.000000 | 33.333336 | 0.5 | 0.5\n");
}

TEST_F(Sweep, VotedRunsOfTheRealProgram) {
    RunResult run = sweep({"-vot", "1", "-e", "2"}, {"--csv"});
    ASSERT_EQ(run.status, 0) << run.err;
    // Digit 0: "yes" to all three, the two ones wrongly; digit 1: "no" to
    // all three, the two ones wrongly.
    EXPECT_NE(run.out.find("\n0,25.000000,66.666672,2,0,"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\n1,50.000000,66.666672,0,2,"), std::string::npos) << run.out;
}

TEST_F(Sweep, PolynomialTraceAndStandardInputAreHandled) {
    RunResult run = sweep({"-e", "1"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("| mean |"), std::string::npos);
}

TEST_F(Sweep, FailingRunsStopTheSweepCleanly) {
    RunResult missing = run_tool(
        {"sweep", "--programma", PROGRAMMA_PATH, "--digits", "3", "-tr", dir.file("none")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out.find("| digit"), std::string::npos);  // no table
    EXPECT_NE(missing.err.find("-dg 3 failed with exit status 1"), std::string::npos)
        << missing.err;

    RunResult refused = sweep({"-k", "bogus"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("reported no training or test error for digit 0"), std::string::npos)
        << refused.err;

    RunResult absent = run_tool({"sweep", "--programma", dir.file("no-such-program"), "-k", "gauss"});
    EXPECT_EQ(absent.status, 1);
    EXPECT_NE(absent.err.find("cannot run"), std::string::npos) << absent.err;
}

TEST_F(Sweep, WrongCommandLinesAreRefused) {
    EXPECT_EQ(run_tool({"sweep", "-k"}).status, 2);
    EXPECT_EQ(run_tool({"sweep", "-dg", "3"}).status, 2);
    EXPECT_EQ(run_tool({"sweep", "-l", "list"}).status, 2);
    EXPECT_EQ(run_tool({"sweep", "--digits", "10"}).status, 2);
    EXPECT_EQ(run_tool({"sweep", "--fast"}).status, 2);
}

TEST_F(Sweep, TheInstalledLayoutFindsTheProgramBesideTheTools) {
    RunResult run = run_binary(DIGIT_TOOLS_PATH, dir.path,
                               {"sweep", "--digits", "1", "--", "-tr", "train", "-ts", "test",
                                "-k", "gauss", "-c", "1"},
                               "", true);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("| 1 | 0.000000 | 33.333336 | 0 | 1 |"), std::string::npos) << run.out;
}

TEST_F(Sweep, PlotDrawsABarChart) {
    if (::access("/usr/bin/gnuplot", X_OK) != 0) GTEST_SKIP() << "gnuplot is not installed";
    RunResult run = sweep({"-k", "gauss", "-c", "1"}, {"--plot", dir.file("bars.png")});
    ASSERT_EQ(run.status, 0) << run.err;
    const DecodedPng png = decode_png(dir.file("bars.png"));
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.width, 640u);
    EXPECT_EQ(png.height, 400u);
}

}  // namespace
