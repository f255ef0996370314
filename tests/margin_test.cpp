// Training with a margin: the rule on worked cases; the reference at margin 0
// against run; the epoch rule and the prefix weights on lists made with
// margins; and training side by side on the engine against each job trained
// alone, by the reference and by the engine, at every vector level and
// thread count, on random data with special values and on the shipped set.
#include <gtest/gtest.h>

#include <limits>
#include <numeric>
#include <random>
#include <string>

#include "engine_settings.h"
#include "fast_perceptron.h"
#include "perceptron_lib.h"
#include "random_samples.h"
#include "support.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

TEST(MarginRule, ARowJoinsWhenWrongOrTooClose) {
    struct Case {
        float sum;
        int32_t label;
        float margin, self;
        bool joins;
    };
    const Case cases[] = {
        {0.0f, -1, 0.0f, 1.0f, true},     // +0 answers +1: a mistake, whatever the margin
        {0.0f, 1, 0.0f, 1.0f, false},     // right, and margin 0 asks no more
        {-0.0f, 1, 0.0f, 1.0f, false},    // -0 answers +1 too
        {0.0f, 1, 0.5f, 1.0f, true},      // an empty list's sum is 0: too close
        {0.3f, 1, 0.5f, 1.0f, true},      // right but too close
        {0.3f, 1, 0.5f, 0.5f, false},     // the bound scales with the row's own value
        {-0.3f, -1, 0.5f, 1.0f, true},    // the sum is signed by the label
        {-0.3f, -1, -0.0f, 1.0f, false},  // -0 is margin 0
        {0.5f, 1, 0.1f, 5.0f, false},     // 0.1f * 5 rounds to 0.5 in float, above it in double
        {kNaN, 1, 1.0f, 1.0f, false},     // a NaN sum answers +1 and compares false
        {kNaN, -1, 1.0f, 1.0f, true},     // but it is wrong for a row labelled -1
        {0.3f, 1, kNaN, 1.0f, false},     // a NaN margin asks nothing
        {0.3f, 1, 1.0f, kNaN, false},     // nor does a NaN self value (a row holding a NaN or an infinity)
        {0.3f, 1, 1.0f, kInf, true},      // an infinite bound catches every finite sum
    };
    for (const Case& c : cases) {
        EXPECT_EQ(joins_list(c.sum, c.label, c.margin, c.self), c.joins)
            << c.sum << ' ' << c.label << ' ' << c.margin << ' ' << c.self;
    }
}

bool same(const TrainedList& a, const TrainedList& b) { return a.list == b.list && same_bits(a.error, b.error); }

TrainedList reference(const SampleMatrix& set, KernelSpec ker, TrainingJob job) {
    TrainedList t;
    std::unique_ptr<IndexList> list;
    EXPECT_EQ(run_margin(job.epochs, job.digit, ker, job.margin, list, set, set.columns, set.rows, t.error), 0);
    read_list(t.list, list.get());
    return t;
}

const KernelSpec kKernels[] = {{KernelKind::gaussian, 0.7f}, {KernelKind::polynomial, 2.0f}};

TEST(MarginTraining, AtMarginZeroTheReferenceIsRun) {
    std::mt19937 random(31);
    for (const KernelSpec ker : kKernels) {
        const SampleMatrix set = random_set(random, 150, 7, true, 0.4f);
        TrainedList plain;
        std::unique_ptr<IndexList> list;
        stdout_of([&] { run(3, 2, ker, list, set, set.columns, set.rows, plain.error); });
        read_list(plain.list, list.get());
        for (const float zero : {0.0f, -0.0f}) {
            TrainedList margin;
            EXPECT_EQ(stdout_of([&] { margin = reference(set, ker, {2, 3, zero}); }), "");
            EXPECT_TRUE(same(margin, plain)) << int(ker.kind);
        }
    }
}

// A list made in `epochs` epochs begins with the list of each shorter
// training, and entries_within and prefix_weights find where each ends.
TEST(MarginTraining, ListsMadeWithAMarginKeepTheEpochRule) {
    std::mt19937 random(37);
    constexpr uint32_t kEpochs = 4;
    for (const KernelSpec ker : kKernels) {
        const SampleMatrix set = random_set(random, 120, 5, false, 0.5f);
        for (const float margin : {0.0f, 0.25f, 1.0f, 3.0f}) {
            const TrainedList longest = reference(set, ker, {1, kEpochs, margin});
            const auto count = uint32_t(longest.list.size());
            std::vector<uint64_t> weights;
            uint32_t needed = 0;
            ASSERT_TRUE(prefix_weights(longest.list.data(), count, set.rows, kEpochs, weights, needed));
            EXPECT_EQ(std::accumulate(weights.begin(), weights.end(), uint64_t(0)), uint64_t(kEpochs) * set.rows);
            for (uint32_t epochs = 1; epochs <= kEpochs; ++epochs) {
                const TrainedList shorter = reference(set, ker, {1, epochs, margin});
                const uint32_t within = entries_within(longest.list.data(), count, epochs);
                ASSERT_EQ(within, shorter.list.size()) << margin << ' ' << epochs;
                EXPECT_TRUE(std::equal(shorter.list.begin(), shorter.list.end(), longest.list.begin()));
                EXPECT_TRUE(prefix_weights(longest.list.data(), within, set.rows, epochs, weights, needed));
                EXPECT_EQ(prefix_weights(longest.list.data(), count, set.rows, epochs, weights, needed),
                          within == count);
            }
        }
    }
}

class SideBySide : public ::testing::Test {
protected:
    const EngineSettings defaults;

    // Every job trained together at each vector level and thread count, in
    // tiles of the most rows, of some, and of the fewest (the cache budget
    // bounds a tile's values), gives `alone[k]` for job k.
    void expect_together(KernelSpec ker, const SampleMatrix& set, const std::vector<TrainingJob>& jobs,
                         const std::vector<TrainedList>& alone) {
        const std::pair<unsigned, std::size_t> machines[] = {{1, defaults.cache_bytes}, {3, 64 << 10}, {2, 0}};
        for (const VectorLevel level : {VectorLevel::scalar, VectorLevel::avx2, VectorLevel::avx512}) {
            for (const auto& [threads, cache] : machines) {
                EngineSettings settings;
                settings.widest = level;
                settings.threads = threads;
                settings.cache_bytes = cache;
                std::vector<std::size_t> finished;
                const std::vector<TrainedList> together = train_together(ker, jobs, set, set.columns, settings, nullptr,
                                                                         [&](std::size_t k) { finished.push_back(k); });
                ASSERT_EQ(together.size(), jobs.size());
                EXPECT_EQ(finished.size(), jobs.size());
                for (std::size_t k = 0; k < jobs.size(); ++k) {
                    EXPECT_TRUE(same(together[k], alone[k]))
                        << "job " << k << ", " << vector_level_name(level) << ", " << threads << " threads";
                }
            }
        }
    }
};

// Random sets, some with NaNs, infinities and subnormals, over several tiles
// of rows; jobs of several digits, margins and epoch counts at once.
TEST_F(SideBySide, EachListIsTheReferencesAlone) {
    std::mt19937 random(41);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        const KernelSpec ker = kKernels[round % 2];
        const SampleMatrix set = random_set(random, 200 + random() % 300, 1 + random() % 20, round % 3 == 2, 0.3f);
        std::vector<TrainingJob> jobs;
        std::vector<TrainedList> alone;
        for (uint32_t digit = 0; digit < 4; ++digit) {
            for (const float margin : {0.0f, 0.5f, 2.0f}) {
                jobs.push_back({digit, uint32_t(random() % 4), margin});
                alone.push_back(reference(set, ker, jobs.back()));
            }
        }
        expect_together(ker, set, jobs, alone);
    }
}

// The shipped training set: ten digits at three margins trained together, each
// as the engine trains it alone and, for two digits, as the reference does.
TEST_F(SideBySide, TheShippedSetsTenDigitsAtSeveralMargins) {
    Dims dims;
    SampleMatrix set;
    const std::string path = std::string(PROGRAMMA_SOURCE_DIR) + "/Data/Training_set";
    ASSERT_EQ(line_counter(path.c_str(), dims), 0);
    ASSERT_EQ(read_file(set, dims.columns, dims.rows, path.c_str()), 0);
    const KernelSpec ker{KernelKind::gaussian, 30.0f};
    std::vector<TrainingJob> jobs;
    std::vector<TrainedList> alone;
    for (const float margin : {0.0f, 0.5f, 1.0f}) {
        for (uint32_t digit = 0; digit < 10; ++digit) {
            jobs.push_back({digit, 3, margin});
            alone.push_back(train_together(ker, {jobs.back()}, set, set.columns, defaults).front());
            EXPECT_TRUE(digit % 5 != 3 || same(reference(set, ker, jobs.back()), alone.back())) << digit;
        }
    }
    expect_together(ker, set, jobs, alone);
}

}  // namespace
