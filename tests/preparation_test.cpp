// The library's data preparation on worked examples: the scaling formula in
// double (128 of 0..255 gives 0.003921569 in double, 0.003921628 in float),
// ranges learned, written, read back and refused with their line, the
// constant from the data, the seeded order, both kinds of folds, and the
// long-runs test.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <limits>

#include "programma/preparation.h"
#include "support.h"

namespace {

using programma::FeatureRange;
using programma::FeatureRanges;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

programma::SampleSet set_of(const std::vector<std::vector<float>>& rows) {
    std::vector<float> values;
    for (const auto& row : rows) values.insert(values.end(), row.begin(), row.end());
    const std::vector<float> labels(rows.size(), 7.0f);
    return programma::samples_from_memory(values.data(), labels.data(), rows.size(), rows[0].size()).value();
}

bool same_float(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

TEST(Preparation, EachValueMapsByTheFormulaInDouble) {
    const FeatureRanges pixels{-1.0f, 1.0f, {{0.0f, 255.0f}, {5.0f, 5.0f}, {kNaN, kNaN}}};
    const FeatureRanges unit{0.0f, 1.0f, {{0.0f, 255.0f}, {5.0f, 5.0f}}};
    const struct {
        const FeatureRanges& ranges;
        std::size_t feature;
        float value, expected;
    } cases[] = {
        {pixels, 0, 0.0f, -1.0f},        {pixels, 0, 255.0f, 1.0f},  {pixels, 0, 128.0f, 0.003921569f},
        {pixels, 0, 300.0f, 1.3529412f}, {pixels, 0, -51.0f, -1.4f}, {pixels, 0, kNaN, kNaN},
        {pixels, 1, 9.0f, 0.0f},         {pixels, 2, 3.0f, 0.0f},    {pixels, 3, 3.0f, 0.0f},
        {unit, 0, 51.0f, 0.2f},          {unit, 1, 5.0f, 0.5f},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(same_float(programma::scaled_feature(c.ranges, c.feature, c.value), c.expected))
            << c.feature << " " << c.value;
    }
}

TEST(Preparation, RangesAreLearnedWrittenAndReadBack) {
    const FeatureRanges learned =
        programma::feature_ranges(set_of({{1, kNaN, 5}, {-2, kNaN, 5}, {3, kNaN, 5}}), 0.0f, 0.1f).value();
    EXPECT_TRUE(std::isnan(learned.features[1].max));
    EXPECT_FALSE(learned.features[2].spread());
    // Features without spread are left out, and come back unknown.
    EXPECT_EQ(programma::ranges_text(learned).value(), "x\n0 0.10000000149011612\n1 -2 3\n");
    TempDir dir;
    ASSERT_TRUE(programma::save_ranges(dir.file("r"), learned).ok());
    const FeatureRanges back = programma::read_ranges(dir.file("r")).value();
    EXPECT_TRUE(back.upper == 0.1f && back.features.size() == 1 && back.features[0].min == -2.0f);
    EXPECT_EQ(programma::read_ranges(dir.file("none")).error().error_number, ENOENT);
    EXPECT_EQ(programma::parse_ranges("x\r\n\n-1 +1\n3 -0.5 2\n", "r").value().features[2].min, -0.5f);

    const auto infinite = programma::feature_ranges(set_of({{1, 2}, {3, -INFINITY}}));
    EXPECT_EQ(infinite.error().message(), "row 1 (counted from 0), feature 2: an infinite value has no range");
    EXPECT_EQ(programma::apply_ranges(learned, set_of({{1}})).error().field, "features");
}

TEST(Preparation, DamagedRangeFilesAreRefusedWithTheirLine) {
    const struct {
        std::string text, message;
    } cases[] = {
        {"", "r: holds no 'x' line: it is not a range file"},
        {"x\n", "r: ends before its bounds line, LOWER UPPER"},
        {"y\n0 1\n0 9\nx\n-1 1\n", "r:1: scales labels (a 'y' section), which is not offered"},
        {"x\n1 -1\n", "r:2: the lower bound must be below the upper one"},
        {"x\n-1 1\n0 0 1\n", "r:3: the index '0' is not a whole number from 1 to 16777216"},
        {"x\n-1 1\n2 0 1\n\n2 0 1\n", "r:5: indices must ascend, 2 does not"},
        {"x\n-1 1\n1 0 1e39\n", "r:3: MAX '1e39' is not a finite float"},
        {"x\n-1 1\n1 1 0\n", "r:3: MIN is above MAX"},
        {"x\n-1 1\n1 0\n", "r:3: expected INDEX MIN MAX, three numbers"},
    };
    for (const auto& c : cases) {
        const auto parsed = programma::parse_ranges(c.text, "r");
        ASSERT_FALSE(parsed.ok()) << c.text;
        EXPECT_EQ(parsed.error().kind, programma::ErrorKind::bad_data);
        EXPECT_TRUE(parsed.error().message().starts_with(c.message)) << parsed.error().message();
    }
    for (const FeatureRanges& bad :
         {FeatureRanges{-INFINITY, 1, {}}, FeatureRanges{-1, 1, {{2, 1}}}, FeatureRanges{-1, 1, {{kNaN, 1}}}})
        EXPECT_FALSE(programma::check(bad).ok());
}

TEST(Preparation, ConstantIsFeaturesTimesTheVarianceOrOne) {
    EXPECT_EQ(programma::scale_constant(set_of({{1, 3}, {5, 7}})), 10.0f);  // mean 4, variance 20 / 4
    EXPECT_EQ(programma::scale_constant(set_of({{2, 2}, {2, 2}})), 1.0f);
    EXPECT_EQ(programma::scale_constant(set_of({{1, kNaN}, {5, 7}})), 1.0f);
    EXPECT_EQ(programma::scale_constant(set_of({{0}, {1e30f}})), 1.0f);  // beyond the float range
}

TEST(Preparation, FoldsByRuleInTheOrderGiven) {
    const std::vector<float> labels = {0, 0, 0, 1, 1, 1, 1};
    const std::vector<uint32_t> files = {0, 1, 2, 3, 4, 5, 6}, reversed = {6, 5, 4, 3, 2, 1, 0};
    using Folds = std::vector<uint32_t>;
    EXPECT_EQ(programma::stratified_folds(labels, files, 3).value(), (Folds{0, 1, 2, 0, 1, 2, 0}));
    EXPECT_EQ(programma::stratified_folds(labels, reversed, 3).value(), (Folds{2, 1, 0, 0, 2, 1, 0}));
    EXPECT_EQ(programma::contiguous_folds(files, 3).value(), (Folds{0, 0, 1, 1, 2, 2, 2}));
    EXPECT_EQ(programma::contiguous_folds(reversed, 3).value(), (Folds{2, 2, 2, 1, 1, 0, 0}));
    EXPECT_EQ(programma::stratified_folds({-0.0f, 0.0f, kNaN, kNaN}, {0, 1, 2, 3}, 2).value(), (Folds{0, 1, 0, 1}));
    EXPECT_EQ(programma::stratified_folds(labels, files, 5).error().message(),
              "fold 5 of 5 would hold no row: no label has more than 4 rows");
    EXPECT_EQ(programma::contiguous_folds(files, 8).error().field, "folds");
    EXPECT_EQ(programma::stratified_folds(labels, {0, 1, 2, 3, 4, 5, 5}, 2).error().field, "order");
    // The documented shuffle, pinned: the same seed gives this order everywhere.
    EXPECT_EQ(programma::seeded_order(6, 7), (Folds{5, 1, 4, 2, 0, 3}));
}

TEST(Preparation, LongRunsOfOneLabelAreFound) {
    std::vector<float> sorted(40), alternating(40);
    for (std::size_t i = 0; i < 40; ++i) sorted[i] = i < 20 ? 0 : 1, alternating[i] = float(i % 2);
    const struct {
        std::vector<float> labels;
        uint64_t changes;
        double expected;
        bool long_runs;
    } cases[] = {{{0, 0, 1, 1}, 1, 1.5, false},
                 {sorted, 1, 19.5, true},
                 {alternating, 39, 19.5, false},
                 {{3, 3, 3}, 0, 0.0, false},
                 {{7}, 0, 0.0, false}};
    for (const auto& c : cases) {
        const programma::LabelRuns runs = programma::label_runs(c.labels);
        EXPECT_EQ(runs.changes, c.changes);
        EXPECT_EQ(runs.expected, c.expected);
        EXPECT_EQ(runs.long_runs, c.long_runs);
    }
}

}  // namespace
