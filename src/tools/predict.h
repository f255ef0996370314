// `predict`: a saved model applied to new rows, with no training set: the
// library scores them from the model's support rows and lists, giving the
// answers and scores that classify gave when it made the model, bit for bit.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model_files.h"
#include "programma/model.h"

struct PredictOptions {
    std::string model;
    std::string test;
    std::string predictions;  // one answer a row, or empty
    std::string scores;       // the scores table, or empty
    std::string ranges;       // saved ranges for a model that has none, or empty
    bool unlabelled = false;  // rows of features only
    bool csv = false;
};

struct Prediction {
    programma::Model model;
    std::vector<uint32_t> answers;                  // per row: a position in model.labels
    std::vector<std::vector<double>> label_scores;  // [row][label]
    std::optional<TestTally> tally;                 // for labelled rows
};

// Reads the model and the rows and answers them; throws std::runtime_error
// on a damaged model or bad rows, and std::invalid_argument for --ranges
// given with a model that has its own.
Prediction predict(const PredictOptions& options);

// The answers, one label text a line ("\\", a newline and a carriage
// return escaped as the model file escapes them).
std::string prediction_text(const Prediction& prediction);

// What is printed: the test error and the confusion table (Markdown, or one
// CSV table), or for unlabelled rows how many were answered.
std::string prediction_report(const Prediction& prediction, bool csv);
