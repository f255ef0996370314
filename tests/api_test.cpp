// The library API in process: training, sums and tests bit for bit those of
// the reference modules, the combiners' prefix weights and scores on worked
// examples and against the plain formulas, cancellation, and lists and
// sample sets refused with messages that name what is wrong.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <thread>

#include "engine_settings.h"
#include "perceptron_lib.h"
#include "programma/api.h"
#include "support.h"

namespace {

using programma::Combine;
using programma::Recogniser;
using programma::SampleSet;

// Rows of 6 features around one of four centres, labelled 0 to 3.
SampleSet random_set(std::mt19937& random, std::size_t rows) {
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> values, labels;
    for (std::size_t r = 0; r < rows; ++r) {
        const uint32_t label = random() % 4;
        for (int f = 0; f < 6; ++f) values.push_back(0.4f * (float(label % (f + 2)) - 1.0f + noise(random)));
        labels.push_back(float(label));
    }
    return programma::samples_from_memory(values.data(), labels.data(), rows, 6).value();
}

std::vector<int32_t> reference_list(const Recogniser& r, const SampleSet& set, float& error) {
    std::unique_ptr<IndexList> list;
    stdout_of([&] { run(r.epochs, r.target, r.kernel, list, set.matrix(), set.columns(), set.rows(), error); });
    std::vector<int32_t> entries;
    read_list(entries, list.get());
    return entries;
}

TEST(Api, TrainingAndScoresAreTheReferenceModulesBitForBit) {
    std::mt19937 random(11);
    const SampleSet train = random_set(random, 300), test = random_set(random, 120);
    for (const programma::KernelSpec kernel :
         {programma::KernelSpec{KernelKind::gaussian, 0.7f}, programma::KernelSpec{KernelKind::polynomial, 3.0f}}) {
        std::vector<Recogniser> recognisers;
        for (uint32_t target = 0; target < 4; ++target) recognisers.push_back({target, kernel, 3});
        const auto trained = programma::train(train, recognisers);
        ASSERT_TRUE(trained.ok()) << trained.error().message;
        for (const Recogniser& r : recognisers) {
            float error = -1;
            const std::vector<int32_t> expected = reference_list(r, train, error);
            const programma::Trained& got = trained.value()[r.target];
            EXPECT_EQ(got.mistakes, expected);
            EXPECT_EQ(std::bit_cast<uint32_t>(got.training_error), std::bit_cast<uint32_t>(error));
            std::vector<uint64_t> weights;
            uint32_t needed = 0;
            ASSERT_TRUE(
                prefix_weights(expected.data(), uint32_t(expected.size()), train.rows(), r.epochs, weights, needed));
            const auto sums = programma::decision_sums(train, r, got.mistakes, test);
            ASSERT_TRUE(sums.ok());
            for (const Combine combine : {Combine::last, Combine::average, Combine::vote}) {
                for (const VectorLevel level : {VectorLevel::scalar, VectorLevel::avx2, VectorLevel::avx512}) {
                    // The same bits at every vector level and thread count.
                    const EngineSettings saved = engine_settings();
                    engine_settings().widest = level;
                    engine_settings().threads = 1 + r.target % 2;
                    const auto scores = programma::decision_scores(train, r, got.mistakes, test, combine);
                    engine_settings() = saved;
                    ASSERT_TRUE(scores.ok()) << scores.error().message;
                    for (uint32_t row = 0; row < test.rows(); ++row) {
                        const double plain =
                            combined_score(kernel, r.target, test.row(row), train.matrix(), expected.data(),
                                           uint32_t(expected.size()), weights.data(), combine);
                        EXPECT_EQ(std::bit_cast<uint64_t>(scores.value()[row]), std::bit_cast<uint64_t>(plain)) << row;
                        if (combine == Combine::last) {
                            EXPECT_EQ(double(sums.value()[row]), plain);
                        }
                    }
                }
            }
        }
    }
}

TEST(Api, AGridOfEpochsAndCombinersComesFromTheLongestTraining) {
    std::mt19937 random(3);
    const SampleSet train = random_set(random, 200), test = random_set(random, 50);
    const Recogniser longest{2, {KernelKind::gaussian, 2.0f}, 4};
    const auto trained = programma::train(train, longest);
    ASSERT_TRUE(trained.ok());
    std::vector<programma::ScoreCell> cells;
    for (uint32_t epochs : {1u, 2u, 4u}) {
        for (const Combine combine : {Combine::last, Combine::average, Combine::vote})
            cells.push_back({epochs, combine});
    }
    const auto grid = programma::decision_scores(train, longest, trained.value().mistakes, test, cells);
    ASSERT_TRUE(grid.ok()) << grid.error().message;
    for (std::size_t c = 0; c < cells.size(); ++c) {
        const Recogniser shorter{longest.target, longest.kernel, cells[c].epochs};
        const auto alone = programma::train(train, shorter);
        const auto scores = programma::decision_scores(train, shorter, alone.value().mistakes, test, cells[c].combine);
        ASSERT_TRUE(scores.ok());
        for (uint32_t row = 0; row < test.rows(); ++row) {
            EXPECT_EQ(std::bit_cast<uint64_t>(grid.value()[c][row]), std::bit_cast<uint64_t>(scores.value()[row]))
                << "cell " << c << " row " << row;
        }
    }
    EXPECT_FALSE(programma::decision_scores(train, longest, trained.value().mistakes, test, {{5, Combine::vote}}).ok());
    // Recognisers scored together give each one's own scores.
    std::vector<Recogniser> recognisers;
    std::vector<std::vector<int32_t>> lists;
    for (uint32_t target = 0; target < 4; ++target) {
        recognisers.push_back({target, longest.kernel, 4});
        lists.push_back(programma::train(train, recognisers.back()).value().mistakes);
    }
    const auto together = programma::decision_scores(train, recognisers, lists, test, cells).value();
    for (uint32_t target = 0; target < 4; ++target) {
        const auto alone = programma::decision_scores(train, recognisers[target], lists[target], test, cells).value();
        for (std::size_t c = 0; c < cells.size(); ++c) {
            for (uint32_t row = 0; row < test.rows(); ++row) {
                EXPECT_EQ(std::bit_cast<uint64_t>(together[target][c][row]), std::bit_cast<uint64_t>(alone[c][row]));
            }
        }
    }
}

TEST(Api, PrefixWeightsAndScoresFollowTheWorkedExample) {
    // Rows 0, 2, 0 of a 3-row set over 2 epochs: steps 1, 3 and 4 of 6.
    const int32_t list[] = {0, 2, 0};
    std::vector<uint64_t> weights;
    uint32_t needed = 0;
    ASSERT_TRUE(prefix_weights(list, 3, 3, 2, weights, needed));
    EXPECT_EQ(weights, (std::vector<uint64_t>{0, 2, 1, 3}));
    EXPECT_EQ(needed, 2u);
    EXPECT_FALSE(prefix_weights(list, 3, 3, 1, weights, needed));  // needs a second epoch
    EXPECT_EQ(needed, 2u);
    ASSERT_TRUE(prefix_weights(list, 0, 3, 2, weights, needed));  // no mistake: one hypothesis, all steps
    EXPECT_EQ(weights, (std::vector<uint64_t>{6}));
    const uint64_t example[] = {0, 2, 1, 3};
    const auto score = [&](Combine combine, std::vector<float> sums) {
        CombinedScore s(combine, example);
        for (const float sum : sums) s.add(sum);
        return s.score();
    };
    EXPECT_EQ(score(Combine::vote, {0, 0.5f, -0.25f, 0.75f}), 4.0);
    EXPECT_EQ(score(Combine::average, {0, 0.5f, -0.25f, 0.75f}), 3.0);
    EXPECT_EQ(score(Combine::last, {0, 0.5f, -0.25f, 0.75f}), 0.75);
    EXPECT_TRUE(std::isnan(score(Combine::average, {INFINITY, 0.5f, -0.25f, 0.75f})));  // 0 * inf is kept
    EXPECT_EQ(programma::best_of(std::vector<double>{1, 3, 3, NAN}.data(), 4), 1u);
    EXPECT_EQ(programma::best_of(std::vector<double>{NAN, 3}.data(), 2), 0u);
}

TEST(Api, CancelledWorkStopsWithAnErrorAndBadInputIsRefused) {
    std::mt19937 random(5);
    const SampleSet train = random_set(random, 2000), wide = [] {
        const float values[] = {1, 2, 3, 4, 5, 6, 7}, label = 1;
        return programma::samples_from_memory(values, &label, 1, 7).value();
    }();
    const Recogniser r{1, {KernelKind::gaussian, 1.0f}, 1000};
    programma::CancelFlag cancel{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        cancel = true;
    });
    const auto trained = programma::train(train, r, &cancel);
    stopper.join();
    ASSERT_FALSE(trained.ok());
    EXPECT_EQ(trained.error().message, "cancelled");
    EXPECT_EQ(programma::decision_sums(train, r, {0}, train, &cancel).error().message, "cancelled");
    EXPECT_EQ(programma::decision_sums(train, r, {0, 2000}, train).error().message,
              "mistake list: entry 2 (index 2000) names no row of the 2000-row training set");
    EXPECT_EQ(programma::decision_sums(train, r, {0}, wide).error().message,
              "samples have 8 numbers, the training set's have 7");
    EXPECT_EQ(programma::decision_scores(train, {1, r.kernel, 1}, {5, 3}, train, Combine::vote).error().message,
              "the mistake list of class 1 needs 2 epochs of training, more than the 1 given");
    EXPECT_FALSE(programma::samples_from_memory(nullptr, nullptr, 0, 3).ok());
    EXPECT_FALSE(programma::set_engine_options({0, 0}).ok());

    TempDir dir;
    write_text(dir.file("list"), "0\n7\n");
    write_text(dir.file("set"), "1 2 0\n3 4 1\n5 x 1\n");
    EXPECT_EQ(programma::restore_list(dir.file("list"), 8).value(), (std::vector<int32_t>{0, 7}));
    EXPECT_EQ(programma::restore_list(dir.file("list"), 7).error().message,
              dir.file("list") + ": entry 2 (index 7) names no row of the 7-row training set");
    EXPECT_EQ(programma::restore_list(dir.file("none"), 7).error().message,
              dir.file("none") + ": cannot open: No such file or directory");
    EXPECT_EQ(programma::read_samples(dir.file("set")).error().message, dir.file("set") + ":3: 'x' is not a number");
    ASSERT_TRUE(programma::save_list(dir.file("saved"), {3, 1}).ok());
    EXPECT_EQ(read_text(dir.file("saved")), "3\n1\n");
    EXPECT_FALSE(programma::save_list(dir.file("none/saved"), {3}).ok());
}

}  // namespace
