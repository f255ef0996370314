// The kernel perceptron on the batch engine: training with a kernel cache
// or carried decision sums, testing split across threads. Output and results
// are byte for byte those of run and run_test on the scalar formulas.
#pragma once

#include <cstdint>
#include <functional>
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

// One recogniser of a training side by side: the digit it answers +1 for,
// its epochs, and its margin (joins_list; 0 is run's rule).
struct TrainingJob {
    uint32_t digit = 0;
    uint32_t epochs = 0;
    float margin = 0.0f;
};

// A finished training: its list (training row indices, in list order) and
// the error of its last epoch.
struct TrainedList {
    std::vector<int32_t> list;
    float error = 0.0f;
};

// Several recognisers over one training set and kernel, trained side by side
// row by row, silently: each job's list and error are bit for bit those of
// run_margin for that job alone (run's at margin 0), at every vector level
// and thread count. A kernel value between a training row and a list row is
// computed once for all the lists that need it at that row's decision, so
// jobs whose lists share rows (ten digits, or one digit at several margins)
// cost less together than apart. done(i), when given, is called on the
// calling thread as job i finishes; progress(decided, decisions), when
// given, on the calling thread too, at every tile of rows and after each
// epoch: the rows decided so far and all a training of the most epochs
// decides. Throws Cancelled when `cancel` is set, std::bad_alloc when
// memory runs out.
std::vector<TrainedList> train_together(KernelSpec ker, const std::vector<TrainingJob>& jobs,
                                        const SampleMatrix& tr_set, uint32_t columns, const EngineSettings& settings,
                                        const CancelFlag* cancel = nullptr,
                                        const std::function<void(std::size_t)>& done = {},
                                        const std::function<void(uint64_t, uint64_t)>& progress = {});

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
