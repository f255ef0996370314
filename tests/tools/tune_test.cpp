// tune: the folds it cuts, and its table against separate trainings per
// fold, each with exactly the setting's epochs and combiner. (Its refused
// grids are rows of the output rule's table.)
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "arguments.h"
#include "samples.h"
#include "tools_support.h"
#include "tune.h"

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

// Rows of 4 features around their label's centre, labels 0 to 9.
std::string training_text(int rows) {
    std::mt19937 random(9);
    std::normal_distribution<float> noise(0.0f, 0.7f);
    std::string text;
    for (int r = 0; r < rows; ++r) {
        const int label = int(random() % 10);
        for (int f = 0; f < 4; ++f) text += std::to_string(float(label % (f + 2)) + noise(random)) + " ";
        text += std::to_string(label) + "\n";
    }
    return text;
}

TEST(Tune, EachRowIsTheSeparateTrainingsOfItsSetting) {
    TempDir dir;
    write_text(dir.file("train"), training_text(90));
    TuneOptions options;
    options.kernels = {KernelKind::gaussian};
    options.constants = {0.5f, 2.0f};
    options.epochs = {1, 3};
    options.margins = {0.0f, 0.5f};  // trained side by side, each as its own training
    // Each combiner twice: every row has an equally good twin after it.
    options.combines = {Combine::last, Combine::average, Combine::vote, Combine::last, Combine::average, Combine::vote};
    options.folds = 3;
    options.shuffle = 5;
    options.training_set = dir.file("train");
    const TuneResult result = tune(options);
    ASSERT_EQ(result.rows.size(), 48u);
    const programma::SampleSet all = load_sample_set(options.training_set);
    const std::vector<uint32_t> order = fold_order(all.rows(), options.shuffle);
    for (const TuneRow& row : result.rows) {
        uint64_t wrong = 0;
        for (uint32_t f = 0; f < 3; ++f) {
            const auto [begin, end] = fold_bounds(f, 3, all.rows());
            const std::vector<uint32_t> held(order.begin() + begin, order.begin() + end);  // in fold order
            std::vector<uint32_t> kept;                                                    // in file order
            for (uint32_t r = 0; r < all.rows(); ++r) {
                if (std::find(held.begin(), held.end(), r) == held.end()) kept.push_back(r);
            }
            const programma::SampleSet train = rows_of(all, kept), test = rows_of(all, held);
            std::vector<uint32_t> labels;  // those of the rows trained on answer
            for (const uint32_t r : kept) labels.push_back(uint32_t(all.label(r)));
            std::sort(labels.begin(), labels.end());
            labels.erase(std::unique(labels.begin(), labels.end()), labels.end());
            std::vector<std::vector<double>> scores;
            for (const uint32_t d : labels) {
                const programma::Recogniser recogniser{d, row.kernel, row.epochs, row.margin};
                const auto trained = programma::train(train, recogniser).value();
                scores.push_back(
                    programma::decision_scores(train, recogniser, trained.mistakes, test, row.combine).value());
            }
            for (uint32_t r = 0; r < test.rows(); ++r) {
                std::vector<double> sums;
                for (const std::vector<double>& label : scores) sums.push_back(label[r]);
                wrong += labels[programma::best_of(sums.data(), sums.size())] != uint32_t(test.label(r)) ? 1 : 0;
            }
        }
        EXPECT_EQ(row.wrong, wrong) << row.kernel.parameter << " " << row.margin << " " << row.epochs;
    }
    const auto lowest = std::min_element(result.rows.begin(), result.rows.end(),
                                         [](const TuneRow& a, const TuneRow& b) { return a.error < b.error; });
    EXPECT_EQ(result.best, std::size_t(lowest - result.rows.begin())) << "the earliest of the best rows";
}

TEST(Tune, EveryShapeOfGridDrawsItsCellsInColour) {
    TempDir dir;
    write_text(dir.file("train"), training_text(40));
    for (const std::string grid : {"3,10 1,2", "3 1,2", "3,10 1", "3 1"}) {
        const std::size_t blank = grid.find(' ');
        const RunResult run = tool({"tune", "-k", "gauss", "-c", grid.substr(0, blank), "-e", grid.substr(blank + 1),
                                    "--folds", "2", "--plot", dir.file("p.png"), "-tr", dir.file("train")});
        EXPECT_EQ(run.status, 0) << grid;
        EXPECT_EQ(run.err, "") << grid;  // gnuplot's warnings are not the user's
        const Png png = read_png(dir.file("p.png"));
        const auto coloured =
            std::count_if(png.grey.begin(), png.grey.end(), [](uint8_t g) { return g > 60 && g < 235; });
        EXPECT_GT(coloured, 20000) << grid;  // the cells, not only the colour key
    }
}

}  // namespace
