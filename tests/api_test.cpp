// The library API in process: training, sums and tests bit for bit those of
// the reference modules at every vector level a call asks for, the
// combiners' prefix weights and scores on worked examples and against the
// plain formulas, cancellation, typed errors with messages that name what is
// wrong, the recogniser check and the shared values' parsing, and calls that
// keep their own options.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

#include "engine_call.h"
#include "perceptron_lib.h"
#include "programma/api.h"
#include "programma/preparation.h"
#include "sample_rows.h"
#include "support.h"

namespace {

using programma::Combine;
using programma::ErrorKind;
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

// The reference's list: programma's training, or with a margin the margin rule's.
std::vector<int32_t> reference_list(const Recogniser& r, const SampleSet& set, float& error) {
    std::unique_ptr<IndexList> list;
    const auto& rows = programma::matrix_of(set);
    stdout_of([&] {
        r.margin > 0 ? run_margin(r.epochs, r.target, r.kernel, r.margin, list, rows, set.columns(), set.rows(), error)
                     : run(r.epochs, r.target, r.kernel, list, rows, set.columns(), set.rows(), error);
    });
    std::vector<int32_t> entries;
    read_list(entries, list.get());
    return entries;
}

// In file order against programma's run, and in a seeded order against the
// plain loop in that order (lists of row indices, weights counting steps by
// the entries' positions in it); progress heard up to every decision.
// Margins in file order against the margin rule's reference.
TEST(Api, TrainingAndScoresAreTheReferenceModulesBitForBit) {
    std::mt19937 random(11);
    const SampleSet train = random_set(random, 300), test = random_set(random, 120);
    for (const std::vector<uint32_t>& order : {std::vector<uint32_t>{}, programma::seeded_order(300, 3)}) {
        std::vector<int32_t> position(train.rows());
        for (uint32_t p = 0; p < train.rows(); ++p) position[order.empty() ? p : order[p]] = int32_t(p);
        for (const programma::KernelSpec kernel :
             {programma::KernelSpec{KernelKind::gaussian, 0.7f}, programma::KernelSpec{KernelKind::polynomial, 3.0f}}) {
            std::vector<Recogniser> recognisers;
            // In file order each target also at a margin, all trained in lockstep in one call.
            for (uint32_t i = 0; i < (order.empty() ? 8u : 4u); ++i)
                recognisers.push_back({i % 4, kernel, 3, i / 4 * 0.8f});
            uint64_t decided = 0;
            const auto trained = programma::train(train, recognisers, nullptr, {}, {}, order,
                                                  [&](const programma::TrainingProgress& at) {
                                                      EXPECT_TRUE(at.decided >= decided && at.decisions == 900);
                                                      decided = at.decided;
                                                  });
            ASSERT_TRUE(trained.ok()) << trained.error().message();
            EXPECT_EQ(decided, 900u);
            for (const Recogniser& r : recognisers) {
                float error = -1;
                std::vector<int32_t> expected, steps;
                if (order.empty()) expected = reference_list(r, train, error);
                if (!order.empty())
                    run_in_order(r.epochs, r.target, kernel, order, programma::matrix_of(train), expected, error);
                const programma::Trained& got = trained.value()[std::size_t(&r - recognisers.data())];
                EXPECT_EQ(got.mistakes, expected);
                EXPECT_EQ(std::bit_cast<uint32_t>(got.training_error), std::bit_cast<uint32_t>(error));
                for (const int32_t row : expected) steps.push_back(position[row]);
                std::vector<uint64_t> weights;
                uint32_t needed = 0;
                ASSERT_TRUE(
                    prefix_weights(steps.data(), uint32_t(steps.size()), train.rows(), r.epochs, weights, needed));
                const auto sums = programma::decision_sums(train, r, got.mistakes, test);
                ASSERT_TRUE(sums.ok());
                for (const Combine combine : {Combine::last, Combine::average, Combine::vote}) {
                    for (const auto level : {programma::VectorLevel::scalar, programma::VectorLevel::avx2,
                                             programma::VectorLevel::avx512}) {
                        // The same bits at every vector level and thread count a call asks for.
                        programma::EngineOptions options;
                        options.widest = level;
                        options.threads = 1 + r.target % 2;
                        const auto scores =
                            programma::decision_scores(train, r, got.mistakes, test, combine, nullptr, options, order);
                        ASSERT_TRUE(scores.ok()) << scores.error().message();
                        for (uint32_t row = 0; row < test.rows(); ++row) {
                            const double plain =
                                combined_score(kernel, r.target, test.row(row), programma::matrix_of(train),
                                               expected.data(), uint32_t(expected.size()), weights.data(), combine);
                            EXPECT_EQ(std::bit_cast<uint64_t>(scores.value()[row]), std::bit_cast<uint64_t>(plain));
                            if (combine == Combine::last) {
                                EXPECT_EQ(double(sums.value()[row]), plain);
                            }
                        }
                    }
                }
            }
        }
    }
}

// Recognisers of two kernels (trained one by one, not in lockstep) at
// several margins: each list and error the reference's, bit for bit.
TEST(Api, MarginTrainingOfMixedKernelsIsTheReferences) {
    std::mt19937 random(17);
    const SampleSet train = random_set(random, 250);
    std::vector<Recogniser> recognisers;
    for (const float margin : {0.0f, 0.5f, 2.0f}) {
        recognisers.push_back({1, {KernelKind::gaussian, 0.7f}, 3, margin});
        recognisers.push_back({2, {KernelKind::polynomial, 3.0f}, 3, margin});
    }
    const std::vector<programma::Trained> trained = programma::train(train, recognisers).value();
    for (std::size_t i = 0; i < recognisers.size(); ++i) {
        float error = -1;
        EXPECT_EQ(trained[i].mistakes, reference_list(recognisers[i], train, error)) << i;
        EXPECT_EQ(std::bit_cast<uint32_t>(trained[i].training_error), std::bit_cast<uint32_t>(error)) << i;
    }
}

// Also for lists made with a margin, whose epochs the same rule tells apart.
TEST(Api, AGridOfEpochsAndCombinersComesFromTheLongestTraining) {
    std::mt19937 random(3);
    const SampleSet train = random_set(random, 200), test = random_set(random, 50);
    const programma::KernelSpec kernel{KernelKind::gaussian, 2.0f};
    std::vector<programma::ScoreCell> cells;
    for (uint32_t epochs : {1u, 2u, 4u}) {
        for (const Combine combine : {Combine::last, Combine::average, Combine::vote})
            cells.push_back({epochs, combine});
    }
    for (const float margin : {0.0f, 0.6f, 2.0f}) {
        const Recogniser longest{2, kernel, 4, margin};
        const auto trained = programma::train(train, longest);
        ASSERT_TRUE(trained.ok());
        const auto grid = programma::decision_scores(train, longest, trained.value().mistakes, test, cells);
        ASSERT_TRUE(grid.ok()) << grid.error().message();
        for (std::size_t c = 0; c < cells.size(); ++c) {
            const Recogniser shorter{longest.target, longest.kernel, cells[c].epochs, margin};
            const auto alone = programma::train(train, shorter);
            const auto scores =
                programma::decision_scores(train, shorter, alone.value().mistakes, test, cells[c].combine);
            ASSERT_TRUE(scores.ok());
            for (uint32_t row = 0; row < test.rows(); ++row) {
                EXPECT_EQ(std::bit_cast<uint64_t>(grid.value()[c][row]), std::bit_cast<uint64_t>(scores.value()[row]))
                    << "margin " << margin << " cell " << c << " row " << row;
            }
        }
        EXPECT_FALSE(
            programma::decision_scores(train, longest, trained.value().mistakes, test, {{5, Combine::vote}}).ok());
    }
    // Recognisers scored together give each one's own scores.
    std::vector<Recogniser> recognisers;
    std::vector<std::vector<int32_t>> lists;
    for (uint32_t target = 0; target < 4; ++target) {
        recognisers.push_back({target % 2, kernel, 4, 0.5f * float(target)});  // two targets, each at two margins
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
    // A row equal to the one before starts the next epoch: row 1 at steps 2 and 5 of 6.
    const int32_t again[] = {1, 1};
    ASSERT_TRUE(prefix_weights(again, 2, 3, 2, weights, needed));
    EXPECT_EQ(weights, (std::vector<uint64_t>{1, 3, 2}));
    EXPECT_FALSE(prefix_weights(again, 2, 3, 1, weights, needed));
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

// An error's kind and its parts; its message is composed from them.
struct Expected {
    ErrorKind kind;
    std::string message;
    std::string path = "";
    uint64_t line = 0;
    int error_number = 0;
};

void expect_error(const programma::Error& error, const Expected& expected) {
    EXPECT_EQ(error.kind, expected.kind) << expected.message;
    EXPECT_EQ(error.message(), expected.message);
    EXPECT_EQ(error.path, expected.path) << expected.message;
    EXPECT_EQ(error.line, expected.line) << expected.message;
    EXPECT_EQ(error.error_number, expected.error_number) << expected.message;
}

TEST(Api, ErrorsAreTypedAndTheirMessagesNameWhatIsWrong) {
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
    TempDir dir;
    write_text(dir.file("list"), "0\n7\n");
    write_text(dir.file("set"), "1 2 0\n3 4 1\n5 x 1\n");
    programma::EngineOptions no_thread;
    no_thread.threads = 0;
    const std::vector<Recogniser> two_kernels = {{1, r.kernel, 1}, {2, {KernelKind::gaussian, 2.0f}, 1}};
    const std::vector<std::pair<programma::Error, Expected>> cases = {
        {trained.error(), {ErrorKind::cancelled, "cancelled"}},
        {programma::decision_sums(train, r, {0}, train, &cancel).error(), {ErrorKind::cancelled, "cancelled"}},
        {programma::decision_sums(train, r, {0, -1}, train).error(),
         {ErrorKind::invalid_argument, "mistake list: entry 2 (index -1) names no row of the 2000-row training set"}},
        {programma::decision_sums(train, r, {0}, wide).error(),
         {ErrorKind::invalid_argument, "samples have 8 numbers, the training set's have 7"}},
        {programma::decision_scores(train, {1, r.kernel, 1}, {5, 3}, train, Combine::vote).error(),
         {ErrorKind::invalid_argument,
          "the mistake list of class 1 needs 2 epochs of training, more than the 1 given"}},
        {programma::decision_scores(train, two_kernels, {{}, {}}, train, {{1, Combine::last}}).error(),
         {ErrorKind::invalid_argument, "recognisers scored together must share their kernel"}},
        {programma::samples_from_memory(nullptr, nullptr, 0, 3).error(),
         {ErrorKind::invalid_argument, "a sample set needs at least one row and one feature"}},
        {programma::train(train, r, nullptr, no_thread).error(),
         {ErrorKind::invalid_argument, "the engine needs at least one thread"}},
        {programma::train(train, r, nullptr, {}, std::vector<uint32_t>{1, 0}).error(),
         {ErrorKind::invalid_argument, "the order holds 2 rows, the training set 2000"}},
        {programma::decision_scores(train, r, {0}, train, Combine::vote, nullptr, {}, std::vector<uint32_t>(2000, 4))
             .error(),
         {ErrorKind::invalid_argument, "the order is not a permutation of the training rows"}},
        {programma::restore_list(dir.file("list"), 7).error(),
         {ErrorKind::bad_data, dir.file("list") + ": entry 2 (index 7) names no row of the 7-row training set",
          dir.file("list")}},
        {programma::restore_list(dir.file("none"), 7).error(),
         {ErrorKind::input_output, dir.file("none") + ": cannot open: No such file or directory", dir.file("none"), 0,
          ENOENT}},
        {programma::read_samples(dir.file("set")).error(),
         {ErrorKind::bad_data, dir.file("set") + ":3: 'x' is not a number", dir.file("set"), 3}},
        {programma::save_list(dir.file("none/saved"), {3}).error(),
         {ErrorKind::input_output, dir.file("none/saved") + ": cannot save: No such file or directory",
          dir.file("none/saved"), 0, ENOENT}},
        {programma::save_list("", {3}).error(), {ErrorKind::invalid_argument, "cannot save: the file name is empty"}},
        // (The values read, programma's through these functions, are the run matrix's rows.)
        {programma::parse_kernel("poly").error(), {ErrorKind::invalid_argument, "'poly' is no kernel: pol or gauss"}},
        {programma::parse_epochs("-1").error(),
         {ErrorKind::invalid_argument, "'-1' is not a count of epochs from 0 to 2147483647"}},
        {programma::parse_margin("0.5x").error(), {ErrorKind::invalid_argument, "'0.5x' is not a number"}},
    };
    EXPECT_EQ(programma::parse_margin("-2.5e-1").value(), -0.25f);
    EXPECT_EQ(programma::parse_margin("1e39").value(), INFINITY);
    for (const char* refused : {"", " 1", "abc", "1 "}) EXPECT_FALSE(programma::parse_margin(refused).ok()) << refused;
    for (const auto& [error, expected] : cases) expect_error(error, expected);

    EXPECT_EQ(programma::restore_list(dir.file("list"), 8).value(), (std::vector<int32_t>{0, 7}));
    ASSERT_TRUE(programma::save_list(dir.file("saved"), {3, 1}).ok());
    EXPECT_EQ(read_text(dir.file("saved")), "3\n1\n");
}

template <typename T>
std::optional<ErrorKind> kind_of(const programma::Result<T>& result) {
    return result ? std::nullopt : std::optional(result.error().kind);
}

TEST(Api, NoExceptionLeavesACallWhateverTheSizes) {
    const float value = 1, label = 0;
    const SampleSet one = programma::samples_from_memory(&value, &label, 1, 1).value();
    const Recogniser longest{0, {KernelKind::gaussian, 1.0f}, 2147483647};
    const std::string digits(100000, '9');
    const std::optional<ErrorKind> none;
    const std::pair<std::optional<ErrorKind>, std::optional<ErrorKind>> calls[] = {
        // expected, got
        {ErrorKind::out_of_memory, kind_of(programma::samples_from_memory(&value, &label, 1ull << 31, 1ull << 31))},
        {ErrorKind::invalid_argument, kind_of(programma::samples_from_memory(&value, &label, SIZE_MAX, 1))},
        {ErrorKind::invalid_argument, kind_of(programma::samples_from_memory(nullptr, nullptr, 1, 1))},
        {none, kind_of(programma::decision_scores(one, longest, {}, one, {{2147483647, Combine::vote}}))},
        {ErrorKind::invalid_argument,
         kind_of(programma::decision_scores(one, longest, {}, one, {{~0u, Combine::vote}}))},
        {ErrorKind::invalid_argument, kind_of(programma::decision_sums(one, longest, {INT32_MAX, INT32_MIN}, one))},
        {ErrorKind::bad_data, kind_of(programma::parse_list(digits, 0, "l"))},
        {ErrorKind::input_output, kind_of(programma::read_samples("/" + std::string(5000, 'x')))},
        {ErrorKind::invalid_argument, kind_of(programma::train(one, {0, {KernelKind(9), 1.0f}, 0}))},
        {none, kind_of(programma::test(one, longest, {0, 0}, one))},
    };
    for (std::size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i].second, calls[i].first) << i;
    EXPECT_EQ(programma::best_of(nullptr, 0), 0u);
    EXPECT_TRUE(std::isinf(programma::error_fraction(~0u, 0)) && std::isinf(programma::kernel_parameter(-1e300)));
}

TEST(Api, OneCheckRefusesARecognisersSettingsNamingTheField) {
    const float nan = NAN, inf = INFINITY;
    const struct {
        Recogniser recogniser;
        const char* field;  // "" when accepted
        const char* detail;
    } cases[] = {
        {{0, {KernelKind::gaussian, 3.0f}, 2147483647}, "", ""},
        {{0, {KernelKind::polynomial, 1e-30f}, 0}, "", ""},
        {{0, {KernelKind::gaussian, nan}, 2},
         "kernel.parameter",
         "the gaussian constant must be finite and above 0, not nan"},
        {{0, {KernelKind::gaussian, -inf}, 2},
         "kernel.parameter",
         "the gaussian constant must be finite and above 0, not -inf"},
        {{0, {KernelKind::gaussian, 0.0f}, 2},
         "kernel.parameter",
         "the gaussian constant must be finite and above 0, not 0"},
        {{0, {KernelKind::polynomial, -5.0f}, 2},
         "kernel.parameter",
         "the polynomial degree must be finite and above 0, not -5"},
        {{0, {KernelKind(7), 3.0f}, 2}, "kernel.kind", "7 names no kernel kind"},
        {{0, {KernelKind::gaussian, 3.0f}, 2, -0.0f}, "", ""},
        {{0, {KernelKind::gaussian, 3.0f}, 2, 0.5f}, "", ""},
        {{0, {KernelKind::gaussian, 3.0f}, 2, nan}, "margin", "the margin must be finite and not below 0, not nan"},
        {{0, {KernelKind::gaussian, 3.0f}, 2, inf}, "margin", "the margin must be finite and not below 0, not inf"},
        {{0, {KernelKind::gaussian, 3.0f}, 2, -1.0f}, "margin", "the margin must be finite and not below 0, not -1"},
        {{0, {KernelKind::gaussian, 3.0f}, 2147483648u}, "epochs", "2147483648 epochs are more than 2147483647"},
    };
    for (const auto& c : cases) {
        const programma::Status checked = programma::check(c.recogniser);
        EXPECT_EQ(checked.ok(), *c.field == '\0') << c.detail;
        if (checked) continue;
        EXPECT_EQ(checked.error().kind, ErrorKind::invalid_argument);
        EXPECT_EQ(checked.error().field, c.field);
        EXPECT_EQ(checked.error().message(), c.detail);
    }
    // Every call that trains or scores checks first.
    const float values[] = {1, 2}, labels[] = {0, 1};
    const SampleSet set = programma::samples_from_memory(values, labels, 2, 1).value();
    EXPECT_EQ(programma::train(set, cases[2].recogniser).error().field, "kernel.parameter");
    EXPECT_EQ(programma::decision_sums(set, cases[4].recogniser, {}, set).error().field, "kernel.parameter");
}

TEST(Api, ConcurrentCallsKeepTheirOwnOptions) {
    std::mt19937 random(8);
    const SampleSet train = random_set(random, 600);
    std::mutex mutex;
    std::vector<unsigned> recorded;
    programma::set_call_hook([&](const programma::EngineOptions& options) {
        const std::lock_guard<std::mutex> lock(mutex);
        recorded.push_back(options.threads);
    });
    std::vector<std::vector<int32_t>> lists(2);
    std::vector<std::thread> callers;
    for (unsigned threads : {1u, 2u}) {
        callers.emplace_back([&, threads] {
            programma::EngineOptions options;
            options.threads = threads;
            options.widest = threads == 1 ? programma::VectorLevel::scalar : programma::VectorLevel::avx512;
            lists[threads - 1] =
                programma::train(train, Recogniser{2, {KernelKind::gaussian, 0.5f}, 3}, nullptr, options)
                    .value()
                    .mistakes;
        });
    }
    for (std::thread& caller : callers) caller.join();
    programma::set_call_hook({});
    std::sort(recorded.begin(), recorded.end());
    EXPECT_EQ(recorded, (std::vector<unsigned>{1, 2}));
    EXPECT_EQ(lists[0], lists[1]);
}

}  // namespace
