// `tune`: k-fold cross-validation of classify's recogniser over a grid of
// kernels, parameters, margins, epochs and combiners (a default grid for each
// list left out). One training per (kernel, parameter, margin, fold) serves
// every epoch count and combiner of the grid: a list after e epochs is a
// prefix of the list after more, and the library scores every prefix in one
// pass. The margins of one kernel, parameter and fold are trained side by
// side, sharing their kernel values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "arguments.h"
#include "gnuplot.h"
#include "programma/api.h"
#include "programma/model.h"

// The grid: each list starts as its default, taken for an option left out
// (one line each).
struct TuneOptions {
    std::vector<programma::KernelKind> kernels{programma::KernelKind::gaussian};
    std::vector<ConstantChoice> constants{{true, 0.25f}, {true, 0.5f}, {true, 1.0f}, {true, 2.0f}, {true, 4.0f}};
    std::vector<float> degrees{2.0f, 3.0f, 4.0f, 5.0f};  // of the polynomial kernel
    std::vector<uint32_t> epochs{1, 2, 5, 10};
    std::vector<float> margins{0.0f, 0.5f, 1.0f, 2.0f};
    std::vector<programma::Combine> combines{programma::Combine::last, programma::Combine::average,
                                             programma::Combine::vote};
    uint32_t folds = 5;
    bool in_order = false;            // contiguous folds over the training order, not stratified ones
    std::optional<uint64_t> shuffle;  // the seed of the training order, if any
    std::string training_set = kDefaultTrainingSet;
    std::string test_set;  // when given, the best setting is tested on it
    bool csv = false;
    std::string plot;         // PNG heat map of error against parameter and epochs
    std::string ranges;       // saved ranges applied to the training and test rows first, or empty
    bool make_model = false;  // train the best setting on every training row, for its model
};

// Wrong answers among some rows.
struct Share {
    uint64_t wrong = 0;
    uint64_t rows = 0;
    double value() const { return double(wrong) / double(rows); }
};

// One setting of the grid and its cross-validated error.
struct TuneRow {
    programma::KernelSpec kernel;
    float margin = 0.0f;
    uint32_t epochs = 0;
    programma::Combine combine = programma::Combine::last;
    Share all;      // over all folds
    Share lowest;   // the fold of the lowest error
    Share highest;  // the fold of the highest error
};

struct TuneResult {
    std::vector<TuneRow> rows;           // in the grid's order
    std::size_t best = 0;                // the lowest error, the earlier row on a tie
    bool margins = false;                // a margin above 0 in the grid: the reports name each row's
    std::vector<float> constants;        // the gaussian constants, `-c scale` worked out
    std::optional<float> data_constant;  // when a constant comes from the data
    std::optional<uint32_t> test_wrong;  // the best setting on the test set
    uint32_t test_rows = 0;
    std::optional<programma::Model> model;  // the best setting trained on every training row
};

// Each row's fold: stratified over the training order (each label's rows
// dealt out in turn), or with `in_order` contiguous shares of it. Throws
// naming the training set when the folds cannot be cut.
std::vector<uint32_t> folds_of(const programma::SampleSet& set, const std::vector<uint32_t>& order,
                               const TuneOptions& options);

// Runs the grid; throws std::runtime_error on bad data (labels that are not
// whole numbers, a fold that trains on one label, more folds than rows, a
// bad test set, all found before any training) and std::invalid_argument
// on a bad grid. With make_model, the best setting is then trained on every
// training row in the training order, and its model kept.
TuneResult tune(const TuneOptions& options);

// The table of every setting (Markdown or CSV), then the best setting and,
// when tested, its test error. A margin column, and the best setting's
// --margin, only when the grid has a margin above 0.
std::string tune_report(const TuneResult& result, bool csv);

// The best setting's kernel, margin and combiner: cross-validated error (%)
// against the constant or degree (rows) and the epochs (columns).
HeatMap tune_map(const TuneResult& result, const TuneOptions& options);
