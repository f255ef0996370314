// A trained recogniser set that travels: one self-contained text file with
// the settings, the class labels, the support rows (each distinct row that
// some list holds, with its features, label and place in the training
// order) and every list. Scoring from a model needs no training set and
// gives, bit for bit, the scores that the training set and its lists give.
//
// The file, line by line (numbers as std::to_chars writes them, shortest
// form that reads back to the same float; a label's text with "\\", "\n"
// and "\r" escaped):
//   programma-model 1
//   kernel pol|gauss PARAMETER
//   epochs E
//   margin M
//   combine last|average|vote
//   shuffle none|SEED
//   training-rows N
//   features F
//   labels integer|real|text COUNT      then COUNT lines "label TEXT"
//   rule per-label|by-sign
//   ranges none|LINES                   then the range file's LINES lines
//   support S                           then S lines "ROW POSITION LABEL f1 .. fF"
//   lists L                             then L lines "list LABEL COUNT e1 .. eCOUNT"
//   end
// ROW is the row's index in the training set, POSITION its place in the
// training order, LABEL a position in the label lines; list entries are
// training-set row indices, each one of the support rows.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "programma/api.h"
#include "programma/preparation.h"

namespace programma {

// What the labels' texts are: whole numbers, reals, or any text (labels
// from Python's strings).
enum class LabelKind { integer, real, text };

// How recognisers answer: one per label, the greatest score winning (the
// earlier label on a tie or a NaN); or, for two labels, one recogniser for
// the second label, answering it when its score is not below zero.
enum class DecisionRule { per_label, by_sign };

// A training row that some list holds.
struct SupportRow {
    uint32_t row = 0;       // its index in the training set
    uint32_t position = 0;  // its place in the training order
    uint32_t label = 0;     // a position in Model::labels
};

struct Model {
    KernelSpec kernel{};
    uint32_t epochs = 0;
    float margin = 0.0f;
    Combine combine = Combine::last;
    std::optional<uint64_t> shuffle{};  // the seed of the training order; none for file order
    uint32_t training_rows = 0;
    uint32_t features = 0;
    LabelKind label_kind = LabelKind::integer;
    std::vector<std::string> labels;  // distinct
    DecisionRule rule = DecisionRule::per_label;
    std::optional<FeatureRanges> ranges{};    // applied to every row scored, when the data were scaled
    std::vector<SupportRow> support;          // ascending by row
    std::vector<float> support_features;      // support.size() x features, row-major
    std::vector<std::vector<int32_t>> lists;  // per recogniser, training-set row indices
};

// The recognisers a model's lists belong to: per_label, one for each label
// (recogniser i answers label i); by_sign, one for the second label.
std::size_t recogniser_count(const Model& model);

// The one check of a model, made by every call below that takes one: a
// kernel, epochs and margin that check(Recogniser) passes; at least two
// distinct labels, each a whole number (integer) or a finite real (real)
// when so declared; by_sign only with two labels; ranges that pass their
// check and name no feature beyond `features`; support rows ascending,
// below training_rows, with distinct positions below it and labels among
// the labels; features.size() = support.size() x features; a list per
// recogniser, each entry a support row, implying no more epochs than the
// model's. An invalid-argument error whose field names the member.
Status check(const Model& model);

// What a model is made from, besides the settings in it.
struct ModelSource {
    const SampleSet* training = nullptr;
    std::vector<Recogniser> recognisers;      // as trained: one kernel, epochs and margin
    std::vector<std::vector<int32_t>> lists;  // one per recogniser
    std::span<const uint32_t> order{};        // as trained (empty: file order)
    std::optional<uint64_t> shuffle{};        // the order's seed, recorded
    Combine combine = Combine::last;
    LabelKind label_kind = LabelKind::integer;
    std::vector<std::string> labels;  // recogniser i's label, or for by_sign the two labels
    DecisionRule rule = DecisionRule::per_label;
    std::optional<FeatureRanges> ranges{};  // those the training rows were scaled with
};

// The model of a training: the support rows taken from the training set.
// A support row's label is the recogniser whose target its label equals
// (per_label; a row of no recogniser's target is refused), or under
// by_sign the second label when it equals the target and the first
// otherwise.
Result<Model> make_model(const ModelSource& source);

// The model's text (the format above); a model that fails check() is refused.
Result<std::string> model_text(const Model& model);

// Reads a model's text. A bad-data error names `path` and the line at fault:
// another first line or version, a missing or misplaced line, a number that
// is not one or does not fit, a count that the lines do not match, and
// anything check() refuses.
Result<Model> parse_model(std::string_view text, const std::string& path);
Result<Model> read_model(const std::string& path);

// Saves model_text(model) with save_list's safe save: the old file is
// replaced only once every byte of the new one is written.
Status save_model(const std::string& path, const Model& model);

// Every row's score from every recogniser (scores[recogniser][row]) under
// the model's combiner, exactly as decision_scores gives them from the
// training set. The samples hold raw rows of model.features features and a
// label column, never read; the model's ranges, when it has them, are
// applied to them first.
Result<std::vector<std::vector<double>>> model_scores(const Model& model, const SampleSet& samples,
                                                      const CancelFlag* cancel = nullptr,
                                                      const EngineOptions& options = {});

// A label's text as the model file writes it on one line: backslash,
// newline and carriage return escaped as "\\", "\n" and "\r".
std::string escaped_label(const std::string& label);

// Each row's answer, a position in model.labels, from model_scores' scores.
std::vector<uint32_t> model_answers(const Model& model, const std::vector<std::vector<double>>& scores);

// Each row's score for every label (label_scores[row][label]): per_label,
// the recognisers' scores; by_sign, minus and plus the one score.
std::vector<std::vector<double>> label_scores(const Model& model, const std::vector<std::vector<double>>& scores);

}  // namespace programma
