// The kernel perceptron on the batch engine: training with a kernel cache
// or carried decision sums, testing split across threads. Output and results
// are byte for byte those of run and run_test on the scalar formulas.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine_settings.h"
#include "file_lib.h"
#include "list_lib.h"
#include "perceptron_lib.h"
#include "programma/cancel.h"

// Whether a training prints what run prints, or nothing at all.
enum class Report { printed, silent };

// A set CancelFlag (programma/cancel.h) is read between chunks of rows of a
// long silent computation, which then ends by throwing Cancelled.
using programma::CancelFlag;
struct Cancelled {};

// As run, or kEngineOutOfMemory (nothing printed) when the engine's own
// memory cannot be had. A silent run prints nothing and never reads
// standard input: the polynomial kernel's trace and pauses and the epochs'
// count lines are left out (the list and the error are the same).
int run_fast(uint32_t epochs, uint32_t digit, KernelSpec ker, std::unique_ptr<IndexList>& list,
             const SampleMatrix& tr_set, uint32_t columns, uint32_t rows, float& error, const EngineSettings& settings,
             Report report = Report::printed, const CancelFlag* cancel = nullptr);

// A list to score samples against (its entries' labels taken for `digit`),
// and the answers wanted from it.
struct ListAnswers {
    uint32_t digit = 0;
    const IndexList* list = nullptr;
    std::vector<PrefixAnswer> answers;
};

// Every row's score under each list's answers (scores[list][answer][row]),
// bit for bit combined_score's over the answer's prefix, from one pass over
// each list's prefix sums. A row the lists share gets its kernel values
// computed once.
std::vector<std::vector<std::vector<double>>> combined_scores(KernelSpec ker, const std::vector<ListAnswers>& lists,
                                                              const SampleMatrix& tr_set, const SampleMatrix& samples,
                                                              const EngineSettings& settings,
                                                              const CancelFlag* cancel = nullptr);

// As run_test, or kEngineOutOfMemory as run_fast.
int run_test_fast(uint32_t digit, KernelSpec ker, const IndexList* list, const SampleMatrix& tr_set,
                  uint32_t tr_columns, const SampleMatrix& ts_set, uint32_t ts_columns, uint32_t ts_rows, float& error,
                  const EngineSettings& settings);

// The decision sum of every row of `samples` against the list, silently:
// what classify adds up for each row, bit for bit (0 for an empty list).
std::vector<float> decision_sums(KernelSpec ker, uint32_t digit, const IndexList& list, const SampleMatrix& tr_set,
                                 const SampleMatrix& samples, const EngineSettings& settings,
                                 const CancelFlag* cancel = nullptr);
