// tune: the folds it cuts, and its table against separate trainings per
// fold, each with exactly the setting's epochs and combiner.
#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "digit_tools_classify.h"
#include "digit_tools_samples.h"
#include "digit_tools_tune.h"
#include "tools_support.h"

namespace {

using programma::Combine;
using programma::KernelKind;

TEST(Tune, FoldsAreContiguousShareOfTheRowsInASeededOrder) {
    EXPECT_EQ(fold_bounds(0, 3, 10), (std::pair<uint32_t, uint32_t>{0, 3}));
    EXPECT_EQ(fold_bounds(1, 3, 10), (std::pair<uint32_t, uint32_t>{3, 6}));
    EXPECT_EQ(fold_bounds(2, 3, 10), (std::pair<uint32_t, uint32_t>{6, 10}));
    EXPECT_EQ(fold_order(4, std::nullopt), (std::vector<uint32_t>{0, 1, 2, 3}));
    // The documented shuffle, pinned: the same seed gives these folds everywhere.
    EXPECT_EQ(fold_order(6, 7), (std::vector<uint32_t>{5, 1, 4, 2, 0, 3}));
}

TEST(Tune, EachRowIsTheSeparateTrainingsOfItsSetting) {
    std::mt19937 random(9);
    std::normal_distribution<float> noise(0.0f, 0.7f);
    TempDir dir;
    std::string text;
    for (int r = 0; r < 90; ++r) {
        const int label = int(random() % 10);
        for (int f = 0; f < 4; ++f) text += std::to_string(float(label % (f + 2)) + noise(random)) + " ";
        text += std::to_string(label) + "\n";
    }
    write_text(dir.file("train"), text);
    TuneOptions options;
    options.kernels = {KernelKind::gaussian};
    options.constants = {0.5f, 2.0f};
    options.epochs = {1, 3};
    options.combines = {Combine::last, Combine::average, Combine::vote};
    options.folds = 3;
    options.shuffle = 5;
    options.training_set = dir.file("train");
    const TuneResult result = tune(options);
    ASSERT_EQ(result.rows.size(), 12u);
    const programma::SampleSet all = load_sample_set(options.training_set);
    const std::vector<uint32_t> order = fold_order(all.rows(), options.shuffle);
    for (const TuneRow& row : result.rows) {
        uint64_t wrong = 0;
        for (uint32_t f = 0; f < 3; ++f) {
            const auto [begin, end] = fold_bounds(f, 3, all.rows());
            std::vector<float> train_values, train_labels, test_values, test_labels;
            for (uint32_t r = 0; r < all.rows(); ++r) {
                const bool held = std::find(order.begin() + begin, order.begin() + end, r) != order.begin() + end;
                (held ? test_values : train_values)
                    .insert((held ? test_values : train_values).end(), all.row(r), all.row(r) + 4);
                (held ? test_labels : train_labels).push_back(all.label(r));
            }
            // The held rows in fold order, as tune scores them.
            test_values.clear();
            test_labels.clear();
            for (uint32_t i = begin; i < end; ++i) {
                test_values.insert(test_values.end(), all.row(order[i]), all.row(order[i]) + 4);
                test_labels.push_back(all.label(order[i]));
            }
            const auto train =
                programma::samples_from_memory(train_values.data(), train_labels.data(), train_labels.size(), 4)
                    .value();
            const auto test =
                programma::samples_from_memory(test_values.data(), test_labels.data(), test_labels.size(), 4).value();
            std::vector<std::vector<double>> scores;
            for (uint32_t d = 0; d < 10; ++d) {
                const programma::Recogniser recogniser{d, row.kernel, row.epochs};
                const auto trained = programma::train(train, recogniser).value();
                scores.push_back(
                    programma::decision_scores(train, recogniser, trained.mistakes, test, row.combine).value());
            }
            for (uint32_t r = 0; r < test.rows(); ++r) {
                double sums[10];
                for (uint32_t d = 0; d < 10; ++d) sums[d] = scores[d][r];
                wrong += programma::best_of(sums, 10) != std::size_t(test.label(r)) ? 1 : 0;
            }
        }
        EXPECT_EQ(row.wrong, wrong) << row.kernel.parameter << " " << row.epochs << " " << combine_name(row.combine);
    }
    EXPECT_NE(tune_report(result, false).find("\nBest: -k gauss -c "), std::string::npos);
}

// A grid value programma refuses, an unknown combiner and too few folds
// are command-line errors; more folds than rows is bad data. None writes a
// file.
TEST(Tune, BadGridsAreRefusedWithTheirReason) {
    TempDir dir;
    write_text(dir.file("train"), "0 0\n1 1\n2 2\n");
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
        {{"-c", "10,abc"}, 2, "-c does not take 'abc'"},
        {{"-e", "2,-1"}, 2, "-e does not take '-1'"},
        {{"-k", "gauss,poly"}, 2, "-k does not take 'poly'"},
        {{"-c", "10,,30"}, 2, "without empty items"},
        {{"--combine", "last,best"}, 2, "--combine takes last, average or vote, not 'best'"},
        {{"--folds", "1"}, 2, "--folds needs a whole number from 2"},
        {{"--folds", "4"}, 1, "train: 4 folds need as many rows, the set has 3"},
    };
    for (const auto& [extra, status, message] : cases) {
        std::vector<std::string> args = {"tune", "-tr", "train", "--plot", "p.png"};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult r = launch({.program = DIGIT_TOOLS_PATH, .work_dir = dir.path, .args = args});
        EXPECT_EQ(r.status, status) << message;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(file_exists(dir.file("p.png"))) << message;
    }
    const RunResult bad = launch({.program = DIGIT_TOOLS_PATH,
                                  .work_dir = dir.path,
                                  .args = {"classify", "--combine", "most", "-tr", "train", "-ts", "train"}});
    EXPECT_EQ(bad.status, 2);
}

}  // namespace
