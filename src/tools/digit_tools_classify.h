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

#include "digit_tools_png.h"
#include "programma/api.h"

using programma::KernelKind;
using programma::KernelSpec;

struct ClassifyOptions {
    KernelSpec ker{KernelKind::polynomial, 2.0f};
    uint32_t epochs = 2;
    std::string training_set = "Data/Training_set";
    std::string test_set = "Data/Test_set";
    bool csv = false;
    std::string predictions{};  // file of one answer per test row, or empty
    std::string plot{};         // PNG of the confusion table, or empty
    std::string lists{};        // folder to save the ten lists in, or empty
    std::string restore{};      // folder to read the ten lists from instead of training, or empty
};

using Confusion = std::array<std::array<uint32_t, 10>, 10>;  // [true digit][answer]

struct ClassifyResult {
    std::array<std::vector<int32_t>, 10> lists;
    std::array<std::optional<float>, 10> training_error;  // none when restored
    std::vector<uint8_t> answers;                          // one per test row
    Confusion confusion{};
    uint32_t wrong = 0;
};

// The answer for one test row from its ten decision sums: digit 0 to begin
// with, then each digit whose sum is strictly greater than the best so far
// (so a tie, or a NaN, leaves the smaller digit).
uint8_t ten_class_answer(const std::array<float, 10>& sums);

// Throws std::runtime_error naming the file and the row when a label is not
// a whole number from 0 to 9.
void require_digit_labels(const programma::SampleSet& set, const std::string& file);

// Loads, trains (or restores) and tests; throws std::runtime_error on bad
// input. Writes nothing.
ClassifyResult classify_digits(const ClassifyOptions& options);

// The report: a line per digit (its mistakes and training error), the
// ten-class test error, and the confusion table, as Markdown or CSV.
std::string classify_report(const ClassifyResult& result, bool csv);

// The confusion table as a heat map with its counts and axis digits.
GreyImage confusion_picture(const Confusion& confusion);

// The whole command: classify, then the report on standard output and the
// files asked for, written only once everything has succeeded.
void run_classify(const ClassifyOptions& options);
