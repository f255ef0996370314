// `tune`: k-fold cross-validation of classify's recogniser over a grid of
// kernels, parameters, margins, epochs and combiners. One training per
// (kernel, parameter, margin, fold) serves every epoch count and combiner of
// the grid: a list after e epochs is a prefix of the list after more, and
// the library scores every prefix in one pass. The margins of one kernel,
// parameter and fold are trained side by side, sharing their kernel values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "arguments.h"
#include "gnuplot.h"
#include "programma/api.h"

struct TuneOptions {
    std::vector<programma::KernelKind> kernels{programma::kDefaultKernel};
    std::vector<float> constants{programma::kDefaultConstant};  // of the gaussian kernel
    std::vector<float> degrees{programma::kDefaultDegree};      // of the polynomial kernel
    std::vector<uint32_t> epochs{programma::kDefaultEpochs};
    std::vector<float> margins{0.0f};
    std::vector<programma::Combine> combines{programma::Combine::last};
    uint32_t folds = 5;
    std::optional<uint64_t> shuffle;  // the seed of the rows' order, if any
    std::string training_set = kDefaultTrainingSet;
    std::string test_set;  // when given, the best setting is tested on it
    bool csv = false;
    std::string plot;  // PNG heat map of error against parameter and epochs
};

// One setting of the grid and its cross-validated ten-class error.
struct TuneRow {
    programma::KernelSpec kernel;
    float margin = 0.0f;
    uint32_t epochs = 0;
    programma::Combine combine = programma::Combine::last;
    uint64_t wrong = 0;    // over all folds
    double error = 0.0;    // wrong / rows
    double lowest = 0.0;   // the lowest fold error
    double highest = 0.0;  // the highest fold error
};

struct TuneResult {
    std::vector<TuneRow> rows;  // in the grid's order
    std::size_t best = 0;       // the lowest error, the earlier row on a tie
    bool margins = false;       // a margin above 0 in the grid: the reports name each row's
    uint32_t training_rows = 0;
    std::optional<uint32_t> test_wrong;  // the best setting on the test set
    uint32_t test_rows = 0;
};

// The rows of a set in the order its folds cut: file order, or with a seed
// a Fisher-Yates shuffle driven by std::mt19937_64 (row i, from the last
// down, swaps with row rng() % (i + 1)), the same on every machine.
std::vector<uint32_t> fold_order(uint32_t rows, std::optional<uint64_t> seed);

// Fold f of k over n rows: positions floor(f n / k) to floor((f + 1) n / k) - 1.
std::pair<uint32_t, uint32_t> fold_bounds(uint32_t fold, uint32_t folds, uint32_t rows);

// Runs the grid; throws std::runtime_error on bad data (labels that are not
// whole numbers, a fold that trains on one label, more folds than rows, a
// bad test set, all found before any training) and std::invalid_argument
// on a bad grid.
TuneResult tune(const TuneOptions& options);

// The table of every setting (Markdown or CSV), then the best setting and,
// when tested, its test error. A margin column, and the best setting's
// --margin, only when the grid has a margin above 0.
std::string tune_report(const TuneResult& result, bool csv);

// The best setting's kernel, margin and combiner: cross-validated error (%)
// against the constant or degree (rows) and the epochs (columns).
HeatMap tune_map(const TuneResult& result, const TuneOptions& options);
