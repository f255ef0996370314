// sweep: the report lines found in output however it arrives, real runs of
// the built program, a failing one included, and the processors those runs
// may use.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/stat.h>

#include "digit_tools_sweep.h"
#include "tools_support.h"

namespace {

TEST(Sweep, ReportLinesAreFoundWhereverTheOutputSplits) {
    // The kernel trace glues text to the lines; the last has no newline.
    const std::string out =
        "Arg 2 1.0 2.0result vale 9.0End training with 12.500000% error\n"
        "End training with 99% errors\n"  // not a report line
        "I was wrong 13 times saying 1 e 6 times saying -1\n"
        "Ho classificato la cifra 3 e ho azzeccato 535 volte e sbagliato 62 volte, ho detto 597 "
        "volte meno e 0 volte piu'\n"
        "End testing with 3.182580% error";
    for (std::size_t piece : {1, 7, 1000}) {
        ReportScanner scanner;
        for (std::size_t at = 0; at < out.size(); at += piece) scanner.feed(out.substr(at, piece));
        scanner.finish();
        const ProgramReport& r = scanner.report;
        EXPECT_TRUE(r.training_error == 12.5 && r.test_error == 3.18258) << piece;
        EXPECT_TRUE(r.wrong_saying_plus == 13u && r.wrong_saying_minus == 6u) << piece;
        EXPECT_TRUE(r.voted && r.voted->wrong == 62u && r.voted->said_minus == 597u) << piece;
    }
}

// Runs sweep over a tiny set for digits 0 and 1.
RunResult sweep(const TempDir& dir, std::vector<std::string> options) {
    write_text(dir.file("train"), "0 0\n5 1\n0.1 0\n5.1 1\n");
    write_text(dir.file("test"), "0.2 0\n4.9 1\n0 1\n");
    std::vector<std::string> args = {"sweep", "--programma", PROGRAMMA_PATH, "--digits", "0-1"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"-tr", dir.file("train"), "-ts", dir.file("test")});
    return tool(args);
}

TEST(Sweep, TablesOfRealRuns) {
    TempDir dir;
    RunResult kernel = sweep(dir, {"-k", "gauss", "-c", "1", "-e", "2"});
    ASSERT_EQ(kernel.status, 0) << kernel.err;
    EXPECT_EQ(table_without_seconds(kernel.out),
              "| digit | training error (%) | test error (%) | wrong saying 1 | wrong saying -1\n"
              "|---:|---:|---:|---:|---:|---:|\n"
              "| 0 | 0.000000 | 33.333336 | 1 | 0\n"
              "| 1 | 0.000000 | 33.333336 | 0 | 1\n"
              "| mean | 0.000000 | 33.333336 | 0.5 | 0.5\n");
    // Voted: digit 0 says "yes" to all three test rows, wrongly to the two
    // ones; digit 1 says "no" to all three, wrongly to the two ones.
    RunResult voted = sweep(dir, {"--csv", "-vot", "1", "-e", "2"});
    ASSERT_EQ(voted.status, 0) << voted.err;
    EXPECT_NE(voted.out.find("\n0,25.000000,66.666672,2,0,"), std::string::npos) << voted.out;
    EXPECT_NE(voted.out.find("\n1,50.000000,66.666672,0,2,"), std::string::npos) << voted.out;
}

TEST(Sweep, AFailedRunStopsItWithoutATable) {
    TempDir dir;
    const RunResult run = tool({"sweep", "--programma", PROGRAMMA_PATH, "--digits", "3", "-tr", dir.file("none")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("-dg 3 failed with exit status 1"), std::string::npos) << run.err;
}

// The Cpus_allowed_list line of a /proc/PID/status text.
std::string allowed_line(const std::string& status) {
    const std::size_t at = status.find("Cpus_allowed_list:");
    return at == std::string::npos ? "" : status.substr(at, status.find('\n', at) + 1 - at);
}

TEST(Sweep, EveryRunGetsTheSweepsProcessors) {
    cpu_set_t set;
    CPU_ZERO(&set);
    ASSERT_EQ(::sched_getaffinity(0, sizeof set, &set), 0);
    if (CPU_COUNT(&set) < 2) GTEST_SKIP() << "one processor: no worker pool, nothing to bind";
    // The voted report needs the test set's labels: after the first run sweep
    // loads the test set, which at 1 MiB or more is read in parts by a worker
    // pool of one thread per processor. Each later run must still get the
    // processors sweep itself had.
    TempDir dir;
    write_text(dir.file("programma"), "#!/bin/sh\ngrep Cpus_allowed_list: /proc/$$/status >> " +
                                          shell_quote(dir.file("seen")) + "\nexec " + shell_quote(PROGRAMMA_PATH) +
                                          " \"$@\"\n");
    ::chmod(dir.file("programma").c_str(), 0755);
    const std::string data = std::string(PROGRAMMA_SOURCE_DIR) + "/Data/";
    const RunResult run = tool({"sweep", "--programma", dir.file("programma"), "--digits", "0-2", "-vot", "1", "-e",
                                "1", "-tr", data + "Training_set", "-ts", data + "Test_set"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string own = allowed_line(read_text("/proc/self/status"));
    EXPECT_EQ(read_text(dir.file("seen")), own + own + own);
}

}  // namespace
