// The voted perceptron. Training keeps a chain of prediction vectors, one per
// mistake, each counting the training samples it survived; testing lets every
// mistake vote with that count through a degree-3 polynomial kernel. Vectors
// and the test kernel span the set's feature count (columns - 1).
#include "voted_lib_ker.h"

#include <cmath>
#include <cstdio>
#include <memory>

void run_v_train_ker(uint32_t epochs, uint32_t digit, const SampleMatrix& set, uint32_t columns, uint32_t rows,
                     std::vector<int32_t>& mistake_indices, std::vector<uint32_t>& vote_counts, uint32_t& n,
                     float& error) {
    // The vector in force is read from a listing of the chain, made again
    // whenever the chain has grown or an epoch begins.
    std::vector<VotedEntry> listing;
    train_voted_chain(epochs, digit, set, columns, rows, mistake_indices, vote_counts, n, error,
                      [&listing](const VotedList& chain, bool reread, std::size_t k) {
                          if (reread) read_list_v(listing, &chain);
                          return static_cast<const float*>(listing[k].vector);
                      });
}

void run_v_test_ker(uint32_t digit, const SampleMatrix& ts_set, uint32_t ts_columns, uint32_t ts_rows,
                    const SampleMatrix& tr_set, uint32_t tr_columns, uint32_t /*tr_rows*/,
                    const int32_t* mistake_indices, const uint32_t* vote_counts, uint32_t n, float& error) {
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
            kernel_pol(features, sample, row, value, kVotedTestDegree);
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
    std::printf(
        "Ho classificato la cifra %u e ho azzeccato %u volte e sbagliato %u volte, ho "
        "detto %u volte meno e %u volte piu'\n",
        digit, right, counts.wrong, counts.said_minus, counts.said_plus);
    error = error_fraction(counts.wrong, uint32_t(answers.size()));
}

int kernel_pol(uint32_t feature_count, const float* a, const float* b, float& result, uint32_t degree) {
    result = 0.0f;
    float sum = 0.0f;
    vect_pr_float(feature_count, a, b, sum);
    result = std::pow(sum + 1.0f, static_cast<float>(degree));
    return 0;
}
