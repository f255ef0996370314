// Saving mistake lists: in process, the modes of new and replaced files,
// symbolic links and FIFOs; through the program, a save that a file-size
// limit stops part-way and runs killed during the save, neither of which may
// leave a partial list under the target's name.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <random>
#include <thread>

#include "file_lib.h"
#include "support.h"

namespace {

// Saves a list of the given entries; the diagnostic, if any, is returned.
std::string save(const std::string& path, std::vector<int32_t> entries, int& status) {
    std::unique_ptr<IndexList> list;
    create_list(list);
    for (int32_t index : entries) add_list(index, list);
    ::testing::internal::CaptureStderr();
    status = dump_file(list, path.c_str(), 0);
    return ::testing::internal::GetCapturedStderr();
}

TEST(Save, NewFilesFollowTheUmaskAndReplacedOnesKeepTheirMode) {
    TempDir dir;
    int status = -1;
    const mode_t old_mask = ::umask(027);
    save(dir.file("new"), {5, 17, 5}, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_text(dir.file("new")), "5\n17\n5\n");
    EXPECT_EQ(file_mode(dir.file("new")) & 07777, 0640u);
    write_text(dir.file("old"), "old\n");
    ::chmod(dir.file("old").c_str(), 0604);
    save(dir.file("old"), {}, status);
    EXPECT_EQ(read_text(dir.file("old")), "");
    EXPECT_EQ(file_mode(dir.file("old")) & 07777, 0604u);
    ::umask(old_mask);
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"new", "old"}));  // no temporary file left
}

TEST(Save, SymbolicLinksAreFollowedAndKept) {
    TempDir dir;
    ::mkdir(dir.file("sub").c_str(), 0755);
    write_text(dir.file("sub/target"), "old\n");
    ASSERT_EQ(::symlink("sub/target", dir.file("link").c_str()), 0);
    ASSERT_EQ(::symlink("sub/missing", dir.file("dangling").c_str()), 0);
    int status = -1;
    save(dir.file("link"), {1}, status);
    save(dir.file("dangling"), {2}, status);
    EXPECT_EQ(read_text(dir.file("sub/target")), "1\n");
    EXPECT_EQ(read_text(dir.file("sub/missing")), "2\n");
    EXPECT_TRUE(S_ISLNK(file_mode(dir.file("link"))));
}

TEST(Save, FifoIsWrittenInPlace) {
    TempDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::string received;
    std::thread reader([&] { received = read_text(fifo); });
    int status = -1;
    EXPECT_EQ(save(fifo, {3, 4}, status), "");
    reader.join();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(received, "3\n4\n");
    EXPECT_TRUE(S_ISFIFO(file_mode(fifo)));
}

// A run that trains on a one-feature set of `rows` rows whose labels alternate
// between the digit (1) and another, so that every sample after the first is
// a mistake in every epoch, and saves its list over an old one.
Launch saving_run(const TempDir& dir, int rows, const std::string& epochs) {
    std::string text;
    for (int i = 0; i < rows; ++i) text += i % 2 == 0 ? "0 1\n" : "0 0\n";
    write_text(dir.file("train"), text);
    write_text(dir.file("test"), "0 1\n");
    write_text(dir.file("list"), "old\n");
    return {.work_dir = dir.path,
            .args = {"-tr", "train", "-ts", "test", "-dg", "1", "-k", "gauss", "-e", epochs},
            .input = "y\nlist\n"};
}

TEST(Save, FileSizeLimitStopsTheSaveAndKeepsTheOldList) {
    TempDir dir;
    Launch run = saving_run(dir, 200, "3");  // 599 entries, over 2 KB
    run.shell_prefix = "ulimit -f 1;";
    const RunResult r = launch(run);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "programma: list: cannot save: File too large\n");
    EXPECT_EQ(read_text(dir.file("list")), "old\n");
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"list", "test", "train"}));
    run.shell_prefix = "ulimit -f 100;";
    EXPECT_EQ(launch(run).status, 0);
    const std::string list = read_text(dir.file("list"));
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 599);
}

TEST(Save, KilledDuringTheSaveLeavesTheOldListOrTheWholeNewOne) {
    TempDir dir;
    const Launch whole = saving_run(dir, 1000, "4");  // 3999 entries
    ASSERT_EQ(launch(whole).status, 0);
    const std::string complete = read_text(dir.file("list"));
    std::mt19937 random(20240601);
    for (int attempt = 0; attempt < 12; ++attempt) {
        write_text(dir.file("list"), "old\n");
        const int watch = ::inotify_init1(IN_CLOEXEC);
        ::inotify_add_watch(watch, dir.path.c_str(), IN_CREATE);
        int input[2];
        ASSERT_EQ(::pipe(input), 0);
        ASSERT_EQ(::write(input[1], "y\nlist\n", 7), 7);
        const pid_t child = spawn(PROGRAMMA_PATH, whole.args, input[0], -1, dir.path);
        ::close(input[0]);
        ::close(input[1]);
        // The save goes through a temporary file beside the list: kill the
        // run at a random moment after it appears.
        const bool through_temporary = watched(watch, ".list.", 20000);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 1000));
        ::kill(child, SIGKILL);
        wait_for(child);
        ::close(watch);
        EXPECT_TRUE(through_temporary) << attempt;
        const std::string now = read_text(dir.file("list"));
        ASSERT_TRUE(now == "old\n" || now == complete) << "attempt " << attempt << " left " << now.size() << " bytes";
        for (const std::string& name : list_dir(dir.path)) {
            if (name.rfind(".list.", 0) == 0) ::unlink(dir.file(name).c_str());
        }
    }
}

}  // namespace
