// The converters: LIBSVM, CSV and IDX input, LIBSVM output, number printing
// that reads back exactly, and the convert command's refusals.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <random>
#include <stdexcept>

#include "digit_tools_convert.h"
#include "digit_tools_idx.h"
#include "tools_support.h"

namespace {

// The message of the runtime_error `convert` throws, or "" when none.
template <typename Convert>
std::string failure_of(Convert&& convert) {
    try {
        convert();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

TEST(FloatText, EveryPrintedFloatReadsBackAsTheSameBits) {
    std::mt19937 random(12345);
    std::vector<float> values = {
        0.0f,           -0.0f,       0.1f,       1e-45f,
        -3.4028235e38f, 1.0f / 3.0f, 0.0078125f, std::nextafter(1.0f, 2.0f)};
    for (int i = 0; i < 20000; ++i) {
        float value = std::bit_cast<float>(static_cast<uint32_t>(random()));
        if (std::isfinite(value)) values.push_back(value);
    }
    for (float value : values) {
        std::string text;
        append_float(text, value);
        float back = 1.0f;
        ASSERT_TRUE(parse_float(text, back)) << text;
        ASSERT_EQ(std::bit_cast<uint32_t>(back), std::bit_cast<uint32_t>(value)) << text;
    }
}

TEST(FloatText, ShortestFormsAndSampleLines) {
    std::string line;
    const std::vector<float> features = {-1.0f, 0.1f, -0.0f, 1.5e-7f};
    append_sample(line, features, 7);
    EXPECT_EQ(line, "-1 0.1 -0 1.5e-07 7\n");
}

TEST(Libsvm, FillsMissingFeaturesAndMapsLabels) {
    LibsvmOptions options;
    ASSERT_TRUE(options.labels.add("10=0,-1=9"));
    const std::string text =
        "# a comment line\n"
        "10 1:0.5 3:-1\n"
        "\n"
        "+1 qid:4 2:2e-1 # trailing comment\r\n"
        "-1\n"
        "3 4:1";
    EXPECT_EQ(libsvm_to_samples(text, "in.svm", options),
              "0.5 0 -1 0 0\n"
              "0 0.2 0 0 1\n"
              "0 0 0 0 9\n"
              "0 0 0 1 3\n");
    options.width = 6;
    EXPECT_EQ(libsvm_to_samples("2 6:1\n", "in.svm", options), "0 0 0 0 0 1 2\n");
}

TEST(Libsvm, BadLinesNameFileAndLine) {
    struct Case {
        std::string text;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"1 1:1\nx 1:1\n", "in.svm:2: label 'x' is not a number"},
        {"1 1:1\n\n1.5 1:1\n", "in.svm:3: label 1.5 is not a whole number"},
        {"1 0:1\n", "in.svm:1: '0:1' is not index:value with an index from 1"},
        {"1 2:1 x:1\n", "in.svm:1: 'x:1' is not index:value"},
        {"1 2:abc\n", "in.svm:1: '2:abc' is not index:value"},
        {"1 2\n", "in.svm:1: '2' is not index:value"},
        {"1 1:1\n1 3:1 2:1\n", "in.svm:2: indices must ascend, '2:1' does not"},
        {"1 3:1 3:2\n", "in.svm:1: indices must ascend"},
        {"1 5:1\n", "in.svm:1: index 5 is beyond the width 4"},
        {"# only a comment\n\n", "in.svm: holds no sample line"},
    };
    LibsvmOptions options;
    options.width = 4;
    for (const Case& c : cases) {
        const std::string message =
            failure_of([&] { libsvm_to_samples(c.text, "in.svm", options); });
        EXPECT_EQ(message.rfind(c.message, 0), 0u)
            << "input: " << c.text << "\nmessage: " << message;
    }
}

TEST(Csv, ColumnsDelimitersHeaderAndQuotes) {
    CsvOptions options;
    options.header = true;
    EXPECT_EQ(csv_to_samples("a,b,label\n1, 2 ,3\r\n\"4\",5.5,\"6\"\n", "in.csv", options),
              "1 2 3\n4 5.5 6\n");
    options = CsvOptions{};
    options.label_column = 1;
    options.delimiter = ';';
    EXPECT_EQ(csv_to_samples("7;0.25;-1\n", "in.csv", options), "0.25 -1 7\n");
    options = CsvOptions{};
    options.delimiter = '\t';
    ASSERT_TRUE(options.labels.add("10=0"));
    EXPECT_EQ(csv_to_samples("1\t\t2\t10\n", "in.csv", options), "1 2 0\n");
}

TEST(Csv, BadLinesNameFileAndLine) {
    CsvOptions options;
    EXPECT_EQ(failure_of([&] { csv_to_samples("1,2,3\n\n1,2\n", "in.csv", options); }),
              "in.csv:3: has 2 columns, expected 3 like the first line");
    EXPECT_EQ(failure_of([&] { csv_to_samples("1,2,3\n1,,3\n", "in.csv", options); }),
              "in.csv:2: column 2, '', is not a number");
    EXPECT_EQ(failure_of([&] { csv_to_samples("1,2,3.5\n", "in.csv", options); }),
              "in.csv:1: label 3.5 is not a whole number");
    options.header = true;
    EXPECT_EQ(failure_of([&] { csv_to_samples("a,b\n", "in.csv", options); }),
              "in.csv: holds no sample line");
    options.header = false;
    options.label_column = 4;
    EXPECT_EQ(failure_of([&] { csv_to_samples("1,2,3\n", "in.csv", options); }),
              "in.csv:1: has 3 columns, no label column 4");
}

// An IDX file of unsigned bytes with the given dimensions.
std::string idx_file(const std::vector<uint32_t>& dims, const std::vector<uint8_t>& values) {
    std::string file = {0, 0, 8, static_cast<char>(dims.size())};
    for (uint32_t d : dims) {
        for (int shift = 24; shift >= 0; shift -= 8) file += static_cast<char>((d >> shift) & 0xff);
    }
    file.append(values.begin(), values.end());
    return file;
}

TEST(Idx, ImagesAndLabelsAsRawScaledAndResampled) {
    // Two 2x4 images: a gradient and a uniform one.
    const std::string images = idx_file({2, 2, 4}, {0, 51, 102, 255, 255, 0, 0, 255,  //
                                                    10, 10, 10, 10, 10, 10, 10, 10});
    const std::string labels = idx_file({2}, {3, 10});
    IdxOptions options;
    ASSERT_TRUE(options.labels.add("10=0"));
    EXPECT_EQ(idx_to_samples(images, "img", labels, "lab", options),
              "0 51 102 255 255 0 0 255 3\n10 10 10 10 10 10 10 10 0\n");
    options.scale = true;
    EXPECT_EQ(idx_to_samples(images, "img", labels, "lab", options),
              "-1 -0.6 -0.2 1 1 -1 -1 1 3\n"
              "-0.92156863 -0.92156863 -0.92156863 -0.92156863 -0.92156863 -0.92156863 -0.92156863 "
              "-0.92156863 0\n");
    options.scale = false;
    options.resample = 2;
    // Each output pixel averages two neighbours of one row.
    EXPECT_EQ(idx_to_samples(images, "img", labels, "lab", options),
              "25.5 178.5 127.5 127.5 3\n10 10 10 10 0\n");
}

TEST(Idx, AreaResamplingKeepsMeansAndSplitsPixelsByOverlap) {
    // 3 pixels onto 2: the middle one is shared half and half.
    const std::vector<double> row = {0.0, 6.0, 12.0};
    const std::vector<double> narrow = area_resample(row, 1, 3, 2);
    ASSERT_EQ(narrow.size(), 4u);
    EXPECT_DOUBLE_EQ(narrow[0], (0.0 * 1.0 + 6.0 * 0.5) / 1.5);
    EXPECT_DOUBLE_EQ(narrow[1], (6.0 * 0.5 + 12.0 * 1.0) / 1.5);
    // A 28x28 image onto 16x16 keeps its mean.
    std::vector<double> image(28 * 28);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<double>((i * 37) % 256);
    const std::vector<double> small = area_resample(image, 28, 28, 16);
    double before = 0.0;
    double after = 0.0;
    for (double v : image) before += v / image.size();
    for (double v : small) after += v / small.size();
    EXPECT_NEAR(before, after, 1e-9);
}

TEST(Idx, BadFilesAreNamed) {
    const std::string images = idx_file({2, 2, 2}, {1, 2, 3, 4, 5, 6, 7, 8});
    const std::string labels = idx_file({2}, {1, 2});
    IdxOptions options;
    EXPECT_EQ(
        failure_of([&] { idx_to_samples("\x01\x02\x08\x01", "img", labels, "lab", options); }),
        "img: is not an IDX file (bad magic number)");
    std::string floats = images;
    floats[2] = 0x0d;
    EXPECT_EQ(failure_of([&] { idx_to_samples(floats, "img", labels, "lab", options); }),
              "img: holds values of IDX type 13; only unsigned bytes (8) are read");
    EXPECT_EQ(failure_of([&] {
                  idx_to_samples(images.substr(0, images.size() - 1), "img", labels, "lab",
                                 options);
              }),
              "img: holds 7 data bytes, its header says 8");
    EXPECT_EQ(failure_of([&] {
                  idx_to_samples(images, "img", idx_file({3}, {1, 2, 3}), "lab", options);
              }),
              "lab: holds 3 labels for 2 images in img");
    const std::string huge = idx_file({0xffffffff, 0xffffffff, 0xffffffff}, {1});
    EXPECT_EQ(failure_of([&] { idx_to_samples(huge, "img", labels, "lab", options); }),
              "img: holds 1 data bytes, its header says more");
    EXPECT_EQ(failure_of([&] { idx_to_samples(labels, "img", labels, "lab", options); }),
              "img: is not a set of images (needs 3 dimensions)");
}

class ConvertCommand : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(ConvertCommand, SampleFileThroughLibsvmComesBackByteForByte) {
    const std::string samples = dir.file("set");
    write_text(samples, "-1 0 -0 0.5 3\n1e-40 0.1 0 -2.75 0\n0 0 0 0 9\n");
    RunResult to = run_tool({"convert", "--to", "libsvm", samples, "-o", dir.file("set.svm")});
    ASSERT_EQ(to.status, 0) << to.err;
    EXPECT_EQ(read_text(dir.file("set.svm")), "3 1:-1 3:-0 4:0.5\n0 1:1e-40 2:0.1 4:-2.75\n9\n");
    RunResult back = run_tool({"convert", "--from", "libsvm", "--width", "4", dir.file("set.svm"),
                             "-o", dir.file("back")});
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(read_text(dir.file("back")), read_text(samples));
}

TEST_F(ConvertCommand, ShippedTestSetThroughLibsvmComesBackByteForByte) {
    const std::string shipped = std::string(DATA_DIR) + "/Test_set";
    ASSERT_EQ(run_tool({"convert", "--to", "libsvm", shipped, "-o", dir.file("t.svm")}).status, 0);
    RunResult back = run_tool({"convert", "--from", "libsvm", "--width", "256", dir.file("t.svm")});
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_TRUE(back.out == read_text(shipped));
}

TEST_F(ConvertCommand, IdxPairFromFiles) {
    write_text(dir.file("images"), idx_file({1, 2, 2}, {0, 255, 255, 0}));
    write_text(dir.file("labels"), idx_file({1}, {4}));
    RunResult run = run_tool({"convert", "--from", "idx", "--scale", "--resample", "1",
                              dir.file("images"), dir.file("labels")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "0 4\n");
}

TEST_F(ConvertCommand, BadInputFailsWithFileAndLineAndWritesNothing) {
    write_text(dir.file("bad.csv"), "1,2\n3,x\n");
    RunResult run =
        run_tool({"convert", "--from", "csv", dir.file("bad.csv"), "-o", dir.file("out")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "digit-tools: " + dir.file("bad.csv") + ":2: column 2, 'x', is not a number\n");
    EXPECT_FALSE(file_exists(dir.file("out")));

    RunResult missing = run_tool({"convert", "--to", "libsvm", dir.file("none")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");  // not the program's own "cannot open" text
    EXPECT_NE(missing.err.find(dir.file("none") + ": cannot open"), std::string::npos)
        << missing.err;

    write_text(dir.file("ragged"), "1 2 3\n1 2\n");
    RunResult ragged = run_tool({"convert", "--to", "libsvm", dir.file("ragged")});
    EXPECT_EQ(ragged.status, 1);
    EXPECT_NE(ragged.err.find(dir.file("ragged") + ":2:"), std::string::npos) << ragged.err;
}

TEST_F(ConvertCommand, WrongCommandLinesAreRefusedWithStatusTwo) {
    write_text(dir.file("in"), "1 1:1\n");
    const std::vector<std::vector<std::string>> refused = {
        {"convert", dir.file("in")},
        {"convert", "--from", "xml", dir.file("in")},
        {"convert", "--from", "csv", "--width", "3", dir.file("in")},
        {"convert", "--to", "libsvm", "--label-map", "1=2", dir.file("in")},
        {"convert", "--from", "libsvm", "--label-map", "1", dir.file("in")},
        {"convert", "--from", "libsvm", "--width", "0", dir.file("in")},
        {"convert", "--from", "idx", dir.file("in")},
        {"convert", "--from", "libsvm", dir.file("in"), "--bogus"},
        {"convert", "--from", "csv", "--delimiter", "ab", dir.file("in")},
        {"frobnicate"},
        {},
    };
    for (const auto& args : refused) {
        RunResult run = run_tool(args);
        EXPECT_EQ(run.status, 2) << (args.size() > 1 ? args[1] : "");
        EXPECT_FALSE(run.err.empty());
    }
    RunResult help = run_tool({"convert", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--label-map"), std::string::npos);
}

}  // namespace
