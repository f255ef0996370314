// `tune`: the folds, one training of every label and margin per (kernel,
// parameter, fold) at the grid's most epochs, every (epochs, combiner) cell
// scored from that training's lists, and the table of cross-validated errors.
#include "tune.h"

#include <algorithm>
#include <bit>
#include <filesystem>
#include <stdexcept>

#include "interrupt.h"
#include "labels.h"
#include "programma/preparation.h"
#include "samples.h"
#include "text.h"

namespace {

using programma::Combine;
using programma::KernelKind;
using programma::KernelSpec;
using programma::SampleSet;

// A share of rows as a percentage in the tables.
std::string percent(double share) { return printed("%f", share * 100); }

// Every (kernel, parameter) of the grid, in its order.
std::vector<KernelSpec> kernel_settings(const TuneOptions& options) {
    std::vector<KernelSpec> kernels;
    for (const KernelKind kind : options.kernels) {
        switch (kind) {
            case KernelKind::polynomial:
                for (const float degree : options.degrees) kernels.push_back(programma::kernel_spec(kind, degree, 0));
                break;
            case KernelKind::gaussian:
                for (const float constant : options.constants)
                    kernels.push_back(programma::kernel_spec(kind, 0, constant));
                break;
        }
    }
    return kernels;
}

// The answers for every row of `test` under every cell of the recognisers
// of `labels` trained on `train` at each margin: how many of them are wrong,
// by margin and cell. Every label at every margin is trained in one call and
// scored in another, so that a kernel value several lists need is computed
// once. A test row whose label is none of `labels` is always answered wrong.
std::vector<std::vector<uint64_t>> wrong_by_cell(const SampleSet& train, const Labels& labels, const SampleSet& test,
                                                 KernelSpec kernel, uint32_t epochs, const std::vector<float>& margins,
                                                 const std::vector<programma::ScoreCell>& cells) {
    const LabelRecognisers made = label_recognisers(train, labels, kernel, epochs);
    std::vector<programma::Recogniser> recognisers;  // [margin * labels + label]
    for (const float margin : margins) {
        for (programma::Recogniser recogniser : made.recognisers) {
            recogniser.margin = margin;
            recognisers.push_back(recogniser);
        }
    }
    const std::vector<programma::Trained> trained =
        programma::value_or_throw(programma::train(made.training, recognisers, cancel_flag(), {}, engine_options()));
    std::vector<std::vector<int32_t>> lists;
    for (const programma::Trained& one : trained) lists.push_back(one.mistakes);
    auto scores = programma::value_or_throw(
        programma::decision_scores(made.training, recognisers, lists, test, cells, cancel_flag(), engine_options()));
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

// The test set, when one is given: checked before any training.
std::optional<SampleSet> test_set_of(const TuneOptions& options, const SampleSet& all) {
    if (options.test_set.empty()) return std::nullopt;
    SampleSet test = load_sample_set(options.test_set);
    require_training_width(test, options.test_set, all);
    labels_of(test, options.test_set);
    return test;
}

// " --margin M" for a row of a grid with margins, else nothing.
std::string margin_option(const TuneResult& result, const TuneRow& row) {
    return result.margins ? " --margin " + parameter_text(row.margin) : "";
}

}  // namespace

std::vector<uint32_t> fold_order(uint32_t rows, std::optional<uint64_t> seed) {
    std::vector<uint32_t> order(rows);
    for (uint32_t r = 0; r < rows; ++r) order[r] = r;
    if (!seed) return order;
    return programma::seeded_order(rows, *seed);
}

std::pair<uint32_t, uint32_t> fold_bounds(uint32_t fold, uint32_t folds, uint32_t rows) {
    return {uint32_t(uint64_t(fold) * rows / folds), uint32_t(uint64_t(fold + 1) * rows / folds)};
}

TuneResult tune(const TuneOptions& options) {
    const SampleSet all = load_sample_set(options.training_set);
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
    const std::vector<uint32_t> order = fold_order(all.rows(), options.shuffle);

    TuneResult result;
    result.training_rows = all.rows();
    result.margins = std::any_of(options.margins.begin(), options.margins.end(), [](float m) { return m > 0.0f; });
    for (const KernelSpec kernel : kernel_settings(options)) {
        std::vector<TuneRow> rows;  // [margin * cells + cell]
        for (const float margin : options.margins) {
            for (const programma::ScoreCell& cell : cells)
                rows.push_back({kernel, margin, cell.epochs, cell.combine, 0, 0, 1e300, -1});
        }
        for (uint32_t f = 0; f < options.folds; ++f) {
            const auto [begin, end] = fold_bounds(f, options.folds, all.rows());
            std::vector<uint32_t> kept(order.begin(), order.begin() + begin);
            kept.insert(kept.end(), order.begin() + end, order.end());
            std::sort(kept.begin(), kept.end());  // trained on in file order
            const std::vector<uint32_t> held(order.begin() + begin, order.begin() + end);
            const std::vector<std::vector<uint64_t>> wrong =
                wrong_by_cell(rows_of(all, kept), fold_labels(all, kept, f, options), rows_of(all, held), kernel,
                              most_epochs, options.margins, cells);
            for (std::size_t r = 0; r < rows.size(); ++r) {
                const uint64_t fold_wrong = wrong[r / cells.size()][r % cells.size()];
                const double fold_error = double(fold_wrong) / double(end - begin);
                rows[r].wrong += fold_wrong;
                rows[r].lowest = std::min(rows[r].lowest, fold_error);
                rows[r].highest = std::max(rows[r].highest, fold_error);
            }
            progress("-k " + std::string(kernel_name(kernel.kind)) + " " + parameter_text(kernel.parameter) +
                     ": fold " + std::to_string(f + 1) + " of " + std::to_string(options.folds));
        }
        for (TuneRow& row : rows) row.error = double(row.wrong) / double(all.rows());
        result.rows.insert(result.rows.end(), rows.begin(), rows.end());
    }
    for (std::size_t r = 1; r < result.rows.size(); ++r) {
        if (result.rows[r].error < result.rows[result.best].error) result.best = r;
    }
    if (test) {
        const TuneRow& best = result.rows[result.best];
        result.test_wrong = uint32_t(wrong_by_cell(all, labels, *test, best.kernel, best.epochs, {best.margin},
                                                   {{best.epochs, best.combine}})[0][0]);
        result.test_rows = test->rows();
    }
    return result;
}

std::string tune_report(const TuneResult& result, bool csv) {
    TableRows table = {csv ? std::vector<std::string>{"kernel", "parameter", "epochs", "combine", "error",
                                                      "lowest_fold", "highest_fold", "best", "test_error"}
                           : std::vector<std::string>{"kernel", "constant or degree", "epochs", "combine",
                                                      "cross-validated error (%)", "lowest fold (%)",
                                                      "highest fold (%)"}};
    if (result.margins) table[0].insert(table[0].begin() + 2, "margin");
    const std::string test_error =
        result.test_wrong ? percent(double(*result.test_wrong) / double(result.test_rows)) : "";
    for (std::size_t r = 0; r < result.rows.size(); ++r) {
        const TuneRow& row = result.rows[r];
        table.push_back({kernel_name(row.kernel.kind), parameter_text(row.kernel.parameter), std::to_string(row.epochs),
                         combine_name(row.combine), percent(row.error), percent(row.lowest), percent(row.highest)});
        if (result.margins) table.back().insert(table.back().begin() + 2, parameter_text(row.margin));
        // CSV keeps everything in its one table: which row is best, and its test error.
        if (csv)
            table.back().insert(table.back().end(), {r == result.best ? "1" : "0", r == result.best ? test_error : ""});
    }
    const TuneRow& best = result.rows[result.best];
    const char* parameter = best.kernel.kind == KernelKind::gaussian ? "-c" : "-d";
    std::string text = format_table(table, csv);
    if (csv) return text;
    text += "\nBest: -k " + std::string(kernel_name(best.kernel.kind)) + " " + parameter + " " +
            parameter_text(best.kernel.parameter) + margin_option(result, best) + " -e " + std::to_string(best.epochs) +
            " --combine " + combine_name(best.combine) + ", " + percent(best.error) + "% cross-validated error\n";
    if (result.test_wrong) {
        text += "Test error of the best setting: " + std::to_string(*result.test_wrong) + " wrong of " +
                std::to_string(result.test_rows) + " rows, " + test_error + "%\n";
    }
    return text;
}

HeatMap tune_map(const TuneResult& result, const TuneOptions& options) {
    const TuneRow& best = result.rows[result.best];
    const bool gaussian = best.kernel.kind == KernelKind::gaussian;
    const std::vector<float>& parameters = gaussian ? options.constants : options.degrees;
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
                    error = row.error * 100;
                }
            }
            errors.push_back(error);
        }
        map.values.push_back(errors);
    }
    return map;
}
