// Labels read from sample sets, written and read back in full, and the
// recognisers that answer them.
#include "labels.h"

#include <algorithm>
#include <cmath>

#include "samples.h"
#include "text.h"

namespace {

bool whole(float label) { return std::isfinite(label) && label == std::trunc(label); }

// -0 is the label 0.
float canonical(float label) { return label == 0.0f ? 0.0f : label; }

Labels sorted_distinct(Labels labels) {
    std::sort(labels.begin(), labels.end());
    labels.erase(std::unique(labels.begin(), labels.end()), labels.end());
    return labels;
}

// The set with each label replaced by its position among `labels`.
programma::SampleSet by_position(const programma::SampleSet& set, const Labels& labels) {
    const uint32_t features = set.features();
    std::vector<float> values, positions;
    values.reserve(std::size_t(set.rows()) * features);
    positions.reserve(set.rows());
    for (uint32_t r = 0; r < set.rows(); ++r) {
        values.insert(values.end(), set.row(r), set.row(r) + features);
        positions.push_back(float(position_of(labels, set.label(r))));
    }
    return programma::value_or_throw(
        programma::samples_from_memory(values.data(), positions.data(), set.rows(), features));
}

}  // namespace

const Labels& digit_labels() {
    static const Labels digits = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    return digits;
}

Labels labels_of(const programma::SampleSet& set, const std::string& file) {
    Labels labels;
    for (uint32_t r = 0; r < set.rows(); ++r) {
        const float label = set.label(r);
        if (!whole(label)) {
            fail_in(file, "row " + std::to_string(r) + " (counted from 0): label " +
                              printed("%g", static_cast<double>(label)) + " is not a whole number");
        }
        labels.push_back(canonical(label));
    }
    return sorted_distinct(std::move(labels));
}

Labels labels_of_rows(const programma::SampleSet& set, const std::vector<uint32_t>& rows) {
    Labels labels;
    for (const uint32_t r : rows) labels.push_back(canonical(set.label(r)));
    return sorted_distinct(std::move(labels));
}

void require_two_labels(const Labels& labels, const std::string& file) {
    if (labels.size() >= 2) return;
    fail_in(file, "every row has the label " + (labels.empty() ? "?" : label_text(labels[0])) +
                      ": recognisers need two labels or more to tell apart");
}

std::size_t position_of(const Labels& labels, float label) {
    const auto at = std::lower_bound(labels.begin(), labels.end(), label);
    return at != labels.end() && *at == label ? std::size_t(at - labels.begin()) : labels.size();
}

Labels joined(const Labels& a, const Labels& b) {
    Labels both = a;
    both.insert(both.end(), b.begin(), b.end());
    return sorted_distinct(std::move(both));
}

bool digits_only(const Labels& labels) {
    return std::all_of(labels.begin(), labels.end(), [](float label) { return label >= 0 && label <= 9; });
}

std::string label_text(float label) { return printed("%.0f", static_cast<double>(canonical(label))); }

bool parse_label(std::string_view text, float& label) {
    return parse_float(text, label) && whole(label) && label_text(label) == text;
}

LabelRecognisers label_recognisers(const programma::SampleSet& training, const Labels& labels,
                                   programma::KernelSpec kernel, uint32_t epochs, float margin) {
    constexpr float kBeyondTargets = 4294967296.0f;  // 2^32
    const bool targets =
        std::all_of(labels.begin(), labels.end(), [&](float label) { return label >= 0 && label < kBeyondTargets; });
    LabelRecognisers made{targets ? training : by_position(training, labels), {}};
    for (std::size_t i = 0; i < labels.size(); ++i) {
        made.recognisers.push_back({targets ? uint32_t(labels[i]) : uint32_t(i), kernel, epochs, margin});
    }
    return made;
}

std::vector<std::vector<uint32_t>> best_labels(const std::vector<std::vector<std::vector<double>>>& scores,
                                               uint32_t rows) {
    const std::size_t cells = scores.empty() ? 0 : scores[0].size();
    std::vector<std::vector<uint32_t>> answers(cells, std::vector<uint32_t>(rows));
    std::vector<double> row(scores.size());
    for (std::size_t c = 0; c < cells; ++c) {
        for (uint32_t r = 0; r < rows; ++r) {
            for (std::size_t i = 0; i < scores.size(); ++i) row[i] = scores[i][c][r];
            answers[c][r] = uint32_t(programma::best_of(row.data(), row.size()));
        }
    }
    return answers;
}
