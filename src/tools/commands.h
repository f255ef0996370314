// The commands of digit-tools: one record each, and the table that names
// them. Each command's file holds its help, its options and its run.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "arguments.h"

// Exit statuses: 0 done, 1 the work failed (bad input, a failed run), 2 the
// command line was wrong.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Command {
    std::string_view name;
    std::string_view summary;  // its line in the main help
    std::string_view help;     // what `digit-tools NAME --help` prints
    // Reads the command's arguments and does its work: the exit status.
    // Failures of the work are std::runtime_error (exit 1).
    int (*run)(Arguments& arguments);
};

extern const Command kClassifyCommand;
extern const Command kConvertCommand;
extern const Command kPredictCommand;
extern const Command kScaleCommand;
extern const Command kShowCommand;
extern const Command kSweepCommand;
extern const Command kTuneCommand;

// Runs one command; messages go to standard error as "digit-tools: ...".
int digit_tools_run(const std::vector<std::string>& args);

// The whole program behind `main`: returns the exit status.
int digit_tools_main(int argc, char** argv);
