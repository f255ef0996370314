// The voted perceptron: linear training that builds a chain of prediction
// vectors with survival counts, and the voted test in which every training
// mistake votes through a polynomial kernel.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "file_lib.h"
#include "list_lib.h"
#include "perceptron_lib.h"
#include "voted_list_lib.h"

// The degree of the voted test's polynomial kernel. The engine's voted test
// decides votes by the sign of the kernel's base, which holds for this odd
// degree; it checks the value at compile time.
constexpr uint32_t kVotedTestDegree = 3;

void run_v_train_ker(uint32_t epochs, uint32_t digit, const SampleMatrix& set, uint32_t columns, uint32_t rows,
                     std::vector<int32_t>& mistake_indices, std::vector<uint32_t>& vote_counts, uint32_t& n,
                     float& error);

// The voted training loop, shared by run_v_train_ker and the engine: the
// chain starts with a zero vector; each row is scored against the vector in
// force, current(chain, reread, k), where k counts the mistakes so far and
// reread says whether the chain has grown or an epoch has begun since the
// last row. A mistake appends a new vector with count 1, any right answer
// raises the count of the last one. Prints each epoch's line.
template <typename CurrentVector>
void train_voted_chain(uint32_t epochs, uint32_t digit, const SampleMatrix& set, uint32_t columns, uint32_t rows,
                       std::vector<int32_t>& mistake_indices, std::vector<uint32_t>& vote_counts, uint32_t& n,
                       float& error, CurrentVector&& current) {
    const uint32_t features = columns - 1;
    std::unique_ptr<VotedList> chain;
    std::unique_ptr<IndexList> mistakes;
    create_list_v(chain);
    create_list(mistakes);

    VotedNode working;
    working.vector.assign(features, 0.0f);
    add_list_v(working, chain);
    std::size_t k = 0;

    uint32_t last_mistakes = 0;
    for (uint32_t epoch = 0; epoch < epochs; ++epoch) {
        uint32_t epoch_mistakes = 0;
        uint32_t epoch_right = 0;
        bool reread = true;
        for (uint32_t i = 0; i < rows; ++i) {
            const float* sample = set.row(i);
            const float* vector = current(*chain, reread, k);
            float score = 0.0f;
            vect_pr(features, sample, vector, score);
            const int32_t prediction = score < 0.0f ? -1 : 1;
            const int32_t label = target_label(sample[features], digit);
            if (prediction != label) {
                const float sign = static_cast<float>(label);
                for (uint32_t j = 0; j < features; ++j) working.vector[j] = vector[j] + sign * sample[j];
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
        std::printf("ho fatto la %u-esima epoca, %u errori, %u right", epoch, epoch_mistakes, epoch_right);
        last_mistakes = epoch_mistakes;
    }

    read_list(mistake_indices, mistakes.get());
    std::vector<VotedEntry> listing;
    read_list_v(listing, chain.get());
    vote_counts.clear();
    vote_counts.reserve(listing.size() - 1);
    for (std::size_t m = 1; m < listing.size(); ++m) vote_counts.push_back(listing[m].count);
    n = mistakes->count;
    error = error_fraction(last_mistakes, rows);
}

void run_v_test_ker(uint32_t digit, const SampleMatrix& ts_set, uint32_t ts_columns, uint32_t ts_rows,
                    const SampleMatrix& tr_set, uint32_t tr_columns, uint32_t tr_rows, const int32_t* mistake_indices,
                    const uint32_t* vote_counts, uint32_t n, float& error);

// Counts a test's answers (one per test row) against the rows' labels, prints
// the result line and writes the test error.
void report_voted_test(uint32_t digit, const SampleMatrix& ts_set, uint32_t ts_columns,
                       const std::vector<int32_t>& answers, float& error);

// (sum of the rounded products a[j]*b[j] over the features, in float, + 1)
// raised to the degree. Returns 0.
int kernel_pol(uint32_t feature_count, const float* a, const float* b, float& result, uint32_t degree);
