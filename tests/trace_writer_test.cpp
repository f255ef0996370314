// The polynomial trace's writer: its text reaches standard output whole and
// in order, before any read of standard input that could wait, and is
// otherwise gathered rather than written an evaluation at a time.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "support.h"
#include "trace_writer.h"

namespace {

long file_size(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? long(info.st_size) : -1;
}

// The child's side: standard input is a pipe that a feeder thread fills only
// once the first trace text has reached the file behind standard output
// (unbuffered, so that what stdio is given shows at once). Returns the
// number of the first check that failed, 0 when all held.
int trace_child(const std::string& out) {
    int feed[2];
    if (::pipe(feed) != 0 || ::dup2(feed[0], 0) < 0) return 10;
    ::close(feed[0]);
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::dup2(fd, 1) < 0) return 11;
    ::close(fd);
    std::clearerr(stdin);
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    bool shown_before_read = false;
    std::thread feeder([&] {
        for (int i = 0; i < 1000 && file_size(out) < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        shown_before_read = file_size(out) == 3;
        (void)!::write(feed[1], "x", 1);
        ::close(feed[1]);
    });
    TraceWriter writer;
    writer.write("abc", 3);
    writer.pause();  // waits for the feeder, which waits for "abc"
    feeder.join();
    if (!shown_before_read) return 1;
    writer.write("def", 3);
    writer.pause();  // the pipe is empty: handed over, then the read sees the end
    if (file_size(out) != 6) return 2;
    writer.write("ghi", 3);
    writer.pause();  // input has ended: nothing to wait for, so still gathered
    if (file_size(out) != 6) return 3;
    const std::string longer(3 * TraceWriter::kPiece + 17, 'z');
    writer.write(longer.data(), longer.size());
    writer.flush();
    if (read_text(out) != "abcdefghi" + longer) return 4;
    return 0;
}

TEST(TraceWriter, HandsTheTraceOverBeforeAReadThatMayWaitAndGathersItOtherwise) {
    TempDir dir;
    const std::string out = dir.file("trace");
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(trace_child(out));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "first failed check";
}

}  // namespace
