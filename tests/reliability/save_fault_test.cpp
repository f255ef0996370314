// Fault injection for saving the mistake list through the built program:
// a save that fails part-way under a file-size limit, targets that must be
// written in place (a device node twin, a FIFO), symbolic links, and runs
// killed with SIGKILL at random points around the save. In-process checks of
// dump_file live in tests/mistake_file_test.cpp; these go through the whole
// program and its save dialogue.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "reliability_support.h"

namespace {

// A one-feature training set whose labels alternate between the digit (1)
// and another: with every feature equal, each sample after the first is a
// mistake in every epoch, so the list grows by `rows` entries an epoch.
std::string alternating_set(int rows) {
    std::string text;
    for (int i = 0; i < rows; ++i) text += (i % 2 == 0) ? "0 1\n" : "0 0\n";
    return text;
}

std::vector<std::string> gauss_args(const std::string& epochs) {
    return {"-tr", "train", "-ts", "test", "-dg", "1", "-k", "gauss", "-c", "1", "-e", epochs};
}

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

class SaveFault : public ::testing::Test {
protected:
    void SetUp() override {
        write_text(dir.file("train"), alternating_set(200));
        write_text(dir.file("test"), "0 1\n");
    }
    RunResult run(const std::string& input, const std::string& shell_prefix = "") {
        Launch l;
        l.work_dir = dir.path;
        l.args = gauss_args("3");
        l.input = input;
        l.shell_prefix = shell_prefix;
        return launch(l);
    }
    TempDir dir;
};

TEST_F(SaveFault, TheAlternatingSetMakesABigList) {
    RunResult r = run("y\nlist\n");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string list = read_text(dir.file("list"));
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 599);  // all but the first sample, 3 times
    EXPECT_GT(list.size(), 2048u);                               // more than any limit used below
}

TEST_F(SaveFault, SaveFailingPartWayUnderUlimitKeepsTheOldList) {
    // `ulimit -f 1` allows 512 or 1024 bytes (dash or bash), less than the
    // list. Standard output goes to a pipe, which the limit does not touch.
    const std::string old = "7\n3\n";
    write_text(dir.file("list"), old);
    RunResult r = run("y\nlist\n", "ulimit -f 1;");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "programma: list: cannot save: File too large\n");
    EXPECT_EQ(r.out.substr(r.out.size() - 14), "Save file as :");
    EXPECT_EQ(read_text(dir.file("list")), old);  // byte-identical
    EXPECT_EQ(sorted(list_dir(dir.path)), sorted({"train", "test", "list"}));  // no temporary file

    // Without an old list nothing at all is left behind.
    RunResult fresh = run("y\nnew list\n", "ulimit -f 1;");
    EXPECT_EQ(fresh.status, 1);
    EXPECT_EQ(fresh.err, "programma: new list: cannot save: File too large\n");
    EXPECT_EQ(sorted(list_dir(dir.path)), sorted({"train", "test", "list"}));
}

TEST_F(SaveFault, UlimitLargeEnoughLetsTheSaveThrough) {
    RunResult r = run("y\nlist\n", "ulimit -f 64;");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("file saved as list"), std::string::npos);
    EXPECT_GT(read_text(dir.file("list")).size(), 2048u);
}

TEST_F(SaveFault, FifoIsWrittenInPlaceByTheProgram) {
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = read_text(dir.file("fifo")); });
    Launch l;
    l.work_dir = dir.path;
    l.args = {"-tr", "small", "-ts", "test", "-dg", "1", "-k", "gauss", "-c", "1", "-e", "2"};
    write_text(dir.file("small"), "0 0\n5 1\n0.1 0\n5.1 1\n");
    l.input = "y\nfifo\n";
    RunResult r = launch(l);
    reader.join();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(received, "0\n1\n");
    struct stat info {};
    ASSERT_EQ(::lstat(dir.file("fifo").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(sorted(list_dir(dir.path)), sorted({"train", "test", "small", "fifo"}));
}

TEST_F(SaveFault, NullDeviceTwinIsWrittenInPlaceByTheProgram) {
    if (!make_device(dir.file("null"), 1, 3)) GTEST_SKIP() << "cannot make a device node (needs root)";
    RunResult r = run("y\nnull\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("file saved as null"), std::string::npos);
    struct stat info {};
    ASSERT_EQ(::lstat(dir.file("null").c_str(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
    EXPECT_EQ(sorted(list_dir(dir.path)), sorted({"train", "test", "null"}));
}

TEST_F(SaveFault, SymbolicLinksAreFollowedAndKept) {
    ::mkdir(dir.file("lists").c_str(), 0755);
    write_text(dir.file("lists/real"), "old\n");
    ::chmod(dir.file("lists/real").c_str(), 0640);
    ASSERT_EQ(::symlink("lists/real", dir.file("first").c_str()), 0);
    ASSERT_EQ(::symlink("first", dir.file("second").c_str()), 0);  // a chain of two links
    ASSERT_EQ(::symlink("lists/new", dir.file("dangling").c_str()), 0);

    RunResult chained = run("y\nsecond\n");
    EXPECT_EQ(chained.status, 0) << chained.err;
    std::string saved = read_text(dir.file("lists/real"));
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 599);
    struct stat info {};
    ASSERT_EQ(::stat(dir.file("lists/real").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);  // the replaced file keeps its mode
    char target[64] = {};
    ASSERT_GT(::readlink(dir.file("second").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "first");
    ASSERT_GT(::readlink(dir.file("first").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "lists/real");

    // A dangling link: the file it names is created, the link stays.
    RunResult dangling = run("y\ndangling\n");
    EXPECT_EQ(dangling.status, 0) << dangling.err;
    EXPECT_EQ(read_text(dir.file("lists/new")), saved);
    ASSERT_EQ(::lstat(dir.file("dangling").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(sorted(list_dir(dir.file("lists"))), sorted({"real", "new"}));  // no temporary file
}

// --- Runs killed around the save ---------------------------------------

struct Interactive {
    pid_t pid = -1;
    int input = -1;  // write end of the program's standard input
};

Interactive start_interactive(const std::string& work_dir, const std::vector<std::string>& args) {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return {};
    pid_t child = ::fork();
    if (child == 0) {
        int null_fd = ::open("/dev/null", O_WRONLY);
        ::dup2(pipe_fds[0], 0);
        ::dup2(null_fd, 1);
        ::dup2(null_fd, 2);
        if (::chdir(work_dir.c_str()) != 0) ::_exit(126);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(PROGRAMMA_PATH));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(PROGRAMMA_PATH, argv.data());
        ::_exit(127);
    }
    ::close(pipe_fds[0]);
    return {child, pipe_fds[1]};
}

// Waits until the program blocks reading its standard input (the save
// prompt: nothing else reads it in a gaussian run). /proc/PID/syscall names
// the system call a sleeping process is in; where it cannot be read, a
// process seen sleeping three times in a row is taken as blocked.
bool wait_for_prompt(pid_t pid, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const std::string proc = "/proc/" + std::to_string(pid);
    int sleeping = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        std::string syscall = read_text(proc + "/syscall");
        if (syscall.rfind("0 0x0 ", 0) == 0) return true;  // read(0, ...)
        if (syscall.empty()) {
            std::string stat = read_text(proc + "/stat");
            std::size_t paren = stat.rfind(')');
            char state = paren != std::string::npos && paren + 2 < stat.size() ? stat[paren + 2] : '?';
            sleeping = state == 'S' ? sleeping + 1 : 0;
            if (sleeping >= 3) return true;
            if (state == 'Z') return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// Waits (up to `limit`) until a file whose name starts with `prefix` is
// created in the watched folder: the save's temporary file.
bool wait_for_creation(int inotify_fd, const std::string& prefix, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd fd{inotify_fd, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) return false;
        ssize_t got = ::read(inotify_fd, buffer, sizeof buffer);
        for (ssize_t at = 0; got > 0 && at < got;) {
            auto* event = reinterpret_cast<inotify_event*>(buffer + at);
            if (event->len > 0 && std::string(event->name).rfind(prefix, 0) == 0) return true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

void answer(int fd, const std::string& text) {
    ssize_t wrote = ::write(fd, text.data(), text.size());
    (void)wrote;
    ::close(fd);
}

TEST(KilledSave, NeverLeavesATruncatedListUnderTheTargetName) {
    TempDir dir;
    // 4 epochs of 1000 samples: a list of 3999 entries (about 16 KB).
    write_text(dir.file("train"), alternating_set(1000));
    write_text(dir.file("test"), "0 1\n");
    const std::vector<std::string> args = gauss_args("4");

    // An undisturbed run gives the complete new list, and the time from the
    // answer to the end of the run.
    Interactive reference = start_interactive(dir.path, args);
    ASSERT_GT(reference.pid, 0);
    ASSERT_TRUE(wait_for_prompt(reference.pid, std::chrono::seconds(120)));
    auto answered = std::chrono::steady_clock::now();
    answer(reference.input, "y\nlist\n");
    int raw = 0;
    ASSERT_EQ(::waitpid(reference.pid, &raw, 0), reference.pid);
    ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0);
    const auto tail = std::chrono::steady_clock::now() - answered;
    const std::string complete = read_text(dir.file("list"));
    ASSERT_EQ(std::count(complete.begin(), complete.end(), '\n'), 3999);

    const std::string old = "1\n2\n3\n";
    std::mt19937 random(20240601);
    const long long span_us =
        std::max<long long>(2000, std::chrono::duration_cast<std::chrono::microseconds>(tail).count() * 3 / 2);
    // Every other kill lands within a millisecond of the temporary file's
    // creation, inside the save; the others anywhere from the answer to
    // somewhat past the end of the run.
    std::uniform_int_distribution<long long> in_save_us(0, 1000);
    std::uniform_int_distribution<long long> any_us(0, span_us);
    int kept_old = 0;
    int got_new = 0;
    int mid_save = 0;  // kills that left a temporary file: during the save
    for (int attempt = 0; attempt < 20; ++attempt) {
        write_text(dir.file("list"), old);
        Interactive run = start_interactive(dir.path, args);
        ASSERT_GT(run.pid, 0);
        ASSERT_TRUE(wait_for_prompt(run.pid, std::chrono::seconds(120)));
        // The first run is killed at the prompt, before any answer.
        const bool at_save = attempt % 2 == 1;
        long long wait = attempt == 0 ? 0 : (at_save ? in_save_us(random) : any_us(random));
        int watch = at_save ? ::inotify_init1(IN_CLOEXEC) : -1;
        if (watch >= 0) ::inotify_add_watch(watch, dir.path.c_str(), IN_CREATE);
        if (attempt > 0) answer(run.input, "y\nlist\n");
        if (watch >= 0) {
            wait_for_creation(watch, ".list.", std::chrono::milliseconds(10000));
            ::close(watch);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(wait));
        ::kill(run.pid, SIGKILL);
        ASSERT_EQ(::waitpid(run.pid, &raw, 0), run.pid);
        if (attempt == 0) ::close(run.input);

        std::string now = read_text(dir.file("list"));
        ASSERT_TRUE(now == old || now == complete)
            << "attempt " << attempt << " killed after " << wait << " us left " << now.size()
            << " bytes under the target name";
        (now == old ? kept_old : got_new) += 1;
        // Leftover temporary files of killed saves may remain beside it, under
        // other names; clear them for the next attempt.
        bool temporary_left = false;
        for (const std::string& name : list_dir(dir.path)) {
            if (name.rfind(".list.", 0) == 0) {
                temporary_left = true;
                ::unlink(dir.file(name).c_str());
            }
        }
        mid_save += temporary_left ? 1 : 0;
        EXPECT_EQ(list_dir(dir.path).size(), 3u);  // train, test, list: nothing else
    }
    std::printf("killed runs: %d left the old list, %d the complete new one, %d died mid-save "
                "(answer to exit %lld us)\n",
                kept_old, got_new, mid_save, static_cast<long long>(span_us * 2 / 3));
    EXPECT_GE(kept_old, 1);  // at least the run killed at the prompt
}

}  // namespace
