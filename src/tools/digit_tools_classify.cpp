// The ten-digit recogniser: ten kernel-perceptron trainings through the
// library (side by side, each silent, each giving programma's mistake
// list), the decision sums of every test row against each list, and the
// greatest sum's digit as the answer.
#include "digit_tools_classify.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "digit_tools_samples.h"
#include "digit_tools_table.h"

namespace {

// A line of progress on standard error, when it is a terminal.
void progress(const std::string& text) {
    static const bool shown = ::isatty(2) != 0;
    if (shown) std::fprintf(stderr, "digit-tools: %s\n", text.c_str());
}

std::string list_path(const std::string& folder, uint32_t digit) {
    return folder + "/" + std::to_string(digit) + ".list";
}

programma::Recogniser recogniser(const ClassifyOptions& options, uint32_t digit) {
    return programma::Recogniser{digit, options.ker, options.epochs};
}

void train_all(const ClassifyOptions& options, const programma::SampleSet& train, ClassifyResult& result) {
    std::vector<programma::Recogniser> recognisers;
    for (uint32_t d = 0; d < 10; ++d) recognisers.push_back(recogniser(options, d));
    std::atomic<int> done{0};
    programma::Result<std::vector<programma::Trained>> trained =
        programma::train(train, recognisers, nullptr, [&](std::size_t d) {
            progress("trained the recogniser of digit " + std::to_string(d) + " (" + std::to_string(++done) +
                     " of 10)");
        });
    if (!trained) throw std::runtime_error(trained.error().message);
    for (uint32_t d = 0; d < 10; ++d) {
        result.lists[d] = std::move(trained.value()[d].mistakes);
        result.training_error[d] = trained.value()[d].training_error;
    }
}

void restore_all(const std::string& folder, const programma::SampleSet& train, ClassifyResult& result) {
    for (uint32_t d = 0; d < 10; ++d) result.lists[d] = restored_list(list_path(folder, d), train.rows());
}

void score(const ClassifyOptions& options, const programma::SampleSet& train, const programma::SampleSet& test,
           ClassifyResult& result) {
    std::array<std::vector<float>, 10> sums;
    for (uint32_t d = 0; d < 10; ++d) {
        programma::Result<std::vector<float>> scored =
            programma::decision_sums(train, recogniser(options, d), result.lists[d], test);
        if (!scored) throw std::runtime_error(scored.error().message);
        sums[d] = std::move(scored).value();
        progress("scored the test rows against digit " + std::to_string(d));
    }
    result.answers.resize(test.rows());
    for (uint32_t r = 0; r < test.rows(); ++r) {
        std::array<float, 10> row;
        for (uint32_t d = 0; d < 10; ++d) row[d] = sums[d][r];
        const uint8_t answer = ten_class_answer(row);
        const auto truth = static_cast<uint32_t>(test.label(r));
        result.answers[r] = answer;
        result.confusion[truth][answer] += 1;
        result.wrong += answer != truth ? 1 : 0;
    }
}

std::string percent(float fraction) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", static_cast<double>(fraction * 100.0f));
    return text;
}

}  // namespace

uint8_t ten_class_answer(const std::array<float, 10>& sums) {
    uint8_t best = 0;
    for (uint8_t d = 1; d < 10; ++d) {
        if (sums[d] > sums[best]) best = d;
    }
    return best;
}

void require_digit_labels(const programma::SampleSet& set, const std::string& file) {
    for (uint32_t r = 0; r < set.rows(); ++r) {
        const float label = set.label(r);
        if (!(label >= 0.0f && label <= 9.0f && label == std::trunc(label))) {
            char shown[32];
            std::snprintf(shown, sizeof shown, "%g", static_cast<double>(label));
            fail_in(file, "row " + std::to_string(r + 1) + ": label " + shown + " is not a whole number from 0 to 9");
        }
    }
}

ClassifyResult classify_digits(const ClassifyOptions& options) {
    const programma::SampleSet train = load_sample_set(options.training_set);
    require_digit_labels(train, options.training_set);
    const programma::SampleSet test = load_sample_set(options.test_set);
    if (test.columns() != train.columns()) {
        fail_in(options.test_set, "samples have " + std::to_string(test.columns()) +
                                      " numbers, the training set's have " + std::to_string(train.columns()));
    }
    require_digit_labels(test, options.test_set);
    ClassifyResult result;
    if (options.restore.empty()) {
        train_all(options, train, result);
    } else {
        restore_all(options.restore, train, result);
    }
    score(options, train, test, result);
    return result;
}

std::string classify_report(const ClassifyResult& result, bool csv) {
    std::vector<std::vector<std::string>> digits = {{"digit", "mistakes", "training error (%)"}};
    for (uint32_t d = 0; d < 10; ++d) {
        const float* error = result.training_error[d] ? &*result.training_error[d] : nullptr;
        digits.push_back({std::to_string(d), std::to_string(result.lists[d].size()), error ? percent(*error) : "-"});
    }
    const uint32_t rows = uint32_t(result.answers.size());
    const std::string error = percent(error_fraction(result.wrong, rows));
    std::vector<std::vector<std::string>> confusion = {{"true digit \\ answer"}};
    for (uint32_t d = 0; d < 10; ++d) confusion[0].push_back(std::to_string(d));
    for (uint32_t truth = 0; truth < 10; ++truth) {
        confusion.push_back({std::to_string(truth)});
        for (uint32_t count : result.confusion[truth]) confusion.back().push_back(std::to_string(count));
    }
    const std::string summary =
        csv ? format_table({{"wrong", "rows", "test error (%)"}, {std::to_string(result.wrong), std::to_string(rows), error}}, true)
            : "Ten-class test error: " + std::to_string(result.wrong) + " wrong of " + std::to_string(rows) + " rows, " +
                  error + "%\n";
    return format_table(digits, csv) + "\n" + summary + "\n" + format_table(confusion, csv);
}

GreyImage confusion_picture(const Confusion& confusion) {
    constexpr uint32_t kCell = 36, kMargin = 24, kCountScale = 2, kAxisScale = 3;
    GreyImage image(kMargin + 10 * kCell + 1, kMargin + 10 * kCell + 1, 255);
    for (uint32_t truth = 0; truth < 10; ++truth) {
        uint32_t total = 0;
        for (uint32_t count : confusion[truth]) total += count;
        const std::string digit = std::to_string(truth);
        draw_text(image, (kMargin - text_width(digit, kAxisScale)) / 2, kMargin + truth * kCell + (kCell - 15) / 2,
                  digit, kAxisScale);
        draw_text(image, kMargin + truth * kCell + (kCell - text_width(digit, kAxisScale)) / 2, (kMargin - 15) / 2,
                  digit, kAxisScale);
        for (uint32_t answer = 0; answer < 10; ++answer) {
            // Each true digit's row shaded by the share of its answers: white
            // for none, a middle grey for all, so that the counts stay legible.
            const uint32_t count = confusion[truth][answer];
            const auto grey = uint8_t(255 - (total == 0 ? 0 : 159 * uint64_t(count) / total));
            const uint32_t x0 = kMargin + answer * kCell, y0 = kMargin + truth * kCell;
            for (uint32_t y = y0; y <= y0 + kCell; ++y) {
                for (uint32_t x = x0; x <= x0 + kCell; ++x) {
                    const bool edge = y == y0 || y == y0 + kCell || x == x0 || x == x0 + kCell;
                    if (edge || image.at(x, y) == 255) image.at(x, y) = edge ? 160 : grey;
                }
            }
            const std::string text = std::to_string(count);
            draw_text(image, x0 + (kCell - text_width(text, kCountScale)) / 2, y0 + (kCell - 10) / 2, text, kCountScale);
        }
    }
    return image;
}

void run_classify(const ClassifyOptions& options) {
    const ClassifyResult result = classify_digits(options);
    const std::string report = classify_report(result, options.csv);
    std::fwrite(report.data(), 1, report.size(), stdout);
    std::fflush(stdout);
    if (!options.lists.empty()) {
        if (::mkdir(options.lists.c_str(), 0777) != 0 && errno != EEXIST) {
            fail_in(options.lists, std::string("cannot make the folder: ") + std::strerror(errno));
        }
        for (uint32_t d = 0; d < 10; ++d) {
            const programma::Status saved = programma::save_list(list_path(options.lists, d), result.lists[d]);
            if (!saved) throw std::runtime_error(saved.error().message);
        }
    }
    if (!options.predictions.empty()) {
        std::string text;
        for (uint8_t answer : result.answers) {
            text += char('0' + answer);
            text += '\n';
        }
        write_whole_file(options.predictions, text);
    }
    if (!options.plot.empty()) write_png(options.plot, confusion_picture(result.confusion));
}
