// Runs under a low address-space limit (`ulimit -v` in a child shell): a run
// that cannot hold its data must end with the out-of-memory diagnostic and
// status 1, never a crash. AddressSanitizer reserves terabytes of address
// space at start-up and cannot run under such a limit, so these tests skip
// themselves in the sanitizer build.
#include <gtest/gtest.h>

#include "reliability_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define PROGRAMMA_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PROGRAMMA_UNDER_ASAN 1
#endif
#endif

namespace {

// 96 MiB of address space, in the KiB units of `ulimit -v`: several times
// what the small runs below need, far less than the big ones.
const std::string kLimit = "ulimit -v 98304;";

class LowMemory : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef PROGRAMMA_UNDER_ASAN
        GTEST_SKIP() << "AddressSanitizer cannot run under ulimit -v";
#endif
        write_text(dir.file("train"), "0 0\n5 1\n0.1 0\n5.1 1\n");
        write_text(dir.file("test"), "0.2 0\n4.9 1\n0 1\n");
    }
    RunResult run(const std::vector<std::string>& args) {
        Launch l;
        l.work_dir = dir.path;
        l.args = args;
        l.input_from_null = true;
        l.shell_prefix = kLimit;
        return launch(l);
    }
    TempDir dir;
};

TEST_F(LowMemory, SmallRunsFitUnderTheLimit) {
    RunResult gauss = run({"-tr", "train", "-ts", "test", "-dg", "1", "-k", "gauss", "-c", "1"});
    EXPECT_EQ(gauss.status, 0) << gauss.err;
    EXPECT_EQ(gauss.err, "");
    RunResult voted = run({"-vot", "1", "-tr", "train", "-ts", "test", "-dg", "1"});
    EXPECT_EQ(voted.status, 0) << voted.err;
    EXPECT_EQ(voted.err, "");
}

TEST_F(LowMemory, RestoredListTooBigForMemory) {
    // 4 million entries of 2 bytes: an 8 MB file whose list nodes need
    // about 128 MB.
    std::string text;
    text.reserve(8u << 20);
    for (int i = 0; i < 4 * 1024 * 1024; ++i) text += "0\n";
    write_text(dir.file("big.list"), text);
    RunResult r = run({"-tr", "train", "-ts", "test", "-dg", "1", "-k", "gauss", "-l", "big.list"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "programma: out of memory\n");
    EXPECT_EQ(r.out,
              "Starting training for 1 digit with gaussian kernel and 3 as constant for 2 epocs \n"
              "List loaded from big.list\nTest loaded from test\nTraining set dimension are 4x2\n");
}

TEST_F(LowMemory, VotedChainTooBigForMemory) {
    // 100 samples of 20000 zero features with alternating labels: every
    // other sample is a mistake in every epoch, and each mistake keeps an
    // 80 KB prediction vector; 40 epochs need about 160 MB.
    std::string row;
    for (int j = 0; j < 20000; ++j) row += "0 ";
    std::string text;
    for (int i = 0; i < 100; ++i) text += row + (i % 2 == 0 ? "1\n" : "0\n");
    write_text(dir.file("wide"), text);
    RunResult r = run({"-vot", "1", "-tr", "wide", "-ts", "wide", "-dg", "1", "-e", "40"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "programma: out of memory\n");
    EXPECT_EQ(r.out.rfind("Starting training for 1 digit with voted perceptron algoritm for 40 epocs \n"
                          "Training set loaded from wide\nTest loaded from wide\n"
                          "Training set dimension are 100x20001\n",
                          0),
              0u)
        << r.out.substr(0, 200);
    EXPECT_EQ(r.out.find("End training"), std::string::npos);
}

}  // namespace
