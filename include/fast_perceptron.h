// The kernel perceptron on the batch engine: training with a kernel cache
// and split decisions, testing split across threads. Output and results are
// byte for byte those of run and run_test on the scalar formulas.
#pragma once

#include <cstdint>
#include <memory>

#include "file_lib.h"
#include "list_lib.h"
#include "perceptron_lib.h"

int run_fast(uint32_t epochs, uint32_t digit, KernelSpec ker, std::unique_ptr<IndexList>& list,
             const SampleMatrix& tr_set, uint32_t columns, uint32_t rows, float& error);

int run_test_fast(uint32_t digit, KernelSpec ker, const IndexList* list,
                  const SampleMatrix& tr_set, uint32_t tr_columns, const SampleMatrix& ts_set,
                  uint32_t ts_columns, uint32_t ts_rows, float& error);
