// Child processes of digit-tools: programma's runs and gnuplot, each with
// one end of a pipe.
#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

// A child process with one end of a pipe; closes the descriptor and reaps
// the child on every path out.
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

// Starts `program`: its standard output comes back through the pipe, or its
// standard input is fed through it when `feed_input` (its standard output
// then /dev/null, and `output_fd`, when given, its descriptor 3). Throws
// std::runtime_error when it cannot be started.
void spawn(Child& child, const std::string& program, const std::vector<std::string>& args, bool feed_input,
           int output_fd = -1);

// Whether `name` is an executable in one of PATH's folders.
bool executable_in_path(const std::string& name);
