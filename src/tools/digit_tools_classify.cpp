// The ten-digit recogniser: ten kernel-perceptron trainings on the engine
// (one a thread, each silent, each giving programma's mistake list), the
// decision sums of every test row against each list, and the greatest sum's
// digit as the answer.
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
#include "fast_perceptron.h"
#include "mistake_file.h"
#include "worker_pool.h"

namespace {

// A line of progress on standard error, when it is a terminal.
void progress(const std::string& text) {
    static const bool shown = ::isatty(2) != 0;
    if (shown) std::fprintf(stderr, "digit-tools: %s\n", text.c_str());
}

std::string list_path(const std::string& folder, uint32_t digit) {
    return folder + "/" + std::to_string(digit) + ".list";
}

void train_all(const ClassifyOptions& options, const SampleMatrix& train, ClassifyResult& result) {
    std::array<int, 10> status{};
    std::array<float, 10> errors{};
    std::atomic<int> done{0};
    parallel_for(10, 1, [&](std::size_t begin, std::size_t end) {
        for (std::size_t d = begin; d < end; ++d) {
            status[d] = run_fast(options.epochs, uint32_t(d), options.ker, result.lists[d], train, train.columns,
                                 train.rows, errors[d], true);
            progress("trained the recogniser of digit " + std::to_string(d) + " (" + std::to_string(++done) +
                     " of 10)");
        }
    });
    for (uint32_t d = 0; d < 10; ++d) {
        if (status[d] != 0) throw std::bad_alloc();
        result.training_error[d] = errors[d];
    }
}

void restore_all(const std::string& folder, const SampleMatrix& train, ClassifyResult& result) {
    for (uint32_t d = 0; d < 10; ++d) {
        const std::string path = list_path(folder, d);
        const std::string text = read_whole_file(path);
        create_list(result.lists[d]);
        uint32_t entry = 0;
        for (uint32_t index : parse_list_text(text)) {
            ++entry;
            if (index >= train.rows) {
                fail_in(path, "entry " + std::to_string(entry) + " (index " + std::to_string(index) +
                                  ") names no row of the " + std::to_string(train.rows) + "-row training set");
            }
            add_list(int32_t(index), result.lists[d]);
        }
    }
}

void score(KernelSpec ker, const SampleMatrix& train, const SampleMatrix& test, ClassifyResult& result) {
    std::array<std::vector<float>, 10> sums;
    for (uint32_t d = 0; d < 10; ++d) {
        sums[d] = decision_sums(ker, d, *result.lists[d], train, test);
        progress("scored the test rows against digit " + std::to_string(d));
    }
    result.answers.resize(test.rows);
    for (uint32_t r = 0; r < test.rows; ++r) {
        std::array<float, 10> row;
        for (uint32_t d = 0; d < 10; ++d) row[d] = sums[d][r];
        const uint8_t answer = ten_class_answer(row);
        const auto truth = static_cast<uint32_t>(test.row(r)[test.columns - 1]);
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

// The rows of a table, joined as Markdown (with a header rule) or CSV.
std::string table(const std::vector<std::vector<std::string>>& rows, bool csv) {
    std::string text;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            text += csv ? (c > 0 ? "," : "") : (c > 0 ? " | " : "| ");
            text += rows[r][c];
        }
        text += csv ? "\n" : " |\n";
        if (r == 0 && !csv) {
            for (std::size_t c = 0; c < rows[r].size(); ++c) text += "|---:";
            text += "|\n";
        }
    }
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

void require_digit_labels(const SampleMatrix& set, const std::string& file) {
    for (uint32_t r = 0; r < set.rows; ++r) {
        const float label = set.row(r)[set.columns - 1];
        if (!(label >= 0.0f && label <= 9.0f && label == std::trunc(label))) {
            char shown[32];
            std::snprintf(shown, sizeof shown, "%g", static_cast<double>(label));
            fail_in(file, "row " + std::to_string(r + 1) + ": label " + shown + " is not a whole number from 0 to 9");
        }
    }
}

ClassifyResult classify_digits(const ClassifyOptions& options) {
    const SampleMatrix train = load_sample_set(options.training_set);
    require_digit_labels(train, options.training_set);
    const SampleMatrix test = load_sample_set(options.test_set);
    if (test.columns != train.columns) {
        fail_in(options.test_set, "samples have " + std::to_string(test.columns) + " numbers, the training set's have " +
                                      std::to_string(train.columns));
    }
    require_digit_labels(test, options.test_set);
    ClassifyResult result;
    if (options.restore.empty()) {
        train_all(options, train, result);
    } else {
        restore_all(options.restore, train, result);
    }
    score(options.ker, train, test, result);
    return result;
}

std::string classify_report(const ClassifyResult& result, bool csv) {
    std::vector<std::vector<std::string>> digits = {{"digit", "mistakes", "training error (%)"}};
    for (uint32_t d = 0; d < 10; ++d) {
        const float* error = result.training_error[d] ? &*result.training_error[d] : nullptr;
        digits.push_back({std::to_string(d), std::to_string(result.lists[d]->count), error ? percent(*error) : "-"});
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
        csv ? table({{"wrong", "rows", "test error (%)"}, {std::to_string(result.wrong), std::to_string(rows), error}}, true)
            : "Ten-class test error: " + std::to_string(result.wrong) + " wrong of " + std::to_string(rows) + " rows, " +
                  error + "%\n";
    return table(digits, csv) + "\n" + summary + "\n" + table(confusion, csv);
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
            std::vector<int32_t> entries;
            read_list(entries, result.lists[d].get());
            if (!save_text(list_path(options.lists, d).c_str(), list_text(entries))) {
                fail_in(options.lists, "the lists could not all be saved");
            }
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
