// The kernel perceptron in dual form. Every formula keeps the exact rounding
// sequence of the plain scalar loop: these functions are the reference that
// any faster evaluation must match bit for bit.
#include "perceptron_lib.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace {

// Element 256 of a sample row is shown by the polynomial trace; rows of fewer
// than 257 floats have none, and the trace shows NaN instead.
constexpr uint32_t kTracedElement = 256;

float kernel_value(KernelSpec ker, uint32_t n, const float* sample, const float* row, float& value) {
    switch (ker.kind) {
        case KernelKind::polynomial: ker_pol(n, sample, row, value, ker.parameter); break;
        case KernelKind::gaussian: ker_gauss(n, sample, row, value, ker.parameter); break;
    }
    return value;
}

// The kernel's value without the polynomial kernel's trace and pause: the
// same operations as ker_pol and ker_gauss.
float silent_kernel_value(KernelSpec ker, uint32_t n, const float* sample, const float* row) {
    float value = 0.0f;
    switch (ker.kind) {
        case KernelKind::polynomial: vect_pr(n, sample, row, value); return polynomial_of_dot(value, ker.parameter);
        case KernelKind::gaussian: ker_gauss(n, sample, row, value, ker.parameter); return value;
    }
    return value;
}

// The decision sum of classify, added silently.
float silent_decision_sum(KernelSpec ker, uint32_t digit, const float* sample, const SampleMatrix& tr_set,
                          uint32_t features, const int32_t* index_array, uint32_t count) {
    float sum = 0.0f;
    for (uint32_t m = 0; m < count; ++m) {
        const float* row = tr_set.row(static_cast<uint32_t>(index_array[m]));
        const float value = silent_kernel_value(ker, features, sample, row);
        sum = sum + static_cast<float>(target_label(row[features], digit)) * value;
    }
    return sum;
}

}  // namespace

float traced_element(uint32_t n, const float* row) {
    return n >= kTracedElement ? row[kTracedElement] : std::numeric_limits<float>::quiet_NaN();
}

// The scalar formulas are kept out of line. When two NaN operands meet, which
// one an operation returns depends on the order the compiler gives the
// operands, and that can differ between inlined copies; one copy of each
// formula, shared by the plain path and the fast engine's NaN fallback, gives
// the same NaN everywhere.
[[gnu::noinline]] float gaussian_of_distance(float distance, float constant) {
    float quotient = (-distance) / constant;
    return std::exp(quotient);
}

[[gnu::noinline]] float polynomial_of_dot(float dot, float degree) {
    float base = dot + 1.0f;
    return std::pow(base, degree);
}

[[gnu::noinline]] int vect_pr(uint32_t n, const float* a, const float* b, float& result) {
    result = 0.0f;
    for (uint32_t i = 0; i < n; ++i) {
        // The product of two floats is exact in double; the sum is rounded
        // back to float at every step.
        double product = static_cast<double>(a[i]) * static_cast<double>(b[i]);
        result = static_cast<float>(product + static_cast<double>(result));
    }
    return 0;
}

[[gnu::noinline]] int vect_diff_raised(uint32_t n, const float* a, const float* b, float& result) {
    float sum = 0.0f;
    for (uint32_t i = 0; i < n; ++i) {
        float difference = a[i] - b[i];
        float square = difference * difference;  // the correctly rounded square
        sum = sum + square;
    }
    result = sum;
    return 0;
}

[[gnu::noinline]] int vect_pr_float(uint32_t n, const float* a, const float* b, float& result) {
    float sum = 0.0f;
    for (uint32_t i = 0; i < n; ++i) {
        float product = a[i] * b[i];
        sum = sum + product;
    }
    result = sum;
    return 0;
}

int ker_pol(uint32_t n, const float* x, const float* y, float& result, float degree) {
    std::printf("Arg %u %f %f %f %f", n, static_cast<double>(traced_element(n, x)),
                static_cast<double>(traced_element(n, y)), static_cast<double>(result), static_cast<double>(degree));
    vect_pr(n, x, y, result);
    result = polynomial_of_dot(result, degree);
    std::printf("result vale %f", static_cast<double>(result));
    std::getchar();
    return 0;
}

int ker_gauss(uint32_t n, const float* x, const float* y, float& result, float constant) {
    float distance = 0.0f;
    vect_diff_raised(n, x, y, distance);
    result = gaussian_of_distance(distance, constant);
    return 0;
}

void classify(KernelSpec ker, uint32_t digit, const float* sample, const SampleMatrix& tr_set, uint32_t tr_columns,
              uint32_t /*tr_rows*/, const int32_t* index_array, uint32_t count, int32_t& answer) {
    const uint32_t features = tr_columns - 1;
    float sum = 0.0f;
    float value = 0.0f;  // the previous entry's kernel value, shown by the trace
    for (uint32_t m = 0; m < count; ++m) {
        const float* row = tr_set.row(static_cast<uint32_t>(index_array[m]));
        int32_t label = target_label(row[features], digit);
        kernel_value(ker, features, sample, row, value);
        sum = sum + static_cast<float>(label) * value;
    }
    answer = answer_of(sum);
}

bool prefix_weights(const int32_t* index_array, uint32_t count, uint32_t rows, uint32_t epochs,
                    std::vector<uint64_t>& weights, uint32_t& epochs_needed) {
    const uint64_t steps = uint64_t(epochs) * rows;
    weights.assign(std::size_t(count) + 1, 0);
    uint64_t epoch = 0;
    uint64_t previous_step = 0;  // the step that made the prefix before
    for (uint32_t k = 0; k < count; ++k) {
        const auto row = static_cast<uint32_t>(index_array[k]);
        if (k > 0 && starts_epoch(index_array[k - 1], index_array[k])) ++epoch;
        const uint64_t step = epoch * rows + row + 1;
        weights[k] = k == 0 ? step - 1 : step - previous_step;
        previous_step = step;
    }
    epochs_needed = count == 0 ? 0 : static_cast<uint32_t>(epoch + 1);
    if (count > 0 && epoch + 1 > epochs) return false;
    weights[count] = count == 0 ? steps : steps + 1 - previous_step;
    return true;
}

uint32_t entries_within(const int32_t* index_array, uint32_t count, uint32_t epochs) {
    uint32_t epoch = 0;
    for (uint32_t k = 0; k < count; ++k) {
        if (k > 0 && starts_epoch(index_array[k - 1], index_array[k])) ++epoch;
        if (epoch >= epochs) return k;
    }
    return count;
}

double combined_score(KernelSpec ker, uint32_t digit, const float* sample, const SampleMatrix& tr_set,
                      const int32_t* index_array, uint32_t count, const uint64_t* weights, Combine combine) {
    const uint32_t features = tr_set.columns - 1;
    CombinedScore score(combine, weights);
    float sum = 0.0f;
    score.add(sum);
    for (uint32_t m = 0; m < count; ++m) {
        const float* row = tr_set.row(static_cast<uint32_t>(index_array[m]));
        const float value = silent_kernel_value(ker, features, sample, row);
        sum = sum + static_cast<float>(target_label(row[features], digit)) * value;
        score.add(sum);
    }
    return score.score();
}

float self_kernel_value(KernelSpec ker, uint32_t n, const float* row) { return silent_kernel_value(ker, n, row, row); }

int run_margin(uint32_t epochs, uint32_t digit, KernelSpec ker, float margin, std::unique_ptr<IndexList>& list,
               const SampleMatrix& tr_set, uint32_t columns, uint32_t rows, float& error) {
    if (create_list(list) == -1) return 1;
    std::vector<int32_t> index_array;
    uint32_t last_wrong = 0;
    for (uint32_t epoch = 0; epoch < epochs; ++epoch) {
        AnswerCounts counts;
        for (uint32_t r = 0; r < rows; ++r) {
            const float* row = tr_set.row(r);
            const int32_t label = target_label(row[columns - 1], digit);
            const float sum = silent_decision_sum(ker, digit, row, tr_set, columns - 1, index_array.data(),
                                                  uint32_t(index_array.size()));
            counts.record(answer_of(sum), label);
            if (joins_list(sum, label, margin, self_kernel_value(ker, columns - 1, row))) {
                add_list(static_cast<int32_t>(r), list);
                index_array.push_back(static_cast<int32_t>(r));
            }
        }
        last_wrong = counts.wrong;
    }
    error = error_fraction(last_wrong, rows);
    return 0;
}

void run_in_order(uint32_t epochs, uint32_t digit, KernelSpec ker, const std::vector<uint32_t>& order,
                  const SampleMatrix& tr_set, std::vector<int32_t>& list, float& error) {
    const uint32_t features = tr_set.columns - 1;
    list.clear();
    uint32_t last_wrong = 0;
    for (uint32_t epoch = 0; epoch < epochs; ++epoch) {
        AnswerCounts counts;
        for (const uint32_t r : order) {
            const float* row = tr_set.row(r);
            const int32_t label = target_label(row[features], digit);
            const int32_t answer =
                answer_of(silent_decision_sum(ker, digit, row, tr_set, features, list.data(), uint32_t(list.size())));
            counts.record(answer, label);
            if (answer != label) list.push_back(static_cast<int32_t>(r));
        }
        last_wrong = counts.wrong;
    }
    error = error_fraction(last_wrong, uint32_t(order.size()));
}

void print_answers(const AnswerCounts& counts) {
    std::printf("I classified %u times 1 e %u times -1\n", counts.said_plus, counts.said_minus);
}

void finish_test(const AnswerCounts& counts, uint32_t rows, float& error) {
    error = error_fraction(counts.wrong, rows);
    print_answers(counts);
    std::printf("I was wrong %u times saying 1 e %u times saying -1\n", counts.wrong_plus, counts.wrong_minus);
}

int run(uint32_t epochs, uint32_t digit, KernelSpec ker, std::unique_ptr<IndexList>& list, const SampleMatrix& tr_set,
        uint32_t columns, uint32_t rows, float& error) {
    if (create_list(list) == -1) return 1;
    std::vector<int32_t> index_array;
    const auto decide = [&](uint32_t r, bool reread) {
        if (reread) read_list(index_array, list.get());
        int32_t answer = 1;
        classify(ker, digit, tr_set.row(r), tr_set, columns, rows, index_array.data(), list->count, answer);
        return answer;
    };
    const uint32_t last_wrong = train_epochs(
        epochs, digit, tr_set, columns, rows, list, decide, [](uint32_t) {}, print_answers);
    error = error_fraction(last_wrong, rows);
    return 0;
}

int run_test(uint32_t digit, KernelSpec ker, const IndexList* list, const SampleMatrix& tr_set, uint32_t tr_columns,
             uint32_t tr_rows, const SampleMatrix& ts_set, uint32_t ts_columns, uint32_t ts_rows, float& error) {
    if (list == nullptr) return 1;
    std::vector<int32_t> index_array;
    read_list(index_array, list);
    AnswerCounts counts;
    for (uint32_t r = 0; r < ts_rows; ++r) {
        const float* sample = ts_set.row(r);
        int32_t answer = 1;
        classify(ker, digit, sample, tr_set, tr_columns, tr_rows, index_array.data(), list->count, answer);
        counts.record(answer, target_label(sample[ts_columns - 1], digit));
    }
    finish_test(counts, ts_rows, error);
    return 0;
}
