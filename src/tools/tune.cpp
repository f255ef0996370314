// `tune`: the folds, one training of every label and margin per (kernel,
// parameter, fold) at the grid's most epochs, every (epochs, combiner) cell
// scored from that training's lists, and the table of cross-validated errors.
#include "tune.h"

#include <algorithm>
#include <bit>
#include <filesystem>
#include <numeric>
#include <stdexcept>
#include <utility>

#include "classify.h"
#include "interrupt.h"
#include "labels.h"
#include "model_files.h"
#include "programma/preparation.h"
#include "samples.h"
#include "text.h"

namespace {

using programma::Combine;
using programma::KernelKind;
using programma::KernelSpec;
using programma::SampleSet;

// Every (kernel, parameter) of the grid, in its order; `-c scale` is
// `data_constant`.
std::vector<KernelSpec> kernel_settings(const TuneOptions& options, float data_constant) {
    std::vector<KernelSpec> kernels;
    for (const KernelKind kind : options.kernels) {
        switch (kind) {
            case KernelKind::polynomial:
                for (const float degree : options.degrees) kernels.push_back(programma::kernel_spec(kind, degree, 0));
                break;
            case KernelKind::gaussian:
                for (const ConstantChoice& constant : options.constants)
                    kernels.push_back(programma::kernel_spec(kind, 0, constant.resolved(data_constant)));
                break;
        }
    }
    return kernels;
}

// The answers for every row of `test` under every cell of the recognisers
// of `labels` trained on `train` (in `order`: empty, its own) at each margin: how many
// of them are wrong, by margin and cell. Every label at every margin is
// trained in one call and scored in another, so that a kernel value several
// lists need is computed once. A test row whose label is none of `labels` is
// always answered wrong.
std::vector<std::vector<uint64_t>> wrong_by_cell(
    const SampleSet& train, const Labels& labels, const SampleSet& test, KernelSpec kernel, uint32_t epochs,
    const std::vector<float>& margins, const std::vector<programma::ScoreCell>& cells,
    const std::function<void(const programma::TrainingProgress&)>& progress, const std::vector<uint32_t>& order = {}) {
    const LabelRecognisers made = label_recognisers(train, labels, kernel, epochs);
    std::vector<programma::Recogniser> recognisers;  // [margin * labels + label]
    for (const float margin : margins) {
        for (programma::Recogniser recogniser : made.recognisers) {
            recogniser.margin = margin;
            recognisers.push_back(recogniser);
        }
    }
    const std::vector<programma::Trained> trained = programma::value_or_throw(
        programma::train(made.training, recognisers, cancel_flag(), {}, engine_options(), order, progress));
    std::vector<std::vector<int32_t>> lists;
    for (const programma::Trained& one : trained) lists.push_back(one.mistakes);
    auto scores = programma::value_or_throw(programma::decision_scores(made.training, recognisers, lists, test, cells,
                                                                       cancel_flag(), engine_options(), order));
    std::vector<std::vector<uint64_t>> wrong(margins.size(), std::vector<uint64_t>(cells.size(), 0));
    for (std::size_t m = 0; m < margins.size(); ++m) {
        const auto first = std::make_move_iterator(scores.begin() + std::ptrdiff_t(m * labels.size()));
        const std::vector<std::vector<std::vector<double>>> margin_scores(first, first + std::ptrdiff_t(labels.size()));
        const std::vector<std::vector<uint32_t>> answers = best_labels(margin_scores, test.rows());
        for (std::size_t c = 0; c < cells.size(); ++c) {
            for (uint32_t r = 0; r < test.rows(); ++r) wrong[m][c] += labels[answers[c][r]] != test.label(r) ? 1 : 0;
        }
    }
    return wrong;
}

// The labels a fold's recognisers answer: those of the rows it trains on.
Labels fold_labels(const SampleSet& all, const std::vector<uint32_t>& kept, uint32_t fold, const TuneOptions& options) {
    Labels labels = labels_of_rows(all, kept);
    if (labels.size() < 2) {
        fail_in(options.training_set, "fold " + std::to_string(fold + 1) + " trains on rows of the label " +
                                          label_text(labels[0]) +
                                          " alone; shuffle the rows (--shuffle) or cut fewer folds");
    }
    return labels;
}

// The test set, when one is given, as it is in its file (not yet mapped by
// --ranges): checked before any training.
std::optional<SampleSet> test_set_of(const TuneOptions& options, const SampleSet& all) {
    if (options.test_set.empty()) return std::nullopt;
    SampleSet test = load_sample_set(options.test_set);
    require_training_width(test, options.test_set, all);
    labels_of(test, options.test_set);
    return test;
}

// The model of a setting trained on every row of `all` in the training
// order (empty: file order), as classify trains it.
programma::Model best_model(const SampleSet& all, const Labels& labels, const TuneRow& best,
                            const std::vector<uint32_t>& order, const TuneOptions& options,
                            std::optional<programma::FeatureRanges> ranges,
                            const std::function<void(const programma::TrainingProgress&)>& progress) {
    const LabelRecognisers made = label_recognisers(all, labels, best.kernel, best.epochs, best.margin);
    const std::vector<programma::Trained> trained = programma::value_or_throw(
        programma::train(made.training, made.recognisers, cancel_flag(), {}, engine_options(), order, progress));
    std::vector<std::vector<int32_t>> lists;
    for (const programma::Trained& one : trained) lists.push_back(one.mistakes);
    return label_model({&made, &labels, &lists, &order, options.shuffle, best.combine, std::move(ranges)});
}

// The test rows a model answers wrongly: raw rows, which the model maps by
// its ranges, as predict gives them to it.
uint32_t wrong_answers(const programma::Model& model, const Labels& labels, const SampleSet& test) {
    const std::vector<uint32_t> answers = programma::model_answers(
        model, programma::value_or_throw(programma::model_scores(model, test, cancel_flag(), engine_options())));
    uint32_t wrong = 0;
    for (uint32_t r = 0; r < test.rows(); ++r) wrong += labels[answers[r]] != test.label(r) ? 1 : 0;
    return wrong;
}

// " --margin M" for a row of a grid with margins, else nothing.
std::string margin_option(const TuneResult& result, const TuneRow& row) {
    return result.margins ? " --margin " + parameter_text(row.margin) : "";
}

bool constant_from_data(const TuneOptions& options) {
    return std::find(options.kernels.begin(), options.kernels.end(), KernelKind::gaussian) != options.kernels.end() &&
           std::any_of(options.constants.begin(), options.constants.end(),
                       [](const ConstantChoice& c) { return c.from_data; });
}

// The rows of `order` in fold `fold` (held) or not (kept), in that order.
std::vector<uint32_t> rows_where(const std::vector<uint32_t>& order, const std::vector<uint32_t>& fold_of,
                                 uint32_t fold, bool held) {
    std::vector<uint32_t> rows;
    for (const uint32_t r : order) {
        if ((fold_of[r] == fold) == held) rows.push_back(r);
    }
    return rows;
}

// Adds a fold's wrong answers to a row of the table.
void add_fold(TuneRow& row, uint64_t wrong, uint64_t rows) {
    const Share fold{wrong, rows};
    if (row.all.rows == 0 || fold.value() < row.lowest.value()) row.lowest = fold;
    if (row.all.rows == 0 || fold.value() > row.highest.value()) row.highest = fold;
    row.all.wrong += wrong;
    row.all.rows += rows;
}

}  // namespace

std::vector<uint32_t> folds_of(const SampleSet& set, const std::vector<uint32_t>& order, const TuneOptions& options) {
    auto folds = options.in_order ? programma::contiguous_folds(order, options.folds)
                                  : programma::stratified_folds(set.labels(), order, options.folds);
    if (!folds) {
        fail_in(options.training_set, folds.error().detail + (options.in_order ? "" : "; cut fewer folds (--folds)"));
    }
    return std::move(folds).value();
}

TuneResult tune(const TuneOptions& options) {
    SampleSet all = load_sample_set(options.training_set);
    std::optional<programma::FeatureRanges> ranges;
    if (!options.ranges.empty()) {
        ranges = saved_ranges(options.ranges, all.features(), options.training_set);
        all = scaled_rows(*ranges, all, options.training_set);
    }
    const Labels labels = labels_of(all, options.training_set);
    require_two_labels(labels, options.training_set);
    if (options.folds > all.rows()) {
        throw std::runtime_error(options.training_set + ": " + std::to_string(options.folds) +
                                 " folds need as many rows, the set has " + std::to_string(all.rows()));
    }
    const std::optional<SampleSet> test = test_set_of(options, all);
    std::vector<programma::ScoreCell> cells;
    for (const uint32_t e : options.epochs) {
        for (const Combine combine : options.combines) cells.push_back({e, combine});
    }
    const uint32_t most_epochs = *std::max_element(options.epochs.begin(), options.epochs.end());
    std::vector<uint32_t> order = training_order(all.rows(), options.shuffle);
    if (order.empty()) {
        order.resize(all.rows());
        std::iota(order.begin(), order.end(), 0u);
    }
    const std::vector<uint32_t> fold_of = folds_of(all, order, options);
    if (!options.shuffle) warn_of_long_runs(all.labels());

    TuneResult result;
    result.margins = std::any_of(options.margins.begin(), options.margins.end(), [](float m) { return m > 0.0f; });
    if (constant_from_data(options)) result.data_constant = programma::scale_constant(all);
    for (const ConstantChoice& constant : options.constants)
        result.constants.push_back(constant.resolved(result.data_constant.value_or(1.0f)));
    const std::vector<KernelSpec> kernels = kernel_settings(options, result.data_constant.value_or(1.0f));
    ProgressMeter meter(uint32_t(kernels.size()) * options.folds + (test || options.make_model ? 1 : 0));
    uint32_t training = 0;
    for (const KernelSpec kernel : kernels) {
        const std::string setting =
            "-k " + std::string(kernel_name(kernel.kind)) + " " + parameter_text(kernel.parameter);
        std::vector<TuneRow> rows;  // [margin * cells + cell]
        for (const float margin : options.margins) {
            for (const programma::ScoreCell& cell : cells)
                rows.push_back({kernel, margin, cell.epochs, cell.combine, {}, {}, {}});
        }
        for (uint32_t f = 0; f < options.folds; ++f) {
            // Each fold trains on its rows in the training order.
            const std::vector<uint32_t> kept = rows_where(order, fold_of, f, false);
            const std::vector<uint32_t> held = rows_where(order, fold_of, f, true);
            const std::string fold = "fold " + std::to_string(f + 1) + " of " + std::to_string(options.folds);
            const std::vector<std::vector<uint64_t>> wrong =
                wrong_by_cell(rows_of(all, kept), fold_labels(all, kept, f, options), rows_of(all, held), kernel,
                              most_epochs, options.margins, cells, meter.training(training++, setting + ", " + fold));
            for (std::size_t r = 0; r < rows.size(); ++r) {
                add_fold(rows[r], wrong[r / cells.size()][r % cells.size()], held.size());
            }
            progress(setting + ": " + fold);
        }
        result.rows.insert(result.rows.end(), rows.begin(), rows.end());
    }
    for (std::size_t r = 1; r < result.rows.size(); ++r) {
        if (result.rows[r].all.value() < result.rows[result.best].all.value()) result.best = r;
    }
    // The best setting trained on every row once: for its model, whose
    // answers then test it, or for the test alone.
    const TuneRow& best = result.rows[result.best];
    const std::vector<uint32_t> training_rows_order = training_order(all.rows(), options.shuffle);
    if (options.make_model) {
        result.model = best_model(all, labels, best, training_rows_order, options, std::move(ranges),
                                  meter.training(training, "the best setting on every row"));
    }
    if (test) {
        result.test_wrong =
            options.make_model
                ? wrong_answers(*result.model, labels, *test)
                : uint32_t(wrong_by_cell(all, labels, ranges ? scaled_rows(*ranges, *test, options.test_set) : *test,
                                         best.kernel, best.epochs, {best.margin}, {{best.epochs, best.combine}},
                                         meter.training(training, "the best setting on the test set"),
                                         training_rows_order)[0][0]);
        result.test_rows = test->rows();
    }
    return result;
}

std::string tune_report(const TuneResult& result, bool csv) {
    TableRows table = {csv ? std::vector<std::string>{"kernel", "parameter", "epochs", "combine",
                                                      "cross_validated_error_percent", "lowest_fold_error_percent",
                                                      "highest_fold_error_percent", "best", "test_error_percent"}
                           : std::vector<std::string>{"kernel", "constant or degree", "epochs", "combine",
                                                      "cross-validated error (%)", "lowest fold (%)",
                                                      "highest fold (%)"}};
    if (result.margins) table[0].insert(table[0].begin() + 2, "margin");
    const std::string test_error = result.test_wrong ? percent_of(*result.test_wrong, result.test_rows) : "";
    for (std::size_t r = 0; r < result.rows.size(); ++r) {
        const TuneRow& row = result.rows[r];
        table.push_back({kernel_name(row.kernel.kind), parameter_text(row.kernel.parameter), std::to_string(row.epochs),
                         combine_name(row.combine), percent_of(row.all.wrong, row.all.rows),
                         percent_of(row.lowest.wrong, row.lowest.rows),
                         percent_of(row.highest.wrong, row.highest.rows)});
        if (result.margins) table.back().insert(table.back().begin() + 2, parameter_text(row.margin));
        // CSV keeps everything in its one table: which row is best, and its test error.
        if (csv)
            table.back().insert(table.back().end(), {r == result.best ? "1" : "0", r == result.best ? test_error : ""});
    }
    const TuneRow& best = result.rows[result.best];
    const char* parameter = best.kernel.kind == KernelKind::gaussian ? "-c" : "-d";
    std::string text = format_table(table, csv);
    if (csv) return text;
    if (result.data_constant) {
        text = "Gaussian constant from the training data (-c scale): " + parameter_text(*result.data_constant) +
               "\n\n" + text;
    }
    text += "\nBest: -k " + std::string(kernel_name(best.kernel.kind)) + " " + parameter + " " +
            parameter_text(best.kernel.parameter) + margin_option(result, best) + " -e " + std::to_string(best.epochs) +
            " --combine " + combine_name(best.combine) + ", " + percent_of(best.all.wrong, best.all.rows) +
            "% cross-validated error\n";
    if (result.test_wrong) {
        text += "Test error of the best setting: " + std::to_string(*result.test_wrong) + " wrong of " +
                std::to_string(result.test_rows) + " rows, " + test_error + "%\n";
    }
    return text;
}

HeatMap tune_map(const TuneResult& result, const TuneOptions& options) {
    const TuneRow& best = result.rows[result.best];
    const bool gaussian = best.kernel.kind == KernelKind::gaussian;
    const std::vector<float>& parameters = gaussian ? result.constants : options.degrees;
    HeatMap map;
    map.title = std::string("tune -k ") + kernel_name(best.kernel.kind) + margin_option(result, best) + " --combine " +
                combine_name(best.combine) + ", " + std::to_string(options.folds) +
                " folds: " + std::filesystem::path(options.training_set).filename().string();
    map.x_title = "epochs";
    map.y_title = gaussian ? "constant" : "degree";
    map.key_title = "cross-validated error (%)";
    map.decimals = 1;
    for (const uint32_t e : options.epochs) map.x_labels.push_back(std::to_string(e));
    for (const float parameter : parameters) {
        map.y_labels.push_back(parameter_text(parameter));
        std::vector<double> errors;
        for (const uint32_t e : options.epochs) {
            double error = 0;
            for (const TuneRow& row : result.rows) {
                if (row.kernel.kind == best.kernel.kind &&
                    std::bit_cast<uint32_t>(row.kernel.parameter) == std::bit_cast<uint32_t>(parameter) &&
                    row.epochs == e && row.combine == best.combine && row.margin == best.margin) {
                    error = row.all.value() * 100;
                }
            }
            errors.push_back(error);
        }
        map.values.push_back(errors);
    }
    return map;
}
