// `classify`: a ten-digit recogniser made of the ten one-against-the-rest
// kernel perceptrons. Each digit's recogniser is trained exactly as
// programma trains it (the same mistake list, byte for byte), and a test
// row's answer is the digit whose decision sum is the greatest.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "arguments.h"
#include "gnuplot.h"
#include "manifest.h"
#include "programma/api.h"

using programma::KernelKind;
using programma::KernelSpec;

struct ClassifyOptions {
    // programma's -k, -c, -d and -e as given (none where not given), or as
    // a restored manifest records them.
    std::optional<KernelKind> kind{};
    std::optional<float> constant{};
    std::optional<float> degree{};
    std::optional<uint32_t> epochs{};
    std::string training_set = kDefaultTrainingSet;
    std::string test_set = kDefaultTestSet;
    bool csv = false;
    std::string predictions{};  // file of one answer per test row, or empty
    std::string plot{};         // PNG of the confusion table, or empty
    std::string lists{};        // folder to save the ten lists in, or empty
    std::string restore{};      // folder to read the ten lists from instead of training, or empty
    bool unlabelled = false;    // test rows hold the features only
    programma::Combine combine = programma::Combine::last;  // how each digit's list answers

    // The kernel and epochs chosen, with programma's defaults.
    KernelSpec kernel() const;
    uint32_t epoch_count() const;
};

using Confusion = std::array<std::array<uint32_t, 10>, 10>;  // [true digit][answer]

struct ClassifyResult {
    bool labelled = true;
    uint32_t training_rows = 0;
    uint32_t training_columns = 0;
    std::array<std::vector<int32_t>, 10> lists;
    std::array<std::optional<float>, 10> training_error;  // none when restored
    std::vector<uint8_t> answers;                         // one per test row
    Confusion confusion{};
    uint32_t wrong = 0;
};

// The ten recognisers, digit d's at index d.
std::vector<programma::Recogniser> digit_recognisers(KernelSpec kernel, uint32_t epochs);

// Throws std::runtime_error naming the file and the row when a label is not
// a whole number from 0 to 9.
void require_digit_labels(const programma::SampleSet& set, const std::string& file);

// Loads, trains (or restores) and tests; throws std::runtime_error on bad
// input. Writes nothing. `manifest`, when given, must describe the training
// set (its counts and hash).
ClassifyResult classify_digits(const ClassifyOptions& options, const Manifest* manifest = nullptr);

// The settings a lists manifest records, in place of the command line's;
// std::invalid_argument when a given option says otherwise, and
// std::runtime_error when the library's check refuses them.
void adopt_manifest(ClassifyOptions& options, const Manifest& manifest, const std::string& path);

// The report: a line per digit (its mistakes and training error), the
// ten-class test error, and the confusion table, as Markdown; or as one CSV
// table: a row per digit (its mistakes, training error, test rows showing
// it, wrong answers among them and their percentage, and the answers given
// to them) and an "all" row of the totals.
std::string classify_report(const ClassifyResult& result, bool csv);

// The confusion table as a heat map (drawn by gnuplot) whose title names
// the run's settings.
HeatMap confusion_map(const Confusion& confusion, const ClassifyOptions& options);
