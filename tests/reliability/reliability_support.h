// Helpers of the reliability tests: runs of the built program with more
// control than tests/support.h gives (output through pipes, a child shell for
// ulimit, an unprivileged user when the tests run as root), and private
// device nodes.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "support.h"

struct Launch {
    std::string work_dir;
    std::vector<std::string> args;
    std::string input;             // standard input's bytes ...
    bool input_from_null = false;  // ... or /dev/null
    // When set, the program runs as `/bin/sh -c '<shell_prefix> exec programma ARGS'`,
    // for example with "ulimit -f 1;".
    std::string shell_prefix;
    // When the tests run as root, run the program as the unprivileged user
    // nobody (so that permissions hold); otherwise as the current user.
    bool unprivileged = false;
    // Standard output to /dev/null instead of a pipe.
    bool discard_stdout = false;
};

// Runs the built program; standard output and error come back through pipes
// (never files, so a file-size limit cannot touch them).
RunResult launch(const Launch& launch);

// The unprivileged user used for root runs.
constexpr uid_t kNobody = 65534;

// Whether Launch::unprivileged cases can run: true for a non-root user, and
// for root when a probe run of the program as nobody works. `why` says why not.
bool unprivileged_runs_possible(std::string& why);

// Makes a character device node (root only); false when it cannot. Never use
// the system's own /dev files as save targets: use a private twin, for example
// make_device(dir.file("full"), 1, 7) for /dev/full.
bool make_device(const std::string& path, unsigned major, unsigned minor);

bool is_root();
