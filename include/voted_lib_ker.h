// The voted perceptron: linear training that builds a chain of prediction
// vectors with survival counts, and the voted test in which every training
// mistake votes through a polynomial kernel.
#pragma once

#include <cstdint>
#include <vector>

#include "file_lib.h"

void run_v_train_ker(uint32_t epochs, uint32_t digit, const SampleMatrix& set, uint32_t columns,
                     uint32_t rows, std::vector<int32_t>& mistake_indices,
                     std::vector<uint32_t>& vote_counts, uint32_t& n, float& error);

// The training of run_v_train_ker. With relist false the vector in force is
// read at the chain's tail (it is always the last) instead of from a new
// listing of the chain after every mistake: the same vectors, without the
// listings' cost.
void train_voted(uint32_t epochs, uint32_t digit, const SampleMatrix& set, uint32_t columns,
                 uint32_t rows, std::vector<int32_t>& mistake_indices,
                 std::vector<uint32_t>& vote_counts, uint32_t& n, float& error, bool relist);

void run_v_test_ker(uint32_t digit, const SampleMatrix& ts_set, uint32_t ts_columns,
                    uint32_t ts_rows, const SampleMatrix& tr_set, uint32_t tr_columns,
                    uint32_t tr_rows, const int32_t* mistake_indices,
                    const uint32_t* vote_counts, uint32_t n, float& error);

// Counts a test's answers (one per test row) against the rows' labels, prints
// the result line and writes the test error.
void report_voted_test(uint32_t digit, const SampleMatrix& ts_set, uint32_t ts_columns,
                       const std::vector<int32_t>& answers, float& error);

// (sum of the rounded products a[j]*b[j] over the features, in float, + 1)
// raised to the degree. Returns 0.
int kernel_pol(uint32_t feature_count, const float* a, const float* b, float& result,
               uint32_t degree);
