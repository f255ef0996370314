// The programs in hostile surroundings: address-space and descriptor limits,
// many threads, every vector level, a test set that is a FIFO or is replaced
// during a pause, and output that cannot be written. Wherever
// programma_reference finishes, programma must print the same bytes and exit
// the same way.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>

#include "support.h"

namespace {

const std::string kData = std::string(PROGRAMMA_SOURCE_DIR) + "/Data/";

// Runs both programs from the repository (its Data/ holds the default sets)
// under the same limits, set by the shell commands `prefix`, with `input`
// (none: /dev/null); false when the reference did not finish.
bool same_as_reference(const std::vector<std::string>& args, const std::string& prefix, const std::string& input = "",
                       const std::vector<std::string>& environment = {}) {
    Launch run{.program = PROGRAMMA_REFERENCE_PATH, .work_dir = PROGRAMMA_SOURCE_DIR, .args = args, .input = input};
    run.input_from_null = input.empty();
    run.shell_prefix = prefix;
    run.environment = environment;
    const RunResult reference = launch(run);
    if (reference.status != 0) return false;
    run.program = PROGRAMMA_PATH;
    const RunResult fast = launch(run);
    EXPECT_EQ(fast.status, reference.status) << run.shell_prefix << ' ' << fast.err;
    EXPECT_EQ(fast.err, reference.err) << run.shell_prefix;
    EXPECT_TRUE(fast.out == reference.out) << run.shell_prefix;
    return true;
}

TEST(Environment, AddressSpaceLimitsAndManyThreadsGiveTheReferenceRun) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer cannot run under ulimit -v";
#endif
    const std::vector<std::vector<std::string>> runs = {
        {"-dg", "3", "-k", "gauss", "-e", "5"}, {"-vot", "1", "-dg", "3", "-e", "2"}, {"-dg", "3", "-e", "1"}};
    int finished = 0;
    for (const auto& args : runs) {
        for (const char* threads : {"PROGRAMMA_THREADS=1", "PROGRAMMA_THREADS=64"}) {
            for (int limit : {6000, 8000, 10000, 12000, 15000, 20000, 40000, 300000, 400000}) {
                finished += same_as_reference(args, "ulimit -v " + std::to_string(limit) + ";", "", {threads});
            }
        }
    }
    EXPECT_GE(finished, 30);  // most limits leave the reference enough
}

// A test set of about 2 MB (the loader reads it in parts) in the training
// set's width: short decimals for the SSE scanner, long ones and exponents
// for the readers behind it.
std::string many_decimals() {
    std::mt19937 random(41);
    std::string text;
    char number[64];
    for (int value = 0; value < 600 * 256; ++value) {
        const int form = int(random() % 4);
        std::snprintf(number, sizeof number, form == 3 ? "%.*e " : "%.*f ", form == 0 ? 20 : int(random() % 9),
                      std::ldexp(double(random()), -31) - 1.0);
        text += number;
        if (value % 256 == 255) text += std::to_string(random() % 10) + "\n";
    }
    return text;
}

TEST(Environment, EveryVectorLevelGivesTheReferenceRun) {
    TempDir dir;
    write_text(dir.file("decimals"), many_decimals());
    const std::vector<std::vector<std::string>> runs = {{"-dg", "3", "-k", "gauss", "-e", "2"},
                                                        {"-dg", "5", "-e", "1"},  // the polynomial trace
                                                        {"-vot", "1", "-dg", "3", "-e", "2"},
                                                        {"-ts", dir.file("decimals"), "-dg", "7", "-k", "gauss"}};
    for (const auto& args : runs) {
        for (const std::string level : {"scalar", "avx2", "avx512"}) {
            EXPECT_TRUE(same_as_reference(args, "export PROGRAMMA_VECTOR=" + level + ";"));
        }
    }
}

TEST(Environment, FewDescriptorsAndALargeTestSetStillSave) {
    TempDir dir;
    std::string test;
    for (int copy = 0; copy < 4; ++copy) test += read_text(kData + "Test_set");
    write_text(dir.file("test"), test);
    EXPECT_TRUE(same_as_reference({"-ts", dir.file("test"), "-dg", "3", "-k", "gauss"}, "ulimit -n 4;",
                                  "y\n" + dir.file("list") + "\n"));
    EXPECT_EQ(read_text(dir.file("list")).empty(), false);
}

TEST(Environment, AFifoTestSetNeverHoldsUpARunThatStopsAtThePrompt) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
    for (const std::string program : {PROGRAMMA_PATH, PROGRAMMA_REFERENCE_PATH}) {
        const auto start = std::chrono::steady_clock::now();
        const RunResult r =
            launch({.program = "timeout",
                    .work_dir = dir.path,
                    .args = {"20", program, "-tr", kData + "Training_set", "-ts", "fifo", "-dg", "3", "-k", "gauss"},
                    .input = "y"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "programma: no file name to save the list as (end of input)\n");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << program;
    }
}

// Standard output into a pipe whose reader is gone, SIGPIPE ignored.
TEST(Environment, OutputIntoAClosedPipeIsReported) {
    for (const std::string program : {PROGRAMMA_PATH, PROGRAMMA_REFERENCE_PATH}) {
        TempDir io;
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        ::close(out[0]);
        const pid_t child = spawn("/bin/sh",
                                  {"-c", "exec 2>err; exec \"$0\" \"$@\"", program, "-tr", kData + "Training_set",
                                   "-ts", kData + "Test_set", "-k", "gauss", "-dg", "3", "-e", "1"},
                                  -1, out[1], io.path, true);
        ::close(out[1]);
        EXPECT_EQ(wait_for(child), 1) << program;
        EXPECT_EQ(read_text(io.file("err")), "programma: standard output: cannot write: Broken pipe\n") << program;
    }
}

// Whether the process sleeps in a read of its standard input.
bool waits_for_input(pid_t pid) {
    for (int tries = 0; tries < 20000; ++tries) {
        if (read_text("/proc/" + std::to_string(pid) + "/syscall").rfind("0 0x0 ", 0) == 0) return true;
        ::usleep(500);
    }
    return false;
}

// Runs `program` with standard input from a pipe and standard output into
// `dir`'s file out; once it waits at a pause, `at_pause` runs, then the input
// ends. Returns the whole output.
std::string paused_run(const std::string& program, const std::vector<std::string>& args, const TempDir& dir,
                       const std::function<void()>& at_pause) {
    int input[2];
    if (::pipe(input) != 0) return "no pipe";
    const int out = ::open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t child = spawn(program, args, input[0], out, dir.path);
    ::close(input[0]);
    ::close(out);
    EXPECT_TRUE(waits_for_input(child)) << program;
    at_pause();
    ::close(input[1]);  // the end of input: no more pauses
    wait_for(child);
    return read_text(dir.file("out"));
}

TEST(Environment, ATestSetReplacedDuringAPauseIsReadAsItIsThen) {
    // The polynomial run waits at its first kernel evaluation; meanwhile the
    // test set is replaced by another of the same size with the same times
    // (as `cp -p` or an archive would make it).
    TempDir dir;
    const std::string original = read_text(kData + "Test_set");
    std::string swapped = original;
    std::replace(swapped.begin(), swapped.end(), '3', '5');
    const std::vector<std::string> args = {"-tr", kData + "Training_set", "-ts", "test", "-dg", "3", "-e", "1"};
    std::string outputs[2];
    for (int fast = 0; fast < 2; ++fast) {
        write_text(dir.file("test"), original);
        struct stat before {};
        ::stat(dir.file("test").c_str(), &before);
        outputs[fast] = paused_run(fast ? PROGRAMMA_PATH : PROGRAMMA_REFERENCE_PATH, args, dir, [&] {
            write_text(dir.file("test"), swapped);
            const timespec times[2] = {before.st_atim, before.st_mtim};
            ::utimensat(AT_FDCWD, dir.file("test").c_str(), times, 0);
        });
    }
    EXPECT_TRUE(outputs[1] == outputs[0]);
    const RunResult swapped_run = launch({.work_dir = dir.path, .args = args, .input_from_null = true});
    EXPECT_TRUE(outputs[1] == swapped_run.out);  // the test set read is the new one
}

TEST(Environment, TheTraceSoFarIsOutBeforeAPauseWaits) {
    // At a pause on a pipe that may still bring input, whoever reads the
    // output sees everything up to the evaluation that paused.
    TempDir dir;
    std::string shown;
    const std::string whole =
        paused_run(PROGRAMMA_PATH, {"-tr", kData + "Training_set", "-ts", kData + "Test_set", "-e", "1"}, dir,
                   [&] { shown = read_text(dir.file("out")); });
    const std::size_t second = whole.find("Arg ", whole.find("Arg ") + 1);
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(shown, whole.substr(0, second));
}

}  // namespace
