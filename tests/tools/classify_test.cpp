// classify: the ten-class answers against an independent computation with
// the reference modules, the saved lists against programma's, --restore
// against training, and bad input refused with its message and no file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <random>

#include "digit_tools_classify.h"
#include "digit_tools_samples.h"
#include "perceptron_lib.h"
#include "tools_support.h"

namespace {

// Ten clusters of 3 features, one per digit, close enough to overlap.
std::string random_set(std::mt19937& random, int rows) {
    std::normal_distribution<float> noise(0.0f, 0.6f);
    std::string text;
    char number[32];
    for (int r = 0; r < rows; ++r) {
        const int label = int(random() % 10);
        for (int f = 0; f < 3; ++f) {
            std::snprintf(number, sizeof number, "%.6g ", double(float(label % (f + 2)) + noise(random)));
            text += number;
        }
        text += std::to_string(label) + "\n";
    }
    return text;
}

TEST(Classify, AnswersAreTheGreatestReferenceSum) {
    const auto answer = [](std::array<double, 10> sums) { return programma::best_of(sums.data(), 10); };
    std::mt19937 random(4);
    TempDir dir;
    write_text(dir.file("train"), random_set(random, 150));
    write_text(dir.file("test"), random_set(random, 60));
    for (const KernelSpec ker : {KernelSpec{KernelKind::gaussian, 0.5f}, KernelSpec{KernelKind::polynomial, 2.0f}}) {
        const ClassifyOptions options{
            .ker = ker, .epochs = 2, .training_set = dir.file("train"), .test_set = dir.file("test")};
        const ClassifyResult result = classify_digits(options);
        const programma::SampleSet train_set = load_sample_set(options.training_set);
        const programma::SampleSet test_set = load_sample_set(options.test_set);
        const SampleMatrix &train = train_set.matrix(), &test = test_set.matrix();
        std::array<std::vector<int32_t>, 10> lists;
        for (uint32_t d = 0; d < 10; ++d) {
            std::unique_ptr<IndexList> list;
            float error = 0;
            ::testing::internal::CaptureStdout();
            run(2, d, ker, list, train, train.columns, train.rows, error);
            ::testing::internal::GetCapturedStdout();
            read_list(lists[d], list.get());
            EXPECT_EQ(result.lists[d], lists[d]) << d;
            EXPECT_EQ(*result.training_error[d], error);
        }
        for (uint32_t r = 0; r < test.rows; ++r) {
            std::array<float, 10> sums{};
            for (uint32_t d = 0; d < 10; ++d) {
                for (int32_t index : lists[d]) {
                    const float* row = train.row(uint32_t(index));
                    float value = 0;
                    if (ker.kind == KernelKind::polynomial) {
                        vect_pr(3, test.row(r), row, value);
                        value = polynomial_of_dot(value, ker.parameter);
                    } else {
                        ker_gauss(3, test.row(r), row, value, ker.parameter);
                    }
                    sums[d] = sums[d] + float(target_label(row[3], d)) * value;
                }
            }
            EXPECT_EQ(result.answers[r], answer({sums[0], sums[1], sums[2], sums[3], sums[4], sums[5], sums[6], sums[7],
                                                 sums[8], sums[9]}))
                << r;
        }
    }
}

TEST(Classify, ListsAreProgrammasAndRestoringGivesTheSameAnswers) {
    TempDir dir;
    const std::string data = std::string(PROGRAMMA_SOURCE_DIR) + "/Data/";
    const std::vector<std::string> sets = {"-tr", data + "Training_set", "-ts", data + "Test_set", "-k", "gauss", "-e",
                                           "3"};
    std::vector<std::string> args = {"classify",          "--lists", dir.file("lists"),   "--predictions",
                                     dir.file("trained"), "--plot",  dir.file("plot.png")};
    args.insert(args.end(), sets.begin(), sets.end());
    const RunResult trained = tool(args);
    ASSERT_EQ(trained.status, 0) << trained.err;
    for (const char* d : {"0", "4", "9"}) {
        std::vector<std::string> run = sets;
        run.insert(run.end(), {"-dg", d});
        EXPECT_EQ(launch({.work_dir = dir.path, .args = run, .input = "y\nsaved\n"}).status, 0);
        EXPECT_EQ(read_text(dir.file("lists/" + std::string(d) + ".list")), read_text(dir.file("saved"))) << d;
    }
    args = {"classify", "--restore", dir.file("lists"), "--predictions", dir.file("restored"), "--csv"};
    args.insert(args.end(), sets.begin(), sets.end());
    const RunResult restored = tool(args);
    ASSERT_EQ(restored.status, 0) << restored.err;
    EXPECT_EQ(read_text(dir.file("restored")), read_text(dir.file("trained")));
    const std::string error_line = trained.out.substr(trained.out.find("Ten-class test error: "), 60);
    const std::string wrong = error_line.substr(22, error_line.find(' ', 22) - 22);
    EXPECT_NE(restored.out.find("\nall,,,597," + wrong + ","), std::string::npos) << restored.out;
    EXPECT_EQ(std::count(restored.out.begin(), restored.out.end(), '\n'), 12) << "one CSV table";
    EXPECT_EQ(read_png(dir.file("plot.png")).width, 680u);  // gnuplot's heat map of ten columns

    // Every combiner answers the same from restored lists as from training:
    // the lists alone give each hypothesis's weight. programma's own lists
    // (without a manifest) take -e from the command line.
    ::unlink(dir.file("lists/manifest").c_str());
    for (const char* combine : {"vote", "average"}) {
        args = {"classify", "--combine", combine, "--predictions", dir.file(std::string("trained_") + combine)};
        args.insert(args.end(), sets.begin(), sets.end());
        ASSERT_EQ(tool(args).status, 0) << combine;
        args = {"classify",
                "--combine",
                combine,
                "--restore",
                dir.file("lists"),
                "--predictions",
                dir.file(std::string("restored_") + combine)};
        args.insert(args.end(), sets.begin(), sets.end());
        ASSERT_EQ(tool(args).status, 0) << combine;
        EXPECT_EQ(read_text(dir.file(std::string("restored_") + combine)),
                  read_text(dir.file(std::string("trained_") + combine)));
    }
    // Lists that need three epochs, restored with two, cannot be weighed.
    args = {"classify", "--combine", "vote", "--restore", dir.file("lists"), "--predictions", dir.file("two")};
    args.insert(args.end(), sets.begin(), sets.end() - 1);
    args.push_back("2");
    const RunResult short_of_epochs = tool(args);
    EXPECT_EQ(short_of_epochs.status, 1);
    EXPECT_NE(short_of_epochs.err.find("needs 3 epochs of training, more than the 2 given"), std::string::npos)
        << short_of_epochs.err;
    EXPECT_FALSE(file_exists(dir.file("two")));
}

TEST(Classify, BadInputIsRefusedWithItsFileAndNoOutput) {
    TempDir dir;
    write_text(dir.file("train"), "0 0\n1 1\n2 2\n");
    write_text(dir.file("half"), "0 0\n1 1.5\n");
    write_text(dir.file("ten"), "0 0\n5 10\n");
    write_text(dir.file("wide"), "0 0 1\n");
    ::mkdir(dir.file("lists").c_str(), 0755);
    for (int d = 0; d < 10; ++d)
        write_text(dir.file("lists/" + std::to_string(d) + ".list"), d == 7 ? "1\n3\n" : "0\n");
    ::unlink(dir.file("lists/9.list").c_str());
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-tr", "half"}, "half: row 2: label 1.5 is not a whole number from 0 to 9"},
        {{"-ts", "ten"}, "ten: row 2: label 10 is not a whole number from 0 to 9"},
        {{"-ts", "wide"}, "wide: samples have 3 numbers, the training set's have 2"},
        {{"--restore", "lists"}, "lists/7.list: entry 2 (index 3) names no row of the 3-row training set"},
        {{"--restore", "none"}, "none/0.list: cannot open: No such file or directory"}};
    for (const auto& [extra, message] : cases) {
        std::vector<std::string> args = {"classify",      "-tr", "train",  "-ts",  "train",
                                         "--predictions", "out", "--plot", "p.png"};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult r = launch({.program = DIGIT_TOOLS_PATH, .work_dir = dir.path, .args = args});
        EXPECT_EQ(r.status, 1) << message;
        EXPECT_EQ(r.err, "digit-tools: " + message + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(file_exists(dir.file("out")) || file_exists(dir.file("p.png"))) << message;
    }
    EXPECT_EQ(tool({"classify", "-k", "poly"}).status, 2);
}

}  // namespace
