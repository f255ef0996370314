// The voted perceptron. Training keeps a chain of prediction vectors, one per
// mistake, each counting the training samples it survived; testing lets every
// mistake vote with that count through a degree-3 polynomial kernel. Vectors
// and the test kernel span the set's feature count (columns - 1).
#include "voted_lib_ker.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "list_lib.h"
#include "perceptron_lib.h"
#include "voted_list_lib.h"

namespace {

// The degree of the test kernel; the fast test relies on it being 3.
constexpr uint32_t kTestDegree = 3;

}  // namespace

void run_v_train_ker(uint32_t epochs, uint32_t digit, const SampleMatrix& set, uint32_t columns,
                     uint32_t rows, std::vector<int32_t>& mistake_indices,
                     std::vector<uint32_t>& vote_counts, uint32_t& n, float& error) {
    train_voted(epochs, digit, set, columns, rows, mistake_indices, vote_counts, n, error, true);
}

void train_voted(uint32_t epochs, uint32_t digit, const SampleMatrix& set, uint32_t columns,
                 uint32_t rows, std::vector<int32_t>& mistake_indices,
                 std::vector<uint32_t>& vote_counts, uint32_t& n, float& error, bool relist) {
    const uint32_t features = columns - 1;
    std::unique_ptr<VotedList> chain;
    std::unique_ptr<IndexList> mistakes;
    create_list_v(chain);
    create_list(mistakes);

    VotedNode working;
    working.vector.assign(features, 0.0f);
    add_list_v(working, chain);
    std::vector<VotedEntry> listing;
    read_list_v(listing, chain.get());
    std::size_t k = 0;

    uint32_t last_mistakes = 0;
    for (uint32_t epoch = 0; epoch < epochs; ++epoch) {
        uint32_t epoch_mistakes = 0;
        uint32_t epoch_right = 0;
        bool reread = true;
        for (uint32_t i = 0; i < rows; ++i) {
            if (reread && relist) read_list_v(listing, chain.get());
            const float* sample = set.row(i);
            const float* current = relist ? listing[k].vector : chain->tail->vector.data();
            float score = 0.0f;
            vect_pr(features, sample, current, score);
            int32_t prediction = score < 0.0f ? -1 : 1;
            int32_t label = target_label(sample[features], digit);
            if (prediction != label) {
                const float sign = static_cast<float>(label);
                for (uint32_t j = 0; j < features; ++j) {
                    working.vector[j] = current[j] + sign * sample[j];
                }
                working.count = 1;
                add_list_v(working, chain);
                add_list(static_cast<int32_t>(i), mistakes);
                reread = true;
                ++k;
                ++epoch_mistakes;
            } else {
                reread = false;
                chain->tail->count += 1;
                ++epoch_right;
            }
        }
        std::printf("ho fatto la %u-esima epoca, %u errori, %u right", epoch, epoch_mistakes,
                    epoch_right);
        last_mistakes = epoch_mistakes;
    }

    read_list(mistake_indices, mistakes.get());
    read_list_v(listing, chain.get());
    vote_counts.clear();
    vote_counts.reserve(listing.size() - 1);
    for (std::size_t m = 1; m < listing.size(); ++m) vote_counts.push_back(listing[m].count);
    n = mistakes->count;
    error = error_fraction(last_mistakes, rows);
}

void run_v_test_ker(uint32_t digit, const SampleMatrix& ts_set, uint32_t ts_columns,
                    uint32_t ts_rows, const SampleMatrix& tr_set, uint32_t tr_columns,
                    uint32_t /*tr_rows*/, const int32_t* mistake_indices,
                    const uint32_t* vote_counts, uint32_t n, float& error) {
    const uint32_t features = ts_columns - 1;
    std::vector<int32_t> answers(ts_rows);
    for (uint32_t s = 0; s < ts_rows; ++s) {
        const float* sample = ts_set.row(s);
        // Wide enough that no sum of survival counts can overflow.
        int64_t votes = 0;
        for (uint32_t m = 0; m < n; ++m) {
            const float* row = tr_set.row(static_cast<uint32_t>(mistake_indices[m]));
            float y = target_label(row[tr_columns - 1], digit) == 1 ? 1.0f : -1.0f;
            float value = 0.0f;
            kernel_pol(features, sample, row, value, kTestDegree);
            if (value * y > 0.0f) {
                votes += vote_counts[m];
            } else {
                votes -= vote_counts[m];
            }
        }
        answers[s] = votes < 0 ? -1 : 1;
    }
    report_voted_test(digit, ts_set, ts_columns, answers, error);
}

void report_voted_test(uint32_t digit, const SampleMatrix& ts_set, uint32_t ts_columns,
                       const std::vector<int32_t>& answers, float& error) {
    AnswerCounts counts;
    for (uint32_t s = 0; s < answers.size(); ++s) {
        counts.record(answers[s], target_label(ts_set.row(s)[ts_columns - 1], digit));
    }
    const uint32_t right = counts.said_plus + counts.said_minus - counts.wrong;
    std::printf("Ho classificato la cifra %u e ho azzeccato %u volte e sbagliato %u volte, ho "
                "detto %u volte meno e %u volte piu'\n",
                digit, right, counts.wrong, counts.said_minus, counts.said_plus);
    error = error_fraction(counts.wrong, uint32_t(answers.size()));
}

int kernel_pol(uint32_t feature_count, const float* a, const float* b, float& result,
               uint32_t degree) {
    result = 0.0f;
    float sum = 0.0f;
    vect_pr_float(feature_count, a, b, sum);
    result = std::pow(sum + 1.0f, static_cast<float>(degree));
    return 0;
}
