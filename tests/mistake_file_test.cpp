// Saving and restoring mistake lists, including saves that fail part-way and
// targets that must never be replaced.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "file_lib.h"
#include "support.h"

namespace {

std::unique_ptr<IndexList> list_of(std::initializer_list<int32_t> indices) {
    std::unique_ptr<IndexList> list;
    create_list(list);
    for (int32_t index : indices) add_list(index, list);
    return list;
}

std::vector<int32_t> entries(const IndexList& list) {
    std::vector<int32_t> array;
    read_list(array, &list);
    return array;
}

struct Outcome {
    int status = -1;
    std::string err;
};

Outcome save(std::unique_ptr<IndexList>& list, const std::string& path, uint8_t delete_flag = 0) {
    ::testing::internal::CaptureStderr();
    Outcome o;
    o.status = dump_file(list, path.c_str(), delete_flag);
    o.err = ::testing::internal::GetCapturedStderr();
    return o;
}

std::vector<int32_t> restored(const std::string& path, int& status) {
    std::unique_ptr<IndexList> list;
    ::testing::internal::CaptureStderr();
    status = restore_list(path.c_str(), list);
    ::testing::internal::GetCapturedStderr();
    return list ? entries(*list) : std::vector<int32_t>{};
}

TEST(MistakeFile, SavesOneIndexPerLineAndRestoresThem) {
    TempDir dir;
    auto list = list_of({5, 17, 5});
    ASSERT_EQ(save(list, dir.file("l")).status, 0);
    EXPECT_EQ(read_text(dir.file("l")), "5\n17\n5\n");
    ASSERT_TRUE(list);
    int status = -1;
    EXPECT_EQ(restored(dir.file("l"), status), (std::vector<int32_t>{5, 17, 5}));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(list_dir(dir.path).size(), 1u);  // no temporary file left

    EXPECT_EQ(save(list, dir.file("l"), 1).status, 0);
    EXPECT_FALSE(list);  // the delete flag releases the list
}

TEST(MistakeFile, EmptyListAndEmptyFile) {
    TempDir dir;
    auto list = list_of({});
    ASSERT_EQ(save(list, dir.file("e")).status, 0);
    EXPECT_EQ(read_text(dir.file("e")), "");
    int status = -1;
    EXPECT_TRUE(restored(dir.file("e"), status).empty());
    EXPECT_EQ(status, 0);
}

TEST(MistakeFile, NoListWritesNothing) {
    TempDir dir;
    std::unique_ptr<IndexList> none;
    EXPECT_EQ(save(none, dir.file("x")).status, 1);
    EXPECT_FALSE(file_exists(dir.file("x")));
}

TEST(MistakeFile, RestoreStopsQuietlyAtTheFirstNonNumber) {
    TempDir dir;
    int status = -1;
    write_text(dir.file("a"), "3\n4 +6\t7\n12abc\n5\n");
    EXPECT_EQ(restored(dir.file("a"), status), (std::vector<int32_t>{3, 4, 6, 7, 12}));
    write_text(dir.file("b"), "1\n2");  // no final newline
    EXPECT_EQ(restored(dir.file("b"), status), (std::vector<int32_t>{1, 2}));
    // Negative and over-long numbers become the largest index, which no
    // training set reaches.
    write_text(dir.file("c"), "-1\n4294967296\n4294967295\n-0\n");
    EXPECT_EQ(restored(dir.file("c"), status), (std::vector<int32_t>{-1, -1, -1, 0}));
    restored(dir.file("missing"), status);
    EXPECT_EQ(status, 1);
}

TEST(MistakeFile, UnwritableTargetsFail) {
    TempDir dir;
    auto list = list_of({1});
    Outcome missing_dir = save(list, dir.file("no/such/file"));
    EXPECT_EQ(missing_dir.status, 1);
    EXPECT_NE(missing_dir.err.find("cannot save"), std::string::npos);
    EXPECT_EQ(save(list, dir.path).status, 1);  // a directory
    EXPECT_EQ(save(list, "").status, 1);
    EXPECT_EQ(list_dir(dir.path).size(), 0u);
}

TEST(MistakeFile, FailedSaveKeepsTheOldFile) {
    // A file-size limit in a child process makes the write fail part-way.
    TempDir dir;
    std::string path = dir.file("keep");
    write_text(path, "old content\n");
    pid_t child = ::fork();
    if (child == 0) {
        rlimit limit{8, 8};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::unique_ptr<IndexList> list;
        create_list(list);
        for (int32_t i = 0; i < 1000; ++i) add_list(i, list);
        ::_exit(dump_file(list, path.c_str(), 0));
    }
    int raw = 0;
    ::waitpid(child, &raw, 0);
    ASSERT_TRUE(WIFEXITED(raw)) << "killed by signal " << WTERMSIG(raw);
    EXPECT_EQ(WEXITSTATUS(raw), 1);
    EXPECT_EQ(read_text(path), "old content\n");
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"keep"});
}

TEST(MistakeFile, ReplacedFileKeepsItsMode) {
    TempDir dir;
    std::string path = dir.file("mode");
    write_text(path, "9\n");
    ::chmod(path.c_str(), 0640);
    auto list = list_of({1, 2});
    ASSERT_EQ(save(list, path).status, 0);
    struct stat info {};
    ::stat(path.c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(MistakeFile, SymbolicLinkIsFollowedAndKept) {
    TempDir dir;
    ::mkdir(dir.file("real").c_str(), 0700);
    write_text(dir.file("real/list"), "old\n");
    ASSERT_EQ(::symlink("real/list", dir.file("link").c_str()), 0);
    auto list = list_of({4, 2});
    ASSERT_EQ(save(list, dir.file("link")).status, 0);
    struct stat info {};
    ASSERT_EQ(::lstat(dir.file("link").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(read_text(dir.file("real/list")), "4\n2\n");
    EXPECT_EQ(list_dir(dir.file("real")).size(), 1u);
}

TEST(MistakeFile, DeviceNodeIsWrittenInPlaceNeverReplaced) {
    if (::geteuid() != 0) GTEST_SKIP() << "making a device node needs root";
    TempDir dir;
    std::string full = dir.file("full");  // a private twin of /dev/full
    ASSERT_EQ(::mknod(full.c_str(), S_IFCHR | 0666, ::makedev(1, 7)), 0);
    auto list = list_of({1, 2, 3});
    Outcome o = save(list, full);
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("No space left"), std::string::npos) << o.err;
    struct stat info {};
    ASSERT_EQ(::lstat(full.c_str(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
    EXPECT_EQ(list_dir(dir.path).size(), 1u);

    std::string null_twin = dir.file("null");
    ASSERT_EQ(::mknod(null_twin.c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
    EXPECT_EQ(save(list, null_twin).status, 0);
    ASSERT_EQ(::lstat(null_twin.c_str(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST(MistakeFile, FifoIsWrittenInPlace) {
    TempDir dir;
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = read_text(fifo); });
    auto list = list_of({7, 8});
    EXPECT_EQ(save(list, fifo).status, 0);
    reader.join();
    EXPECT_EQ(received, "7\n8\n");
    struct stat info {};
    ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

}  // namespace
