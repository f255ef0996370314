// The recogniser of every label: one kernel-perceptron training a label
// through the library (side by side, each silent, each giving programma's
// mistake list), the decision sums of every test row against each list,
// and the greatest sum's label as the answer.
#include "classify.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <filesystem>
#include <limits>
#include <numeric>
#include <stdexcept>

#include "interrupt.h"
#include "lists_folder.h"
#include "model_files.h"
#include "programma/preparation.h"
#include "samples.h"
#include "text.h"

namespace {

void train_all(const LabelRecognisers& made, const std::vector<uint32_t>& order, ClassifyResult& result) {
    std::atomic<int> done{0};
    const std::string count = std::to_string(result.labels.size());
    const auto trained_one = [&](std::size_t i) {
        progress("trained the recogniser of label " + label_text(result.labels[i]) + " (" + std::to_string(++done) +
                 " of " + count + ")");
    };
    ProgressMeter meter;
    std::vector<programma::Trained> trained = programma::value_or_throw(
        programma::train(made.training, made.recognisers, cancel_flag(), trained_one, engine_options(), order,
                         meter.training(0, "training " + count + " recognisers")));
    for (programma::Trained& one : trained) {
        result.lists.push_back(std::move(one.mistakes));
        result.training_error.push_back(one.training_error);
    }
}

// Every test row's answer: the label whose list scores it highest, by its
// decision sum or under `vote` and `average` its prefixes' combined score
// (exactly the sums' order under `last`). The lists are scored together,
// so that a row several lists hold is evaluated once.
void score(const ClassifyOptions& options, const LabelRecognisers& made, const programma::SampleSet& test,
           const std::vector<uint32_t>& order, ClassifyResult& result) {
    auto scored =
        programma::decision_scores(made.training, made.recognisers, result.lists, test,
                                   {{options.epoch_count(), options.combine}}, cancel_flag(), engine_options(), order);
    // The only refusal here: restored lists that imply more epochs.
    if (!scored && scored.error().kind == programma::ErrorKind::invalid_argument) {
        throw std::runtime_error(scored.error().message() + " (" + options.epochs_from + ")");
    }
    auto scores = programma::value_or_throw(std::move(scored));
    result.answers = best_labels(scores, test.rows())[0];
    for (std::vector<std::vector<double>>& label : scores) result.scores.push_back(std::move(label[0]));
    progress("scored the test rows against every label");
    if (!result.labelled) return;
    result.confusion.assign(result.true_labels.size(), std::vector<uint32_t>(result.labels.size(), 0));
    for (uint32_t r = 0; r < test.rows(); ++r) {
        const uint32_t answer = result.answers[r];
        result.confusion[position_of(result.true_labels, test.label(r))][answer] += 1;
        result.wrong += result.labels[answer] != test.label(r) ? 1 : 0;
    }
}

// A training error as programma prints it: times 100 in float, then "%f".
std::string percent(float fraction) { return printed("%f", static_cast<double>(fraction * 100.0f)); }

std::string counts(uint32_t rows, uint32_t columns) {
    return std::to_string(rows) + " rows of " + std::to_string(columns) + " numbers";
}

// A restore's lists must be there for every label of the training set, and
// its manifest must describe the training set.
void require_restorable(const ClassifyOptions& options, const Restored& restored, const programma::SampleSet& train,
                        const VouchedFile* training, const Labels& labels) {
    const Labels& listed = restored.manifest != nullptr ? restored.manifest->labels : digit_labels();
    for (const float label : labels) {
        if (position_of(listed, label) == listed.size()) {
            fail_in(options.training_set,
                    "has the label " + label_text(label) + ", for which " + restored.folder + " holds no list");
        }
    }
    const Manifest* manifest = restored.manifest;
    if (manifest == nullptr) return;
    if (manifest->rows != train.rows() || manifest->columns != train.columns()) {
        fail_in(options.training_set, "has " + counts(train.rows(), train.columns()) + "; the lists in " +
                                          restored.folder + " were trained on " +
                                          counts(manifest->rows, manifest->columns));
    }
    if (training->hash != manifest->hash) {
        fail_in(options.training_set, "is not the training set the lists in " + restored.folder +
                                          " were trained on: its bytes differ (another hash)");
    }
}

// Test rows of features only, given a label column (never read) so that
// they can be scored like any sample set.
programma::SampleSet unlabelled_rows(const std::string& path, const programma::SampleSet& train) {
    const programma::SampleSet rows = load_sample_set(path);
    if (rows.columns() + 1 != train.columns()) {
        fail_in(path, "unlabelled samples have " + std::to_string(rows.columns()) + " numbers, the training set's " +
                          std::to_string(train.features()) + " features");
    }
    std::vector<uint32_t> every_row(rows.rows());
    std::iota(every_row.begin(), every_row.end(), 0u);
    try {
        return rows_of(rows, every_row, LastColumn::feature);
    } catch (const programma::Failure& failure) {
        fail_in(path, failure.what());
    }
}

// Warns when the training features reach beyond [-1, 1], where the default
// gaussian constant (made for them) is far off.
void warn_of_unscaled_features(const programma::SampleSet& train) {
    float least = std::numeric_limits<float>::infinity(), greatest = -least;
    for (uint32_t r = 0; r < train.rows(); ++r) {
        for (uint32_t f = 0; f < train.features(); ++f) {
            least = std::fmin(least, train.row(r)[f]);
            greatest = std::fmax(greatest, train.row(r)[f]);
        }
    }
    if (least >= -1.0f && greatest <= 1.0f) return;
    warn("the training features reach from " + parameter_text(least) + " to " + parameter_text(greatest) +
         ", beyond [-1, 1]: map them onto it with digit-tools scale, or take the gaussian constant from the data "
         "with -c scale");
}

// How the labelled test rows were answered, by the labels' texts.
TestTally test_tally(const ClassifyResult& result) {
    return {label_texts(result.labels), label_texts(result.true_labels), result.confusion, result.wrong,
            uint32_t(result.answers.size())};
}

// The reports speak of digits where every label is one.
const char* noun(const ClassifyResult& result) { return digits_only(result.true_labels) ? "digit" : "label"; }

std::string training_error_text(const ClassifyResult& result, std::size_t label) {
    return result.training_error[label] ? percent(*result.training_error[label]) : "";
}

// The line that names a margin above 0, before the Markdown report.
std::string margin_line(const ClassifyResult& result) {
    if (!(result.margin > 0.0f)) return "";
    return "Margin " + parameter_text(result.margin) + ": each list holds the rows that were wrong or too close.\n\n";
}

std::string markdown_report(const ClassifyResult& result) {
    const std::string constant =
        result.constant_from_data
            ? "Gaussian constant from the training data (-c scale): " + parameter_text(result.kernel.parameter) + "\n\n"
            : "";
    TableRows lists = {{noun(result), "mistakes", "training error (%)"}};
    for (std::size_t i = 0; i < result.labels.size(); ++i) {
        const std::string error = training_error_text(result, i);
        lists.push_back(
            {label_text(result.labels[i]), std::to_string(result.lists[i].size()), error.empty() ? "-" : error});
    }
    if (!result.labelled) return constant + margin_line(result) + format_table(lists, false);
    return constant + margin_line(result) + format_table(lists, false) + "\n" + tally_markdown(test_tally(result));
}

// A row's list columns: its mistakes and training error, empty for a label
// no recogniser answers.
std::vector<std::string> list_cells(const ClassifyResult& result, float label) {
    const std::size_t i = position_of(result.labels, label);
    if (i == result.labels.size()) return {label_text(label), "", ""};
    return {label_text(label), std::to_string(result.lists[i].size()), training_error_text(result, i)};
}

// A margin above 0 as the last column of every row.
std::string with_margin_column(TableRows& table, float margin) {
    if (margin > 0.0f) {
        table[0].push_back("margin");
        for (std::size_t r = 1; r < table.size(); ++r) table[r].push_back(parameter_text(margin));
    }
    return format_table(table, true);
}

// One table: a row per true label, then the totals.
std::string csv_report(const ClassifyResult& result) {
    TableRows table = {{noun(result), "mistakes", "training_error_percent"}};
    if (!result.labelled) {
        for (const float label : result.labels) table.push_back(list_cells(result, label));
        return with_margin_column(table, result.margin);
    }
    const TableRows tested = tally_csv(test_tally(result));
    for (std::size_t truth = 0; truth < result.true_labels.size(); ++truth)
        table.push_back(list_cells(result, result.true_labels[truth]));
    table.push_back({"all", "", ""});
    for (std::size_t r = 0; r < table.size(); ++r) table[r].insert(table[r].end(), tested[r].begin(), tested[r].end());
    return with_margin_column(table, result.margin);
}

}  // namespace

KernelSpec ClassifyOptions::kernel(float data_constant) const {
    const float gaussian = constant ? constant->resolved(data_constant) : programma::kDefaultConstant;
    return programma::kernel_spec(kind.value_or(programma::kDefaultKernel), degree.value_or(programma::kDefaultDegree),
                                  gaussian);
}

uint32_t ClassifyOptions::epoch_count() const { return epochs.value_or(programma::kDefaultEpochs); }

float ClassifyOptions::training_margin() const { return margin.value_or(0.0f); }

void adopt_manifest(ClassifyOptions& options, const Manifest& manifest, const std::string& path) {
    const auto differs = [](std::optional<float> a, float b) {
        return a && std::bit_cast<uint32_t>(*a) != std::bit_cast<uint32_t>(b);
    };
    const bool gaussian = manifest.kernel.kind == KernelKind::gaussian;
    const std::optional<float> constant = options.constant ? std::optional(options.constant->value) : std::nullopt;
    const char* contradicted = nullptr;
    if (options.kind && *options.kind != manifest.kernel.kind) contradicted = "-k";
    if (gaussian && differs(constant, manifest.kernel.parameter)) contradicted = "-c";
    if (!gaussian && differs(options.degree, manifest.kernel.parameter)) contradicted = "-d";
    if (options.epochs && *options.epochs != manifest.epochs) contradicted = "-e";
    if (options.margin && *options.margin != manifest.margin) contradicted = "--margin";  // -0 is 0
    if (options.shuffle && options.shuffle != manifest.shuffle) contradicted = "--shuffle";
    if (contradicted != nullptr) {
        std::string made_with = format_manifest(manifest);
        made_with =
            made_with.substr(made_with.find('\n') + 1, made_with.find("\ntraining-rows") - made_with.find('\n') - 1);
        std::replace(made_with.begin(), made_with.end(), '\n', ',');
        throw std::invalid_argument(std::string(contradicted) + " contradicts " + path + ": the lists were made with " +
                                    made_with);
    }
    options.kind = manifest.kernel.kind;
    if (gaussian) {
        options.constant = ConstantChoice{false, manifest.kernel.parameter};
    } else {
        options.degree = manifest.kernel.parameter;
    }
    options.epochs = manifest.epochs;
    options.margin = manifest.margin;
    options.shuffle = manifest.shuffle;
    options.epochs_from = where_in(manifest, path, "epochs");
    // A manifest's values are a file's, not the command line's: a refusal
    // is a failed run, naming the line at fault.
    const programma::Recogniser adopted{0, options.kernel(), options.epoch_count(), options.training_margin()};
    if (const programma::Status checked = programma::check(adopted); !checked) {
        const std::string& field = checked.error().field;
        const std::string key = field == "epochs" || field == "margin" ? field : gaussian ? "constant" : "degree";
        throw std::runtime_error(where_in(manifest, path, key) + ": " + checked.error().detail);
    }
}

ClassifyResult classify(const ClassifyOptions& options, const VouchedFile* training, const Restored& restored,
                        const std::function<void(const Labels&)>& before_training) {
    programma::SampleSet train = load_sample_set(options.training_set);
    std::optional<programma::FeatureRanges> ranges;
    if (!options.ranges.empty()) {
        ranges = saved_ranges(options.ranges, train.features(), options.training_set);
        train = scaled_rows(*ranges, train, options.training_set);
    }
    ClassifyResult result;
    result.labelled = !options.unlabelled;
    result.margin = options.training_margin();
    result.training_rows = train.rows();
    result.training_columns = train.columns();
    result.labels = labels_of(train, options.training_set);
    require_two_labels(result.labels, options.training_set);
    if (!restored.folder.empty()) require_restorable(options, restored, train, training, result.labels);
    programma::SampleSet test =
        options.unlabelled ? unlabelled_rows(options.test_set, train) : load_sample_set(options.test_set);
    require_training_width(test, options.test_set, train);
    if (ranges) test = scaled_rows(*ranges, test, options.test_set);
    result.true_labels = joined(result.labels, result.labelled ? labels_of(test, options.test_set) : Labels{});
    if (before_training) before_training(result.labels);
    result.constant_from_data = options.constant && options.constant->from_data;
    result.kernel = options.kernel(result.constant_from_data ? programma::scale_constant(train) : 1.0f);
    const std::vector<uint32_t> order = training_order(train.rows(), options.shuffle);
    const LabelRecognisers made =
        label_recognisers(train, result.labels, result.kernel, options.epoch_count(), options.training_margin());
    if (restored.folder.empty()) {
        if (!options.constant) warn_of_unscaled_features(train);
        if (!options.shuffle) warn_of_long_runs(train.labels());
        train_all(made, order, result);
    } else {
        result.lists = read_lists(restored.folder, result.labels, train.rows(), restored.manifest);
        result.training_error.assign(result.labels.size(), std::nullopt);
    }
    score(options, made, test, order, result);
    if (!options.save_model.empty()) {
        result.model = label_model(
            {&made, &result.labels, &result.lists, &order, options.shuffle, options.combine, std::move(ranges)});
    }
    return result;
}

std::vector<uint32_t> training_order(uint32_t rows, std::optional<uint64_t> seed) {
    return seed ? programma::seeded_order(rows, *seed) : std::vector<uint32_t>{};
}

void warn_of_long_runs(const std::vector<float>& labels_in_order) {
    const programma::LabelRuns runs = programma::label_runs(labels_in_order);
    if (!runs.long_runs) return;
    warn("the training rows come in long runs of one label (the label changes " + std::to_string(runs.changes) +
         " times, about " + printed("%.0f", runs.expected) +
         " in a random order), and training visits them in order; give --shuffle SEED to train in a seeded order");
}

Manifest manifest_of(const ClassifyOptions& options, const ClassifyResult& result, const VouchedFile& training) {
    Manifest manifest{result.kernel,   options.epoch_count(), options.training_margin(),
                      options.shuffle, result.training_rows,  result.training_columns,
                      training.hash,   result.labels};
    return manifest;
}

std::string classify_report(const ClassifyResult& result, bool csv) {
    return csv ? csv_report(result) : markdown_report(result);
}

std::string answers_text(const ClassifyResult& result) {
    std::string text;
    for (const uint32_t answer : result.answers) text += label_text(result.labels[answer]) + "\n";
    return text;
}

HeatMap confusion_map(const ClassifyResult& result, const ClassifyOptions& options) {
    HeatMap map;
    const KernelSpec kernel = result.kernel;
    const bool gaussian = kernel.kind == KernelKind::gaussian;
    const std::string shuffle = options.shuffle ? " --shuffle " + std::to_string(*options.shuffle) : "";
    // The title names the test set's file, not its folder, so that the
    // picture does not depend on where the data lies.
    map.title = std::string("classify -k ") + kernel_name(kernel.kind) + (gaussian ? " -c " : " -d ") +
                parameter_text(kernel.parameter) + " -e " + std::to_string(options.epoch_count()) +
                (result.margin > 0.0f ? " --margin " + parameter_text(result.margin) : "") + " --combine " +
                combine_name(options.combine) + shuffle + ": " +
                std::filesystem::path(options.test_set).filename().string();
    map.x_title = "answer";
    map.y_title = std::string("true ") + noun(result);
    map.key_title = "test rows";
    for (const float label : result.labels) map.x_labels.push_back(label_text(label));
    for (std::size_t truth = 0; truth < result.true_labels.size(); ++truth) {
        map.y_labels.push_back(label_text(result.true_labels[truth]));
        map.values.emplace_back(result.confusion[truth].begin(), result.confusion[truth].end());
    }
    return map;
}
