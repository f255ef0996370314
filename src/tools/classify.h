// `classify`: a recogniser of every label of a training set, made of one
// one-against-the-rest kernel perceptron for each label present. Each is
// trained exactly as programma trains one for a digit (the same mistake
// list, byte for byte), and a test row's answer is the label whose
// recogniser's decision sum is the greatest.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "arguments.h"
#include "gnuplot.h"
#include "labels.h"
#include "manifest.h"
#include "programma/api.h"
#include "programma/model.h"

using programma::KernelKind;
using programma::KernelSpec;

struct ClassifyOptions {
    // programma's -k, -c, -d and -e as given (none where not given), or as
    // a restored manifest records them.
    std::optional<KernelKind> kind{};
    std::optional<ConstantChoice> constant{};
    std::optional<float> degree{};
    std::optional<uint32_t> epochs{};
    std::optional<float> margin{};   // --margin, or a restored manifest's
    std::string epochs_from = "-e";  // where the epochs come from, for messages
    std::string training_set = kDefaultTrainingSet;
    std::string test_set = kDefaultTestSet;
    bool csv = false;
    std::string predictions{};  // file of one answer per test row, or empty
    std::string plot{};         // PNG of the confusion table, or empty
    std::string lists{};        // folder to save the lists in, or empty
    std::string restore{};      // folder to read the lists from instead of training, or empty
    std::string save_model{};   // model file to save, or empty
    std::string scores{};       // CSV of every test row's score for every label, or empty
    std::string ranges{};       // saved ranges applied to the training and test rows first, or empty
    bool unlabelled = false;    // test rows hold the features only
    programma::Combine combine = programma::Combine::last;  // how each label's list answers
    std::optional<uint64_t> shuffle{};                      // the seed of the training order, when not file order

    // The kernel and epochs chosen, with programma's defaults, given the
    // constant the training data gives (for `-c scale`).
    KernelSpec kernel(float data_constant = 1.0f) const;
    uint32_t epoch_count() const;
    float training_margin() const;  // 0 when not given
};

using Confusion = std::vector<std::vector<uint32_t>>;  // [true label][answer], as ClassifyResult orders them

struct ClassifyResult {
    KernelSpec kernel{};  // as trained (or restored), `-c scale` worked out
    bool constant_from_data = false;
    bool labelled = true;
    float margin = 0.0f;  // the lists' margin: the reports name one above 0
    uint32_t training_rows = 0;
    uint32_t training_columns = 0;
    Labels labels;                                     // of the training set: the answers, one list each
    std::vector<std::vector<int32_t>> lists;           // [label]
    std::vector<std::optional<float>> training_error;  // [label]; none when restored
    std::vector<uint32_t> answers;                     // per test row: the answer's position in `labels`
    Labels true_labels;                                // the confusion table's rows: the labels of both sets
    Confusion confusion{};
    uint32_t wrong = 0;
    std::vector<std::vector<double>> scores;  // [label][test row], under the run's combiner
    std::optional<programma::Model> model{};  // when one is to be saved
};

// What a restore reads besides the command line: the folder, and its
// manifest when it has one.
struct Restored {
    std::string folder;
    const Manifest* manifest = nullptr;
};

// Loads, trains (or restores) and tests; throws std::runtime_error on bad
// input. Writes nothing but its warnings: training features beyond [-1, 1]
// without -c, and a training set in long runs of one label without
// --shuffle. `training` is the training set's hash, taken
// before it was loaded: a restore's manifest must describe that set.
// `before_training` is called once the training set's labels are known.
ClassifyResult classify(const ClassifyOptions& options, const VouchedFile* training, const Restored& restored,
                        const std::function<void(const Labels&)>& before_training = {});

// The training rows' order: file order (empty) or the seeded order.
std::vector<uint32_t> training_order(uint32_t rows, std::optional<uint64_t> seed);

// Warns, naming --shuffle, when the labels come in long runs in training
// order (which the library's label_runs finds).
void warn_of_long_runs(const std::vector<float>& labels_in_order);

// The settings a lists manifest records, in place of the command line's;
// std::invalid_argument when a given option says otherwise, and
// std::runtime_error naming the manifest's line when the library's check
// refuses them.
void adopt_manifest(ClassifyOptions& options, const Manifest& manifest, const std::string& path);

// The manifest that describes a run's lists (without their hashes).
Manifest manifest_of(const ClassifyOptions& options, const ClassifyResult& result, const VouchedFile& training);

// The report: a line per label (its list's entries and training error),
// the test error, and the confusion table, as Markdown; or as one CSV table:
// a row per true label (its list's entries, training error, test rows
// showing it, wrong answers among them and their percentage, and the
// answers given to them) and an "all" row of the totals. A margin above 0
// is named: a line before the Markdown, a last column of the CSV; with none,
// the report is as it was before margins.
std::string classify_report(const ClassifyResult& result, bool csv);

// The answers, one label a line.
std::string answers_text(const ClassifyResult& result);

// The confusion table as a heat map (drawn by gnuplot) whose title names
// the run's settings.
HeatMap confusion_map(const ClassifyResult& result, const ClassifyOptions& options);
