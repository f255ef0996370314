// `predict`: the model read, the rows loaded (and mapped by saved ranges
// when the model has none), scored through the library, and tallied by the
// labels' texts.
#include "predict.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>

#include "interrupt.h"
#include "samples.h"
#include "text.h"

namespace {

// The rows to answer: labelled rows as wide as the model's rows with their
// label, or rows of features only (given a label column, never read).
programma::SampleSet rows_to_answer(const PredictOptions& options, uint32_t features) {
    const programma::SampleSet rows = load_sample_set(options.test);
    const uint32_t wanted = options.unlabelled ? features : features + 1;
    if (rows.columns() != wanted) {
        fail_in(options.test, std::string(options.unlabelled ? "unlabelled " : "") + "samples have " +
                                  std::to_string(rows.columns()) + " numbers; the model takes " +
                                  std::to_string(features) +
                                  (options.unlabelled ? " features" : " features and a label"));
    }
    if (!options.unlabelled) return rows;
    std::vector<uint32_t> every_row(rows.rows());
    std::iota(every_row.begin(), every_row.end(), 0u);
    return rows_of(rows, every_row, LastColumn::feature);
}

// Saved ranges for a model that has none; never a second scaling.
std::optional<programma::FeatureRanges> given_ranges(const PredictOptions& options, const programma::Model& model) {
    if (options.ranges.empty()) return std::nullopt;
    if (model.ranges) {
        throw std::invalid_argument("--ranges would scale the rows twice: " + options.model +
                                    " holds the ranges its training rows were scaled with, and applies them itself");
    }
    return saved_ranges(options.ranges, model.features, options.test);
}

// The model's label a test label is: the one of its value where the model's
// labels are numbers ("08" is 8), the one of its text ("8") where they are
// texts; model.labels.size() for none.
std::size_t model_label_of(const programma::Model& model, float label) {
    const std::string text = label_text(label);
    for (std::size_t i = 0; i < model.labels.size(); ++i) {
        double value = 0;
        const bool same = model.label_kind == programma::LabelKind::text
                              ? model.labels[i] == text
                              : parse_double(model.labels[i], value) && value == double(label);
        if (same) return i;
    }
    return model.labels.size();
}

// The confusion table's rows: the model's labels, then the test labels it
// lacks; ordered by value where every one is a number (as classify orders
// them). Each test label's row, by its place among `tested`.
std::vector<std::string> truth_rows(const programma::Model& model, const Labels& tested,
                                    std::vector<std::size_t>& row_of_tested) {
    std::vector<std::string> truths = model.labels;
    std::vector<std::size_t> unsorted;
    for (const float label : tested) {
        unsorted.push_back(model_label_of(model, label));
        if (unsorted.back() == model.labels.size()) {
            unsorted.back() = truths.size();
            truths.push_back(label_text(label));
        }
    }
    std::vector<std::size_t> places(truths.size());
    std::iota(places.begin(), places.end(), 0u);
    std::vector<double> values(truths.size());
    bool numbers = true;
    for (std::size_t i = 0; i < truths.size(); ++i) numbers = numbers && parse_double(truths[i], values[i]);
    if (numbers) {
        std::stable_sort(places.begin(), places.end(),
                         [&](std::size_t a, std::size_t b) { return values[a] < values[b]; });
    }
    std::vector<std::string> sorted;
    std::vector<std::size_t> row_of(truths.size());
    for (const std::size_t i : places) {
        row_of[i] = sorted.size();
        sorted.push_back(truths[i]);
    }
    for (const std::size_t i : unsorted) row_of_tested.push_back(row_of[i]);
    return sorted;
}

// Each test row's answer against the model's label its label is.
TestTally tally_of(const programma::Model& model, const programma::SampleSet& rows, const std::string& file,
                   const std::vector<uint32_t>& answers) {
    const Labels tested = labels_of(rows, file);
    std::vector<std::size_t> row_of_tested;
    TestTally tally{model.labels, truth_rows(model, tested, row_of_tested), {}, 0, rows.rows()};
    tally.rows.assign(tally.truths.size(), std::vector<uint32_t>(model.labels.size(), 0));
    std::vector<std::size_t> model_of_tested;
    for (const float label : tested) model_of_tested.push_back(model_label_of(model, label));
    for (uint32_t r = 0; r < rows.rows(); ++r) {
        const float label = rows.label(r);
        const std::size_t t = position_of(tested, label == 0.0f ? 0.0f : label);  // -0 is 0
        tally.rows[row_of_tested[t]][answers[r]] += 1;
        tally.wrong += model_of_tested[t] != answers[r] ? 1 : 0;
    }
    return tally;
}

}  // namespace

Prediction predict(const PredictOptions& options) {
    Prediction prediction{programma::value_or_throw(programma::read_model(options.model)), {}, {}, std::nullopt};
    const programma::Model& model = prediction.model;
    const std::optional<programma::FeatureRanges> ranges = given_ranges(options, model);
    programma::SampleSet rows = rows_to_answer(options, model.features);
    if (ranges) rows = scaled_rows(*ranges, rows, options.test);
    const std::vector<std::vector<double>> scores =
        programma::value_or_throw(programma::model_scores(model, rows, cancel_flag(), engine_options()));
    prediction.answers = programma::model_answers(model, scores);
    prediction.label_scores = programma::label_scores(model, scores);
    if (!options.unlabelled) prediction.tally = tally_of(model, rows, options.test, prediction.answers);
    return prediction;
}

std::string prediction_text(const Prediction& prediction) {
    std::string text;
    for (const uint32_t answer : prediction.answers)
        text += programma::escaped_label(prediction.model.labels[answer]) + "\n";
    return text;
}

std::string prediction_report(const Prediction& prediction, bool csv) {
    const std::string rows = std::to_string(prediction.answers.size());
    if (!prediction.tally) return csv ? "rows_answered\n" + rows + "\n" : "Answered " + rows + " rows.\n";
    const TestTally& tally = *prediction.tally;
    if (!csv) return tally_markdown(tally);
    TableRows table = tally_csv(tally);
    table[0].insert(table[0].begin(), tally_noun(tally));
    for (std::size_t truth = 0; truth < tally.truths.size(); ++truth)
        table[truth + 1].insert(table[truth + 1].begin(), tally.truths[truth]);
    table.back().insert(table.back().begin(), "all");
    return format_table(table, true);
}
