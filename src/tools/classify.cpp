// The ten-digit recogniser: ten kernel-perceptron trainings through the
// library (side by side, each silent, each giving programma's mistake
// list), the decision sums of every test row against each list, and the
// greatest sum's digit as the answer.
#include "classify.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <filesystem>
#include <numeric>
#include <stdexcept>

#include "manifest.h"
#include "samples.h"
#include "text.h"

namespace {

void train_all(const ClassifyOptions& options, const programma::SampleSet& train, ClassifyResult& result) {
    std::atomic<int> done{0};
    const auto trained_one = [&](std::size_t d) {
        progress("trained the recogniser of digit " + std::to_string(d) + " (" + std::to_string(++done) + " of 10)");
    };
    std::vector<programma::Trained> trained = programma::value_or_throw(programma::train(
        train, digit_recognisers(options.kernel(), options.epoch_count()), nullptr, trained_one, engine_options()));
    for (uint32_t d = 0; d < 10; ++d) {
        result.lists[d] = std::move(trained[d].mistakes);
        result.training_error[d] = trained[d].training_error;
    }
}

void restore_all(const std::string& folder, const programma::SampleSet& train, ClassifyResult& result) {
    for (uint32_t d = 0; d < 10; ++d) result.lists[d] = restored_list(list_path(folder, d), train.rows());
}

// Every test row's scores against each digit's list: its decision sums, or
// under `vote` and `average` the prefixes' combined scores (exactly the
// sums' order under `last`). The ten lists are scored together, so that a
// row several lists hold is evaluated once.
std::vector<std::vector<double>> digit_scores(const ClassifyOptions& options, const programma::SampleSet& train,
                                              const programma::SampleSet& test, const ClassifyResult& result) {
    auto scored = programma::decision_scores(train, digit_recognisers(options.kernel(), options.epoch_count()),
                                             {result.lists.begin(), result.lists.end()}, test,
                                             {{options.epoch_count(), options.combine}}, nullptr, engine_options());
    // The only refusal here: restored lists that imply more epochs.
    if (!scored) throw std::runtime_error(scored.error().message() + " (-e)");
    std::vector<std::vector<double>> scores;
    for (std::vector<std::vector<double>>& digit : scored.value()) scores.push_back(std::move(digit[0]));
    progress("scored the test rows against every digit");
    return scores;
}

void score(const ClassifyOptions& options, const programma::SampleSet& train, const programma::SampleSet& test,
           ClassifyResult& result) {
    const std::vector<std::vector<double>> scores = digit_scores(options, train, test, result);
    result.answers.resize(test.rows());
    for (uint32_t r = 0; r < test.rows(); ++r) {
        double row[10];
        for (uint32_t d = 0; d < 10; ++d) row[d] = scores[d][r];
        const auto answer = static_cast<uint8_t>(programma::best_of(row, 10));
        result.answers[r] = answer;
        if (!result.labelled) continue;
        const auto truth = static_cast<uint32_t>(test.label(r));
        result.confusion[truth][answer] += 1;
        result.wrong += answer != truth ? 1 : 0;
    }
}

// A share of rows as programma prints it: times 100 in float, then "%f".
std::string percent(float fraction) { return printed("%f", static_cast<double>(fraction * 100.0f)); }

void require_manifest_set(const Manifest& manifest, const ClassifyOptions& options, const programma::SampleSet& train) {
    const auto counts = [](uint32_t rows, uint32_t columns) {
        return std::to_string(rows) + " rows of " + std::to_string(columns) + " numbers";
    };
    if (manifest.rows != train.rows() || manifest.columns != train.columns()) {
        fail_in(options.training_set, "has " + counts(train.rows(), train.columns()) + "; the lists in " +
                                          options.restore + " were trained on " +
                                          counts(manifest.rows, manifest.columns));
    }
    if (file_hash(options.training_set) != manifest.hash) {
        fail_in(options.training_set, "is not the training set the lists in " + options.restore +
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

std::string training_error_text(const ClassifyResult& result, uint32_t digit) {
    return result.training_error[digit] ? percent(*result.training_error[digit]) : "";
}

std::string markdown_report(const ClassifyResult& result) {
    TableRows digits = {{"digit", "mistakes", "training error (%)"}};
    for (uint32_t d = 0; d < 10; ++d) {
        const std::string error = training_error_text(result, d);
        digits.push_back({std::to_string(d), std::to_string(result.lists[d].size()), error.empty() ? "-" : error});
    }
    if (!result.labelled) return format_table(digits, false);
    const uint32_t rows = uint32_t(result.answers.size());
    TableRows confusion = {{"true digit \\ answer"}};
    for (uint32_t d = 0; d < 10; ++d) confusion[0].push_back(std::to_string(d));
    for (uint32_t truth = 0; truth < 10; ++truth) {
        confusion.push_back({std::to_string(truth)});
        for (uint32_t count : result.confusion[truth]) confusion.back().push_back(std::to_string(count));
    }
    return format_table(digits, false) + "\nTen-class test error: " + std::to_string(result.wrong) + " wrong of " +
           std::to_string(rows) + " rows, " + percent(programma::error_fraction(result.wrong, rows)) + "%\n\n" +
           format_table(confusion, false);
}

// One table: a row per digit, then the totals.
std::string csv_report(const ClassifyResult& result) {
    TableRows table = {{"digit", "mistakes", "training_error_percent"}};
    if (result.labelled) {
        table[0].insert(table[0].end(), {"test_rows", "test_wrong", "test_error_percent"});
        for (uint32_t d = 0; d < 10; ++d) table[0].push_back("answered_" + std::to_string(d));
    }
    std::array<uint32_t, 10> answered{};
    for (uint32_t d = 0; d < 10; ++d) {
        table.push_back({std::to_string(d), std::to_string(result.lists[d].size()), training_error_text(result, d)});
        if (!result.labelled) continue;
        uint32_t rows = 0;
        for (uint32_t a = 0; a < 10; ++a) rows += result.confusion[d][a], answered[a] += result.confusion[d][a];
        const uint32_t wrong = rows - result.confusion[d][d];
        table.back().insert(table.back().end(), {std::to_string(rows), std::to_string(wrong),
                                                 percent(programma::error_fraction(wrong, rows))});
        for (uint32_t count : result.confusion[d]) table.back().push_back(std::to_string(count));
    }
    if (result.labelled) {
        const auto rows = uint32_t(result.answers.size());
        table.push_back({"all", "", "", std::to_string(rows), std::to_string(result.wrong),
                         percent(programma::error_fraction(result.wrong, rows))});
        for (uint32_t count : answered) table.back().push_back(std::to_string(count));
    }
    return format_table(table, true);
}

}  // namespace

std::vector<programma::Recogniser> digit_recognisers(KernelSpec kernel, uint32_t epochs) {
    std::vector<programma::Recogniser> recognisers;
    for (uint32_t d = 0; d < 10; ++d) recognisers.push_back({d, kernel, epochs});
    return recognisers;
}

void require_digit_labels(const programma::SampleSet& set, const std::string& file) {
    for (uint32_t r = 0; r < set.rows(); ++r) {
        const float label = set.label(r);
        if (!(label >= 0.0f && label <= 9.0f && label == std::trunc(label))) {
            fail_in(file, "row " + std::to_string(r + 1) + ": label " + printed("%g", static_cast<double>(label)) +
                              " is not a whole number from 0 to 9");
        }
    }
}

KernelSpec ClassifyOptions::kernel() const {
    return programma::kernel_spec(kind.value_or(programma::kDefaultKernel), degree.value_or(programma::kDefaultDegree),
                                  constant.value_or(programma::kDefaultConstant));
}

uint32_t ClassifyOptions::epoch_count() const { return epochs.value_or(programma::kDefaultEpochs); }

void adopt_manifest(ClassifyOptions& options, const Manifest& manifest, const std::string& path) {
    const auto differs = [](std::optional<float> a, float b) {
        return a && std::bit_cast<uint32_t>(*a) != std::bit_cast<uint32_t>(b);
    };
    const bool gaussian = manifest.kernel.kind == KernelKind::gaussian;
    const char* contradicted = nullptr;
    if (options.kind && *options.kind != manifest.kernel.kind) contradicted = "-k";
    if (gaussian && differs(options.constant, manifest.kernel.parameter)) contradicted = "-c";
    if (!gaussian && differs(options.degree, manifest.kernel.parameter)) contradicted = "-d";
    if (options.epochs && *options.epochs != manifest.epochs) contradicted = "-e";
    if (contradicted != nullptr) {
        std::string made_with = format_manifest(manifest);
        made_with =
            made_with.substr(made_with.find('\n') + 1, made_with.find("\ntraining-rows") - made_with.find('\n') - 1);
        std::replace(made_with.begin(), made_with.end(), '\n', ',');
        throw std::invalid_argument(std::string(contradicted) + " contradicts " + path + ": the lists were made with " +
                                    made_with);
    }
    options.kind = manifest.kernel.kind;
    (gaussian ? options.constant : options.degree) = manifest.kernel.parameter;
    options.epochs = manifest.epochs;
    // A manifest's values are a file's, not the command line's: a refusal
    // is a failed run.
    const programma::Recogniser adopted{0, options.kernel(), options.epoch_count()};
    if (const programma::Status checked = programma::check(adopted); !checked) {
        fail_in(path, checked.error().detail);
    }
}

ClassifyResult classify_digits(const ClassifyOptions& options, const Manifest* manifest) {
    const programma::SampleSet train = load_sample_set(options.training_set);
    require_digit_labels(train, options.training_set);
    if (manifest != nullptr) require_manifest_set(*manifest, options, train);
    const programma::SampleSet test =
        options.unlabelled ? unlabelled_rows(options.test_set, train) : load_sample_set(options.test_set);
    require_training_width(test, options.test_set, train);
    if (!options.unlabelled) require_digit_labels(test, options.test_set);
    ClassifyResult result;
    result.labelled = !options.unlabelled;
    result.training_rows = train.rows();
    result.training_columns = train.columns();
    if (options.restore.empty()) {
        train_all(options, train, result);
    } else {
        restore_all(options.restore, train, result);
    }
    score(options, train, test, result);
    return result;
}

std::string classify_report(const ClassifyResult& result, bool csv) {
    return csv ? csv_report(result) : markdown_report(result);
}

HeatMap confusion_map(const Confusion& confusion, const ClassifyOptions& options) {
    HeatMap map;
    const KernelSpec kernel = options.kernel();
    const bool gaussian = kernel.kind == KernelKind::gaussian;
    // The title names the test set's file, not its folder, so that the
    // picture does not depend on where the data lies.
    map.title = std::string("classify -k ") + kernel_name(kernel.kind) + (gaussian ? " -c " : " -d ") +
                parameter_text(kernel.parameter) + " -e " + std::to_string(options.epoch_count()) + " --combine " +
                combine_name(options.combine) + ": " + std::filesystem::path(options.test_set).filename().string();
    map.x_title = "answer";
    map.y_title = "true digit";
    map.key_title = "test rows";
    for (uint32_t d = 0; d < 10; ++d) {
        map.x_labels.push_back(std::to_string(d));
        map.y_labels.push_back(std::to_string(d));
        map.values.emplace_back(confusion[d].begin(), confusion[d].end());
    }
    return map;
}
