// Regression tests for what the reliability work found (RELIABILITY.md,
// "Findings"). The fuzz corpus holds the same inputs as replayed files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "file_lib.h"
#include "support.h"

namespace {

struct Loaded {
    int status = -1;
    SampleMatrix matrix;
};

Loaded load(const std::string& path) {
    Loaded l;
    Dims dims;
    ::testing::internal::CaptureStderr();
    l.status = line_counter(path.c_str(), dims);
    if (l.status == 0) l.status = read_file(l.matrix, dims.columns, dims.rows, path.c_str());
    ::testing::internal::GetCapturedStderr();
    return l;
}

// Finding 1: NaN tokens with a payload, such as "nan(1)", lost the payload
// (from_chars gives the default NaN) where strtof keeps it; the loader
// promises strtof's value bit for bit. Found by the sample_file target's
// strtof oracle (fuzz/corpus/sample_file/regression_nan_payload).
TEST(Findings, NanPayloadsAreReadExactlyAsStrtof) {
    TempDir dir;
    const char* forms[] = {"nan(1)", "-nan(5)", "nan(0x7)", "NAN(123456)", "nan()", "nan(abc)", "nan", "-nan"};
    std::string text;
    for (const char* form : forms) text += std::string(form) + " ";
    write_text(dir.file("nan"), text + "\n");
    Loaded l = load(dir.file("nan"));
    ASSERT_EQ(l.status, 0);
    for (std::size_t i = 0; i < std::size(forms); ++i) {
        float expected = std::strtof(forms[i], nullptr);
        ASSERT_TRUE(std::isnan(expected));
        EXPECT_EQ(std::memcmp(&expected, &l.matrix.values[i], sizeof(float)), 0) << forms[i];
    }
}

// Sizes at the loader's edges: its 64 KiB read block, and 1 MiB, from which
// the fast engine maps the file and splits it across threads. Files around
// them, with lines across the edges and no final newline, load whole.
TEST(Findings, FilesAroundTheLoadersBlockAndMappingSizesLoadWhole) {
    TempDir dir;
    for (std::size_t size : {65534u, 65535u, 65536u, 65537u, 65538u, 131073u, 1048575u, 1048576u,
                             1048577u, 1048578u, 2097157u}) {
        // Lines "1 2 3\n" of 6 bytes; the last line is cut to fit the size,
        // padded with blanks so that it still holds three numbers.
        std::string text;
        while (text.size() + 6 <= size) text += "1 2 3\n";
        std::size_t rest = size - text.size();
        std::size_t rows = text.size() / 6;
        if (rest >= 5) {
            text += "4 5 6" + std::string(rest - 5, ' ');
            ++rows;
        } else {
            text += std::string(rest, ' ');
        }
        ASSERT_EQ(text.size(), size);
        write_text(dir.file("set"), text);
        Loaded l = load(dir.file("set"));
        ASSERT_EQ(l.status, 0) << size;
        EXPECT_EQ(l.matrix.rows, rows) << size;
        EXPECT_EQ(l.matrix.columns, 3u) << size;
        if (rest >= 5) {
            EXPECT_EQ(l.matrix.row(l.matrix.rows - 1)[2], 6.0f) << size;
        }
    }
}

// Finding 2: saving through a loop of symbolic links replaced one of the
// links with a regular file; the save is now refused with the reason, and the
// links stay as they were.
TEST(Findings, SaveThroughASymbolicLinkLoopIsRefused) {
    TempDir dir;
    ASSERT_EQ(::symlink("b", dir.file("a").c_str()), 0);
    ASSERT_EQ(::symlink("a", dir.file("b").c_str()), 0);
    std::unique_ptr<IndexList> list;
    create_list(list);
    add_list(3, list);
    ::testing::internal::CaptureStderr();
    int status = dump_file(list, dir.file("a").c_str(), 0);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err, "programma: " + dir.file("a") + ": cannot save: Too many levels of symbolic links\n");
    struct stat info {};
    ASSERT_EQ(::lstat(dir.file("a").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(list_dir(dir.path).size(), 2u);
}

}  // namespace
