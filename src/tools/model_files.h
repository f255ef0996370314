// What classify, tune and predict share about model files: the model of a
// training of label recognisers, the --scores table, saved ranges given
// with --ranges, and the report of how a labelled test set was answered.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "labels.h"
#include "programma/model.h"
#include "text.h"

// The model of recognisers trained on `made.training` in `order` (empty:
// file order), one a label, their lists as trained: integer labels, one
// recogniser a label, the ranges the rows were scaled with (if any).
struct LabelTraining {
    const LabelRecognisers* made = nullptr;
    const Labels* labels = nullptr;
    const std::vector<std::vector<int32_t>>* lists = nullptr;
    const std::vector<uint32_t>* order = nullptr;
    std::optional<uint64_t> shuffle;
    programma::Combine combine = programma::Combine::last;
    std::optional<programma::FeatureRanges> ranges;
};
programma::Model label_model(const LabelTraining& training);

// The --scores table: a header of the labels' texts (quoted as CSV quotes
// them where need be), then a line a row of its score for each label, each
// by "%.17g" so that it reads back as the same double.
std::string scores_csv(const std::vector<std::string>& labels, const std::vector<std::vector<double>>& by_row);

// The same scores turned from [label][row] into [row][label].
std::vector<std::vector<double>> by_row(const std::vector<std::vector<double>>& by_label);

// The texts of whole-number labels, as label_text writes them.
std::vector<std::string> label_texts(const Labels& labels);

// Ranges given with --ranges: read from `path`, and refused when they name
// a feature beyond the `features` of the rows of `rows_file`.
programma::FeatureRanges saved_ranges(const std::string& path, uint32_t features, const std::string& rows_file);

// Rows mapped by the ranges (labels kept); a refusal names `rows_file`.
programma::SampleSet scaled_rows(const programma::FeatureRanges& ranges, const programma::SampleSet& rows,
                                 const std::string& rows_file);

// How a labelled test set was answered, by the labels' texts.
struct TestTally {
    std::vector<std::string> answers;         // the labels that answer: the confusion table's columns
    std::vector<std::string> truths;          // the true labels of either set: its rows
    std::vector<std::vector<uint32_t>> rows;  // [truth][answer]
    uint32_t wrong = 0;
    uint32_t tested = 0;
};

// "digit" where every label of the tally is one of 0 to 9, else "label".
const char* tally_noun(const TestTally& tally);

// The test error line, a blank line and the confusion table, as Markdown.
std::string tally_markdown(const TestTally& tally);

// The test columns of the CSV report: a header (test_rows, test_wrong,
// test_error_percent, answered_LABEL ...), a row for each truth, then the
// totals.
TableRows tally_csv(const TestTally& tally);
