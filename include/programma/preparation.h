// Preparing a user's own data for training: each feature mapped linearly
// onto a range learned from the training set (and the range file that
// LIBSVM's svm-scale reads and writes), the gaussian constant taken from the
// data, folds for cross-validation, a seeded order of the rows, and the test
// of whether a training set comes in long runs of one label. Plain records
// in, results or typed errors (programma/error.h) out; nothing is printed.
//
// Arithmetic: samples, bounds and ranges are floats; every map, mean and
// variance is computed in double, in the order written below, and rounded to
// float once at the end, so that every caller gets the same floats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "programma/api.h"
#include "programma/error.h"

namespace programma {

// One feature's least and greatest value in the training set. A feature
// with no spread (min == max: constant; or both NaN: no value known) maps
// every value to the middle of the bounds.
struct FeatureRange {
    float min = 0.0f;
    float max = 0.0f;
    bool spread() const { return min < max; }
};

// The ranges of a training set's features, and the bounds they map onto.
// features[f] is feature f + 1 of the range file; a feature beyond the last
// has no spread.
struct FeatureRanges {
    float lower = -1.0f;
    float upper = 1.0f;
    std::vector<FeatureRange> features;
};

// The one check of ranges, made by every call below that takes them: the
// bounds finite, lower below upper; each feature's min and max finite with
// min <= max, or both NaN. An invalid-argument error whose field names the
// member ("lower", "upper", "features") otherwise.
Status check(const FeatureRanges& ranges);

// Each feature's least and greatest value over the training rows, NaN left
// out (a feature of NaN alone gets NaN for both), and the bounds given.
// Refused: bounds that fail check(), a set of no row, and an infinite value
// (a bad-data error naming its row, counted from 0, and feature, from 1).
Result<FeatureRanges> feature_ranges(const SampleSet& training, float lower = -1.0f, float upper = 1.0f);

// One value of feature `feature` (counted from 0) mapped, in double from the
// floats x, min, max, lower and upper, then rounded once to float:
//   x NaN                      NaN
//   no spread                  (lower + upper) / 2
//   x == min, x == max         lower, upper
//   otherwise                  lower + ((upper - lower) * (x - min)) / (max - min)
// so a value beyond the training range maps beyond the bounds.
float scaled_feature(const FeatureRanges& ranges, std::size_t feature, float value);

// Every feature of every row mapped by scaled_feature; labels kept.
// Refused: ranges that fail check(), or that name more features than the
// samples have.
Result<SampleSet> apply_ranges(const FeatureRanges& ranges, const SampleSet& samples);

// The range file of LIBSVM's svm-scale: a line "x", a line "LOWER UPPER",
// then a line "INDEX MIN MAX" for each feature with spread, indices from 1
// in ascending order; every number as "%.17g" prints it (the float exactly).
// Features without spread are left out, as svm-scale leaves them out.
Result<std::string> ranges_text(const FeatureRanges& ranges);

// Reads that text. Numbers are read as strtof reads them, each a whole
// token; blank lines and a carriage return before a newline are skipped.
// Refused with a bad-data error naming `path` and the line: a first line
// other than "x" (a "y" section, svm-scale's label scaling, among them:
// labels are never scaled), bounds that fail check(), an index that is not
// a whole number from 1 to 16777216 or not above the one before, a min or
// max that is not a finite float, min above max, and a line of another
// count of numbers. A feature the file does not name gets NaN for both.
Result<FeatureRanges> parse_ranges(std::string_view text, const std::string& path);

// Reads and parses a range file (an input/output error with its errno when
// the file cannot be read).
Result<FeatureRanges> read_ranges(const std::string& path);

// Saves ranges_text(ranges) with save_list's safe save: the old file is
// replaced only once every byte of the new one is written.
Status save_ranges(const std::string& path, const FeatureRanges& ranges);

// The gaussian constant from the data: c = features x the population
// variance of every feature value of every row. In double: the sum of the
// values, row by row and feature by feature, over their count gives the
// mean; the sum of each squared difference from the mean, in the same
// order, over the count gives the variance; features x variance is rounded
// once to float. A variance of 0 or one that is not finite (NaN or an
// infinity in the data, a set of no row), or a product that is not a
// positive finite float, gives 1.
float scale_constant(const SampleSet& training);

// The rows in a seeded order: order[p] is the row at position p. From the
// identity, for i from rows down to 2, position i - 1 swaps with position
// x % i, x the next number of std::mt19937_64 seeded with `seed`: the same
// order on every machine.
std::vector<uint32_t> seeded_order(uint32_t rows, uint64_t seed);

// Folds for cross-validation over the rows taken in `order` (a permutation
// of the rows: order[p] is the row at position p): fold_of[row], from 0 to
// folds - 1. Contiguous: fold f takes positions floor(f n / folds) to
// floor((f + 1) n / folds) - 1 of the n. Stratified: fold f takes the rows
// whose place among the earlier positions of their own label (labels[row],
// compared as reals, every NaN one label) is f modulo folds. Refused (an
// invalid-argument error, field "folds" or "order"): fewer than 2 folds, a
// fold that would hold no row, an order that is not a permutation of the
// rows (of labels.size() rows for stratified folds).
Result<std::vector<uint32_t>> contiguous_folds(const std::vector<uint32_t>& order, uint32_t folds);
Result<std::vector<uint32_t>> stratified_folds(const std::vector<float>& labels, const std::vector<uint32_t>& order,
                                               uint32_t folds);

// Whether labels, in training order, come in long runs of one label: the
// places where a label differs from the one before, against the
// (n - 1)(1 - sum of p^2) a random order gives on average, p each label's
// share of the n rows. In double: each p = count / n, their squares summed
// in the order the labels first appear. long_runs: changes < expected / 4.
struct LabelRuns {
    uint64_t changes = 0;
    double expected = 0.0;
    bool long_runs = false;
};

LabelRuns label_runs(const std::vector<float>& labels);

}  // namespace programma
