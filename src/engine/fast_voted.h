// The voted test on the batch engine: test rows split across threads, each
// scoring all recorded mistakes at once. Same answers, counts and output as
// run_v_test_ker on the scalar formulas.
#pragma once

#include <cstdint>
#include <vector>

#include "engine_settings.h"
#include "file_lib.h"

// As run_v_train_ker, reading the vector in force at the chain's tail (it is
// always the last) instead of from a new listing of the chain after every
// mistake: the same vectors, without the listings' cost.
void train_voted_fast(uint32_t epochs, uint32_t digit, const SampleMatrix& set, uint32_t columns, uint32_t rows,
                      std::vector<int32_t>& mistake_indices, std::vector<uint32_t>& vote_counts, uint32_t& n,
                      float& error);

// Returns 0, or kEngineOutOfMemory (nothing printed) when the engine's own
// memory cannot be had.
int run_v_test_fast(uint32_t digit, const SampleMatrix& ts_set, uint32_t ts_columns, uint32_t ts_rows,
                    const SampleMatrix& tr_set, const int32_t* mistake_indices, const uint32_t* vote_counts, uint32_t n,
                    float& error, const EngineSettings& settings);
