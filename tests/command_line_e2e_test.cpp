// The built program's answers to command lines: the usage text on every
// refusal (status 0), silence for -a 1, and the voted header.
#include <gtest/gtest.h>

#include "support.h"

namespace {

TEST(CommandLineE2E, EveryRefusalPrintsTheUsageTextAndExitsZero) {
    const std::vector<std::vector<std::string>> refusals = {
        {"-e"},                    // lone option: even argc
        {"-dg", "3", "-e"},        // odd number of arguments
        {"-dg", "10"},
        {"-dg", "x"},
        {"-dg", "-1"},
        {"-dg", "4294967299"},
        {"-e", "-1"},
        {"-e", "99999999999"},
        {"-e", "abc"},
        {"-k", "poly"},
        {"-a", "2"},
        {"-vot", "true"},
        {"-c", "big"},
        {"-d", "x2"},
        {"-x", "1"},
        {"3", "-dg"},              // a value without its option
        {"-dg", "2", "--tr", "a"},
        {"-DG", "2"},
    };
    TempDir dir;
    for (const auto& args : refusals) {
        RunResult r = run_programma(dir.path, args, "", true);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_EQ(r.out, usage_text(PROGRAMMA_PATH)) << args[0];
        EXPECT_EQ(r.err, "") << args[0];
    }
}

TEST(CommandLineE2E, AdaboostAloneEndsSilently) {
    TempDir dir;  // no data: nothing may be loaded
    RunResult r = run_programma(dir.path, {"-a", "1"}, "", true);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
}

TEST(CommandLineE2E, DefaultsNameTheDefaultFiles) {
    TempDir dir;
    RunResult r = run_programma(dir.path, {}, "", true);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "Starting training for 0 digit with polinomial kernel of 2 degree for 2 epocs \n"
              "Training set loaded from Data/Training_set\n"
              "Test loaded from Data/Test_set\n"
              "ERRORE NEL FILE");
    EXPECT_NE(r.err.find("Data/Training_set: cannot open"), std::string::npos);
}

TEST(CommandLineE2E, VotedHeaderComesFromTheCommandLine) {
    TempDir dir;
    RunResult r = run_programma(dir.path, {"-vot", "1", "-a", "1", "-dg", "7", "-e", "0"}, "", true);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "Starting training for 7 digit with voted perceptron algoritm for 0 epocs \n"
              "Training set loaded from Data/Training_set\n"
              "Test loaded from Data/Test_set\n"
              "ERRORE NEL FILE");
}

}  // namespace
