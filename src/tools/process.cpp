// Child processes: started with posix_spawn, one end of a pipe kept, and
// reaped on every path out.
#include "process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "interrupt.h"
#include "samples.h"

extern char** environ;

Child::~Child() {
    if (fd >= 0) ::close(fd);
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);  // a run that failed wants no more of it
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    forget_child(pid);
}

int Child::wait() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    forget_child(pid);
    pid = -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

void spawn(Child& child, const std::string& program, const std::vector<std::string>& args,
           const ChildStreams& streams) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    const int parent_end = streams.feed_input ? ends[1] : ends[0];
    const int child_end = streams.feed_input ? ends[0] : ends[1];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Each descriptor is copied to its place before any later copy could
    // overwrite it: standard input and error first, descriptor 3 last.
    if (streams.feed_input) {
        posix_spawn_file_actions_adddup2(&actions, child_end, 0);
        if (streams.error_fd >= 0) posix_spawn_file_actions_adddup2(&actions, streams.error_fd, 2);
        // Its standard output goes nowhere: what it writes there is no report.
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (streams.output_fd >= 0) posix_spawn_file_actions_adddup2(&actions, streams.output_fd, 3);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, child_end, 1);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const int failed = streams.feed_input
                           ? ::posix_spawnp(&child.pid, program.c_str(), &actions, nullptr, argv.data(), environ)
                           : ::posix_spawn(&child.pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(child_end);
    child.fd = parent_end;
    if (failed != 0) {
        child.pid = -1;
        throw std::runtime_error("cannot run " + program + ": " + std::strerror(failed));
    }
    watch_child(child.pid);
}

bool executable_in_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    const std::string_view folders = path != nullptr ? path : "/usr/bin:/bin";
    // Looks on while the folders lack it: false once one has it.
    const bool missing = for_each_item(folders, ':', [&](std::string_view folder) {
        const std::string name_in = (folder.empty() ? std::string(".") : std::string(folder)) + "/" + name;
        return ::access(name_in.c_str(), X_OK) != 0;
    });
    return !missing;
}
