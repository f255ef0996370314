// The gaussian constant from the data, the seeded order of the rows, folds
// for cross-validation, and the test for long runs of one label.
#include <bit>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <unordered_map>

#include "programma/preparation.h"

namespace programma {

namespace {

Error invalid(const std::string& field, const std::string& detail) {
    return Error{ErrorKind::invalid_argument, detail, {}, 0, 0, field};
}

// Labels as classes: equal as reals are one class (-0 and +0 too), and
// every NaN is one class. Each label's class, numbered as they first appear.
struct LabelClasses {
    std::vector<uint32_t> of_row;
    std::vector<uint64_t> counts;  // by class
};

LabelClasses label_classes(const std::vector<float>& labels) {
    LabelClasses classes;
    std::unordered_map<uint32_t, uint32_t> numbers;  // a label's bits, made canonical, and its class
    classes.of_row.reserve(labels.size());
    for (const float label : labels) {
        const float canonical =
            std::isnan(label) ? std::numeric_limits<float>::quiet_NaN() : (label == 0.0f ? 0.0f : label);
        const auto [at, added] = numbers.try_emplace(std::bit_cast<uint32_t>(canonical), uint32_t(numbers.size()));
        if (added) classes.counts.push_back(0);
        ++classes.counts[at->second];
        classes.of_row.push_back(at->second);
    }
    return classes;
}

// Refuses fewer than 2 folds, and an order that is not a permutation of
// `rows` rows.
Status check_folds(const std::vector<uint32_t>& order, std::size_t rows, uint32_t folds) {
    if (folds < 2) return invalid("folds", "cross-validation needs 2 folds or more");
    if (order.size() != rows) {
        return invalid("order",
                       "the order holds " + std::to_string(order.size()) + " rows, not " + std::to_string(rows));
    }
    std::vector<bool> seen(rows, false);
    for (const uint32_t row : order) {
        if (row >= rows || seen[row]) return invalid("order", "the order is not a permutation of the rows");
        seen[row] = true;
    }
    return Done{};
}

}  // namespace

float scale_constant(const SampleSet& training) {
    const uint32_t features = training.features();
    const double count = double(training.rows()) * double(features);
    double sum = 0.0;
    for (uint32_t r = 0; r < training.rows(); ++r) {
        for (uint32_t f = 0; f < features; ++f) sum += double(training.row(r)[f]);
    }
    const double mean = sum / count;
    double squares = 0.0;
    for (uint32_t r = 0; r < training.rows(); ++r) {
        for (uint32_t f = 0; f < features; ++f) {
            const double difference = double(training.row(r)[f]) - mean;
            squares += difference * difference;
        }
    }
    const double variance = squares / count;
    if (!std::isfinite(variance) || variance == 0.0) return 1.0f;
    const float constant = static_cast<float>(double(features) * variance);
    return std::isfinite(constant) && constant > 0.0f ? constant : 1.0f;
}

std::vector<uint32_t> seeded_order(uint32_t rows, uint64_t seed) {
    std::vector<uint32_t> order(rows);
    std::iota(order.begin(), order.end(), uint32_t(0));
    std::mt19937_64 random(seed);
    for (uint32_t i = rows; i > 1; --i) std::swap(order[i - 1], order[random() % i]);
    return order;
}

Result<std::vector<uint32_t>> contiguous_folds(const std::vector<uint32_t>& order, uint32_t folds) {
    const std::size_t rows = order.size();
    if (Status checked = check_folds(order, rows, folds); !checked) return checked.error();
    if (folds > rows) {
        return invalid("folds", std::to_string(folds) + " folds need as many rows, there are " + std::to_string(rows));
    }
    std::vector<uint32_t> fold_of(rows);
    for (uint32_t f = 0; f < folds; ++f) {
        const std::size_t begin = f * rows / folds;
        const std::size_t end = (f + 1) * rows / folds;
        for (std::size_t p = begin; p < end; ++p) fold_of[order[p]] = f;
    }
    return fold_of;
}

Result<std::vector<uint32_t>> stratified_folds(const std::vector<float>& labels, const std::vector<uint32_t>& order,
                                               uint32_t folds) {
    if (Status checked = check_folds(order, labels.size(), folds); !checked) return checked.error();
    const LabelClasses classes = label_classes(labels);
    uint64_t most = 0;
    for (const uint64_t count : classes.counts) most = std::max(most, count);
    if (most < folds) {
        return invalid("folds", "fold " + std::to_string(most + 1) + " of " + std::to_string(folds) +
                                    " would hold no row: no label has more than " + std::to_string(most) + " rows");
    }
    std::vector<uint64_t> placed(classes.counts.size(), 0);  // by class: its rows met so far
    std::vector<uint32_t> fold_of(labels.size());
    for (const uint32_t row : order) fold_of[row] = uint32_t(placed[classes.of_row[row]]++ % folds);
    return fold_of;
}

LabelRuns label_runs(const std::vector<float>& labels) {
    const LabelClasses classes = label_classes(labels);
    LabelRuns runs;
    for (std::size_t i = 1; i < labels.size(); ++i) {
        if (classes.of_row[i] != classes.of_row[i - 1]) ++runs.changes;
    }
    if (labels.size() < 2) return runs;
    const double n = double(labels.size());
    double squares = 0.0;
    for (const uint64_t count : classes.counts) {
        const double share = double(count) / n;
        squares += share * share;
    }
    runs.expected = (n - 1.0) * (1.0 - squares);
    runs.long_runs = double(runs.changes) < runs.expected / 4.0;
    return runs;
}

}  // namespace programma
