// sweep: the report lines found in output however it arrives, and the
// processors its runs may use. (Voted runs and a failing run are rows of
// the output rule's table.)
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/stat.h>

#include "sweep.h"
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
    // The line as the wrapper's grep prints it, for a child with this process's processors.
    const std::string own =
        launch({.program = "/bin/sh", .args = {"-c", "grep Cpus_allowed_list: /proc/$$/status"}}).out;
    EXPECT_EQ(read_text(dir.file("seen")), own + own + own);
}

}  // namespace
