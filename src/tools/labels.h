// The labels a recogniser tells apart: whole numbers of any size and sign,
// as many as a training set holds, one one-against-the-rest recogniser for
// each. Only a training set's own labels may answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "programma/api.h"

using Labels = std::vector<float>;  // distinct, ascending

// The digits 0 to 9: what lists saved without a record of their labels
// (programma's own, and older manifests) are for.
const Labels& digit_labels();

// Every label of a set, ascending; throws naming the file and the row of a
// label that is not a whole number.
Labels labels_of(const programma::SampleSet& set, const std::string& file);

// The labels of the rows named (already known to be whole numbers).
Labels labels_of_rows(const programma::SampleSet& set, const std::vector<uint32_t>& rows);

// Throws naming `file` unless there are two labels or more to tell apart.
void require_two_labels(const Labels& labels, const std::string& file);

// The position of `label` among `labels`, or labels.size() when it is not there.
std::size_t position_of(const Labels& labels, float label);

// The labels of both, ascending.
Labels joined(const Labels& a, const Labels& b);

// Whether every label is a digit from 0 to 9 (the reports then speak of digits).
bool digits_only(const Labels& labels);

// A label written in full ("-3", "12"), and read back from that form alone.
std::string label_text(float label);
bool parse_label(std::string_view text, float& label);

// A recogniser for each label, all with one kernel, epochs and margin:
// recognisers[i] answers labels[i] against the rest, trained and scored on
// `training` (the training set itself, or a copy whose labels are the
// labels' positions when a label cannot be a recogniser's target: a
// negative one, or one beyond 32 bits).
struct LabelRecognisers {
    programma::SampleSet training;
    std::vector<programma::Recogniser> recognisers;
};
LabelRecognisers label_recognisers(const programma::SampleSet& training, const Labels& labels,
                                   programma::KernelSpec kernel, uint32_t epochs, float margin = 0.0f);

// Each row's answer under each cell, from the recognisers' scores
// (scores[label][cell][row]): the position of the greatest, the smaller
// label on a tie or a NaN. Indexed [cell][row].
std::vector<std::vector<uint32_t>> best_labels(const std::vector<std::vector<std::vector<double>>>& scores,
                                               uint32_t rows);
