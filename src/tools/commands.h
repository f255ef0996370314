// The command line of digit-tools: subcommands, their options and help.
#pragma once

#include <string>
#include <vector>

// Exit statuses: 0 done, 1 the work failed (bad input, a failed run), 2 the
// command line was wrong.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Runs one command; messages go to standard error as "digit-tools: ...".
int digit_tools_run(const std::vector<std::string>& args);

// The whole program behind `main`: returns the exit status.
int digit_tools_main(int argc, char** argv);
