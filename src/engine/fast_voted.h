// The voted test on the batch engine: test rows split across threads, each
// scoring all recorded mistakes at once. Same answers, counts and output as
// run_v_test_ker on the scalar formulas.
#pragma once

#include <cstdint>

#include "engine_settings.h"
#include "file_lib.h"

// Returns 0, or kEngineOutOfMemory (nothing printed) when the engine's own
// memory cannot be had.
int run_v_test_fast(uint32_t digit, const SampleMatrix& ts_set, uint32_t ts_columns, uint32_t ts_rows,
                    const SampleMatrix& tr_set, const int32_t* mistake_indices,
                    const uint32_t* vote_counts, uint32_t n, float& error);
