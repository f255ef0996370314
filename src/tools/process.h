// Child processes of digit-tools: programma's runs and gnuplot, each with
// one end of a pipe.
#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

// A child process with one end of a pipe; on every path out the descriptor
// is closed and the child ended (if it still runs) and reaped. A signal that
// interrupts digit-tools ends it too.
struct Child {
    pid_t pid = -1;
    int fd = -1;
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child();
    // The exit status, or 128 + the signal that ended it.
    int wait();
};

// Where a child's standard streams go besides the pipe: with `feed_input`
// its standard input is fed through the pipe and its standard output is
// /dev/null, otherwise its standard output comes back through the pipe and
// its standard input is /dev/null. `output_fd`, when given, becomes its
// descriptor 3; `error_fd` its standard error (else it keeps ours).
struct ChildStreams {
    bool feed_input = false;
    int output_fd = -1;
    int error_fd = -1;
};

// Starts `program`; throws std::runtime_error when it cannot be started.
void spawn(Child& child, const std::string& program, const std::vector<std::string>& args, const ChildStreams& streams);

// Whether `name` is an executable in one of PATH's folders.
bool executable_in_path(const std::string& name);
