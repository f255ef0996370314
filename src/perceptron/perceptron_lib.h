// The kernel perceptron: exact float vector products, the polynomial and
// gaussian kernels, the decision rule, training and testing.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "file_lib.h"
#include "list_lib.h"
#include "programma/combine.h"
#include "programma/kernel.h"

using programma::Combine;
using programma::KernelKind;
using programma::KernelSpec;

// The vectors are sample rows: n features followed by the label. All return 0.
int vect_pr(uint32_t n, const float* a, const float* b, float& result);
int vect_diff_raised(uint32_t n, const float* a, const float* b, float& result);
// The dot product in float alone: each product rounded to float, then each
// sum (the voted test kernel's sum).
int vect_pr_float(uint32_t n, const float* a, const float* b, float& result);
int ker_pol(uint32_t n, const float* x, const float* y, float& result, float degree);
int ker_gauss(uint32_t n, const float* x, const float* y, float& result, float constant);

// The last step of each kernel, shared with the batch engine: exp((-d) / c)
// and (dot + 1) ^ degree, each rounded to float.
float gaussian_of_distance(float distance, float constant);
float polynomial_of_dot(float dot, float degree);

// Element 256 of a sample row of n features, as the polynomial trace shows
// it: NaN when the row has no such element.
float traced_element(uint32_t n, const float* row);

void classify(KernelSpec ker, uint32_t digit, const float* sample, const SampleMatrix& tr_set, uint32_t tr_columns,
              uint32_t tr_rows, const int32_t* index_array, uint32_t count, int32_t& answer);

// The answer of a decision sum: -1 below zero, +1 otherwise (NaN included).
inline int32_t answer_of(float sum) { return sum < 0.0f ? -1 : 1; }

// The weights of a list's m + 1 prefixes over a training of `epochs` epochs
// of `rows` rows. Training step t (from 1) is row t - 1 of epoch 0, and so
// on; entry k was added at step e_k * rows + j_k + 1, where j_k is its row
// and e_k its epoch: 0 for the first entry, then one more each time an
// entry's row is not above the one before (the hypothesis only changes at a
// mistake, so a row it answered right it answers right again). Prefix k's
// weight is the step of entry k + 1 less its own (the first entry's step
// less 1 for k = 0; epochs * rows + 1 stands for entry m + 1's step).
// Returns false, with `epochs_needed` set, when the list implies more
// epochs than given.
bool prefix_weights(const int32_t* index_array, uint32_t count, uint32_t rows, uint32_t epochs,
                    std::vector<uint64_t>& weights, uint32_t& epochs_needed);

// Whether a list entry for `row` after one for `previous` starts the next
// epoch: the hypothesis only changes at a mistake, so a row it answered right
// it answers right again, and a later mistake in the same epoch is further on.
//
// The same holds for lists made with a margin (run_margin), where a row also
// joins when it is right but too close. Within an epoch a row joins at most
// once, so the rows of its entries rise. After an epoch's last entry, at row
// r, every row above r met the final list and did not join. In the next
// epoch a row above r meets that same list until some row joins; its sum
// (the values added in list order, each rounding the same) and its margin
// test depend only on the list and the row, so it still does not join, and
// the next epoch's first entry is at a row at most r. (An epoch that adds
// nothing leaves every later one adding nothing, for the same reason.) This
// needs every epoch to visit the rows in one fixed order and every sum to be
// exactly the same chain of roundings, as the reference and the engine
// compute it.
inline bool starts_epoch(int32_t previous, int32_t row) {
    return static_cast<uint32_t>(row) <= static_cast<uint32_t>(previous);
}

// How many of the list's first entries a training of `epochs` epochs made.
uint32_t entries_within(const int32_t* index_array, uint32_t count, uint32_t epochs);

// One sample's score under a combiner, fed the prefix sums s_0 = 0, s_1,
// ..., s_m in order. The average adds every term, so a weight of 0 times an
// infinite sum makes it NaN.
class CombinedScore {
public:
    CombinedScore(Combine combine, const uint64_t* weights) : combine_(combine), weights_(weights) {}

    void add(float prefix_sum) {
        const uint64_t weight = weights_[next_++];
        switch (combine_) {
            case Combine::last: break;
            case Combine::average: average_ += static_cast<double>(weight) * static_cast<double>(prefix_sum); break;
            case Combine::vote:
                votes_ += answer_of(prefix_sum) < 0 ? -static_cast<int64_t>(weight) : static_cast<int64_t>(weight);
                break;
        }
        last_ = prefix_sum;
    }

    double score() const {
        switch (combine_) {
            case Combine::last: return static_cast<double>(last_);
            case Combine::average: return average_;
            case Combine::vote: return static_cast<double>(votes_);
        }
        return 0.0;  // not reached: every combiner is named above
    }

private:
    Combine combine_;
    const uint64_t* weights_;
    std::size_t next_ = 0;
    float last_ = 0.0f;
    double average_ = 0.0;
    int64_t votes_ = 0;
};

// One way of answering from a list: the prefix of its first `entries`
// entries (the list a shorter training made), with their weights, answered
// by `combine`.
struct PrefixAnswer {
    Combine combine = Combine::last;
    uint32_t entries = 0;
    std::vector<uint64_t> weights;  // entries + 1 of them
};

// The score of one sample against a list: as classify adds the sum, with
// every prefix sum given to a CombinedScore over `weights`.
double combined_score(KernelSpec ker, uint32_t digit, const float* sample, const SampleMatrix& tr_set,
                      const int32_t* index_array, uint32_t count, const uint64_t* weights, Combine combine);

// The counts of a pass over a set: the answers given, and the wrong ones of
// each kind.
struct AnswerCounts {
    uint32_t said_plus = 0;
    uint32_t said_minus = 0;
    uint32_t wrong = 0;
    uint32_t wrong_plus = 0;   // answered +1, not the digit
    uint32_t wrong_minus = 0;  // answered -1, the digit

    void record(int32_t answer, int32_t label) {
        (answer == 1 ? said_plus : said_minus) += 1;
        if (answer != label) {
            ++wrong;
            (answer == 1 ? wrong_plus : wrong_minus) += 1;
        }
    }
};

// "I classified ..." with the answers given.
void print_answers(const AnswerCounts& counts);
// The end of a test: writes the error and prints both result lines.
void finish_test(const AnswerCounts& counts, uint32_t rows, float& error);

// The training loop, shared by run and the fast engine: `epochs` passes over
// the rows in file order. A row is answered +1 while the list is empty, else
// by decide(row, reread), reread telling whether the list has changed since
// the last decision or an epoch has begun; a wrong answer appends the row
// to the list, then calls on_mistake(row). on_epoch(counts) ends each epoch.
// Returns the wrong answers of the last epoch (0 without epochs).
template <typename Decide, typename OnMistake, typename OnEpoch>
uint32_t train_epochs(uint32_t epochs, uint32_t digit, const SampleMatrix& set, uint32_t columns, uint32_t rows,
                      const std::unique_ptr<IndexList>& list, Decide&& decide, OnMistake&& on_mistake,
                      OnEpoch&& on_epoch) {
    uint32_t last_wrong = 0;
    for (uint32_t epoch = 0; epoch < epochs; ++epoch) {
        AnswerCounts counts;
        bool reread = true;
        for (uint32_t r = 0; r < rows; ++r) {
            const int32_t label = target_label(set.row(r)[columns - 1], digit);
            const int32_t answer = list->head == nullptr ? 1 : decide(r, reread);
            counts.record(answer, label);
            reread = answer != label;
            if (reread) {
                add_list(static_cast<int32_t>(r), list);
                on_mistake(r);
            }
        }
        on_epoch(counts);
        last_wrong = counts.wrong;
    }
    return last_wrong;
}

// Whether a training row joins the list: when its answer is wrong, or, with
// a margin above 0, when its signed sum falls short of the margin times its
// kernel value with itself (label * sum < margin * self, the product rounded
// to float). The `margin > 0` guard keeps margin 0 exactly today's rule: a
// row labelled -1 whose sum is +0 is a mistake, not a margin call.
inline bool joins_list(float sum, int32_t label, float margin, float self) {
    if (answer_of(sum) != label) return true;
    if (!(margin > 0.0f)) return false;
    const float bound = margin * self;
    return static_cast<float>(label) * sum < bound;
}

// A row's kernel value with itself, by the same scalar formula as every
// other value, without the polynomial kernel's trace and pause.
float self_kernel_value(KernelSpec ker, uint32_t n, const float* row);

// Training with the margin rule: run's epochs and rows, each row's decision
// sum added in list order as classify adds it (but without the trace), and a
// row appended whenever joins_list says so. Prints nothing and never reads
// standard input. At margin 0 the list and the error are run's. The error is
// the share of wrong answers in the last epoch, not of rows that joined.
// Returns 1 when the list cannot be created, else 0.
int run_margin(uint32_t epochs, uint32_t digit, KernelSpec ker, float margin, std::unique_ptr<IndexList>& list,
               const SampleMatrix& tr_set, uint32_t columns, uint32_t rows, float& error);

// Silent training as run trains, but visiting the rows in `order` (order[p]
// is the row at position p, the same order in every epoch): each row's
// decision sum added in list order as classify adds it, a wrong answer
// appending the row's own index to `list`. The plain loop that a training
// in a given order on the engine must match bit for bit.
void run_in_order(uint32_t epochs, uint32_t digit, KernelSpec ker, const std::vector<uint32_t>& order,
                  const SampleMatrix& tr_set, std::vector<int32_t>& list, float& error);

// Returns 1 when the list cannot be created, else 0.
int run(uint32_t epochs, uint32_t digit, KernelSpec ker, std::unique_ptr<IndexList>& list, const SampleMatrix& tr_set,
        uint32_t columns, uint32_t rows, float& error);

// Returns 1 when there is no list, else 0.
int run_test(uint32_t digit, KernelSpec ker, const IndexList* list, const SampleMatrix& tr_set, uint32_t tr_columns,
             uint32_t tr_rows, const SampleMatrix& ts_set, uint32_t ts_columns, uint32_t ts_rows, float& error);
