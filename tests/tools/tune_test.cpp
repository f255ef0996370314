// tune: the folds it cuts, its table against separate trainings per fold
// (each with exactly the setting's epochs and combiner, in the training
// order), its default grid, and its test error against classify's. (Its
// refused grids are rows of the output rule's table.)
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "arguments.h"
#include "labels.h"
#include "programma/preparation.h"
#include "samples.h"
#include "text.h"
#include "tools_support.h"
#include "tune.h"

namespace {

using programma::Combine;
using programma::KernelKind;

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

// Each fold trains on its rows in the training order (file order, or the
// seeded one), with stratified or contiguous folds.
TEST(Tune, EachRowIsTheSeparateTrainingsOfItsSetting) {
    TempDir dir;
    write_text(dir.file("train"), training_text(90));
    TuneOptions options;
    options.kernels = {KernelKind::gaussian};
    options.constants = {{false, 0.5f}, {true, 2.0f}};
    options.epochs = {1, 3};
    options.margins = {0.0f, 0.5f};  // trained side by side, each as its own training
    // Each combiner twice: every row has an equally good twin after it.
    options.combines = {Combine::last, Combine::average, Combine::vote, Combine::last, Combine::average, Combine::vote};
    options.folds = 3;
    options.training_set = dir.file("train");
    const programma::SampleSet all = load_sample_set(options.training_set);
    for (const auto& [shuffle, in_order] : {std::pair{std::optional<uint64_t>(5), false}, {std::nullopt, true}}) {
        options.shuffle = shuffle;
        options.in_order = in_order;
        const TuneResult result = tune(options);
        ASSERT_EQ(result.rows.size(), 48u);
        std::vector<uint32_t> order(all.rows());
        std::iota(order.begin(), order.end(), 0u);
        if (shuffle) order = programma::seeded_order(all.rows(), *shuffle);  // else file order
        const std::vector<uint32_t> fold_of = folds_of(all, order, options);
        for (const TuneRow& row : result.rows) {
            uint64_t wrong = 0;
            for (uint32_t f = 0; f < 3; ++f) {
                std::vector<uint32_t> kept, held;  // in the training order
                for (const uint32_t r : order) (fold_of[r] == f ? held : kept).push_back(r);
                const programma::SampleSet train = rows_of(all, kept), test = rows_of(all, held);
                const Labels labels = labels_of_rows(all, kept);  // those of the rows trained on answer
                std::vector<std::vector<double>> scores;
                for (const float d : labels) {
                    const programma::Recogniser recogniser{uint32_t(d), row.kernel, row.epochs, row.margin};
                    const auto trained = programma::train(train, recogniser).value();
                    scores.push_back(
                        programma::decision_scores(train, recogniser, trained.mistakes, test, row.combine).value());
                }
                for (uint32_t r = 0; r < test.rows(); ++r) {
                    std::vector<double> sums;
                    for (const std::vector<double>& label : scores) sums.push_back(label[r]);
                    wrong += labels[programma::best_of(sums.data(), sums.size())] != test.label(r) ? 1 : 0;
                }
            }
            EXPECT_EQ(row.all.wrong, wrong)
                << row.kernel.parameter << " " << row.margin << " " << row.epochs << " " << combine_name(row.combine);
        }
        const auto lowest =
            std::min_element(result.rows.begin(), result.rows.end(),
                             [](const TuneRow& a, const TuneRow& b) { return a.all.value() < b.all.value(); });
        EXPECT_EQ(result.best, std::size_t(lowest - result.rows.begin())) << "the earliest of the best rows";
    }
}

// The grid left out: the gaussian kernel at 1/4 to 4 times the data's
// constant (or degrees 2 to 5), margins 0 to 2, 1 to 10 epochs, every
// combiner; and the
// test error of the best setting is classify's, printed by the same rule.
TEST(Tune, LeftOutListsTakeTheDefaultGrid) {
    TempDir dir;
    write_text(dir.file("train"), training_text(60));
    TuneOptions options;
    options.training_set = dir.file("train");
    const float scale = programma::scale_constant(load_sample_set(options.training_set));
    const TuneResult gaussian = tune(options);
    options.kernels = {KernelKind::polynomial};
    const TuneResult polynomial = tune(options);
    for (const auto& [result, parameters] :
         {std::pair{&gaussian, std::vector<float>{scale / 4, scale / 2, scale, scale * 2, scale * 4}},
          {&polynomial, std::vector<float>{2, 3, 4, 5}}}) {
        ASSERT_EQ(result->rows.size(), parameters.size() * 48);
        for (std::size_t r = 0; r < result->rows.size(); ++r) {
            EXPECT_EQ(result->rows[r].kernel.parameter, parameters[r / 48]);
            EXPECT_EQ(result->rows[r].margin, (std::vector<float>{0, 0.5f, 1, 2}[r / 12 % 4]));
            EXPECT_EQ(result->rows[r].epochs, (std::vector<uint32_t>{1, 2, 5, 10}[r / 3 % 4]));
            EXPECT_EQ(result->rows[r].combine, Combine(r % 3));
        }
    }
    write_text(dir.file("test"), training_text(31));
    const auto setting = with({"-k", "gauss", "-c", "scale", "-e", "3", "--combine", "vote", "--shuffle", "2", "-tr"},
                              {dir.file("train"), "-ts", dir.file("test")});
    const RunResult tuned = tool(with({"tune"}, setting)), classified = tool(with({"classify"}, setting));
    const auto words = [](const std::string& out, const std::string& before) {
        const std::size_t at = out.find(before) + before.size();
        return out.substr(at, out.find('\n', at) - at);
    };
    const std::string constant = "Gaussian constant from the training data (-c scale): ";
    EXPECT_EQ(words(tuned.out, "Test error of the best setting: "), words(classified.out, "-class test error: "));
    EXPECT_EQ(words(tuned.out, constant), parameter_text(scale));
    EXPECT_EQ(words(classified.out, constant), parameter_text(scale));
    EXPECT_EQ(percent_of(131, 1000), "13.100000");
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
