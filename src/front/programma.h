// The front end: the command line, the usage text and the two drivers that
// run a method from start to end over the settings they are given, with
// the Compute that main plugs in.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "compute.h"
#include "file_lib.h"
#include "list_lib.h"
#include "settings.h"

using programma::Settings;

void help(const char* program_name);

// Applies every option/value pair to `settings`. Returns 0 when the run may
// go ahead, 1 when the command line was refused (the usage text has been
// printed).
int parse_command_line(int argc, char** argv, Settings& settings);

// The whole program behind `main`: returns the exit status.
int programma_main(int argc, char** argv, const Compute& compute);

// What a driver's run ends with: status 0 when it reached its end, 1 when
// it stopped on a failure (reported on standard error).
struct KernelRun {
    int status = 0;
    float training_error = 0.0f;
    float test_error = 0.0f;
    std::unique_ptr<IndexList> list;  // trained or restored
};

struct VotedRun {
    int status = 0;
    VotedTraining training;
    float test_error = 0.0f;
};

KernelRun kernel(const Settings& settings, const Compute& compute);
VotedRun voted_perceptron(const Settings& settings, const Compute& compute);
