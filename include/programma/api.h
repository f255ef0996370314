// The programma library: sample sets, one-against-the-rest kernel-perceptron
// recognisers, their decision sums and tests, mistake lists on disk, and the
// engine's options. Plain records in, results or errors out: nothing is
// printed, standard input is never read, and nothing exits. Every list, sum
// and error is bit for bit what programma's own runs give.
//
// Threads: every function may be called from several threads at once. The
// engine's worker pool serves one computation at a time, so training,
// scoring and testing calls wait for each other; loading, saving and
// restoring lists, and reading options, do not.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "programma/combine.h"
#include "programma/kernel.h"

struct SampleMatrix;

namespace programma {

// Why a call failed, in words that name the file, line or value at fault.
struct Error {
    std::string message;
};

// A value, or the error that stopped the call.
template <typename T>
class Result {
public:
    Result(T value) : state_(std::move(value)) {}
    Result(Error error) : state_(std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return std::get<0>(state_); }
    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

struct Done {};
using Status = Result<Done>;

// A loaded sample set: `rows` rows of `columns` floats, the features first
// and the label last. Copies share the same immutable rows.
class SampleSet {
public:
    SampleSet() = default;
    explicit SampleSet(std::shared_ptr<const SampleMatrix> matrix);

    uint32_t rows() const;
    uint32_t columns() const;
    uint32_t features() const { return columns() == 0 ? 0 : columns() - 1; }
    const float* row(uint32_t r) const;  // columns() floats
    float label(uint32_t r) const { return row(r)[columns() - 1]; }
    const SampleMatrix& matrix() const { return *matrix_; }

private:
    std::shared_ptr<const SampleMatrix> matrix_;
};

// Reads a sample file with programma's loader (the same rows, the same
// refusals: its errors name the file and line).
Result<SampleSet> read_samples(const std::string& path);

// A sample set from memory: `rows` rows of `features` floats, row-major, and
// one label per row. Refused when rows or features is 0, or too large.
Result<SampleSet> samples_from_memory(const float* values, const float* labels, std::size_t rows, std::size_t features);

// One recogniser: the samples whose label equals `target` (compared as
// reals, so any class index will do) answer +1, every other sample -1.
struct Recogniser {
    uint32_t target = 0;
    KernelSpec kernel{KernelKind::polynomial, 2.0f};
    uint32_t epochs = 2;
};

// Set from another thread (or a signal handler) to stop a training, scoring
// or test; the call then returns the error "cancelled" within about a
// second, and leaves nothing behind.
using CancelFlag = std::atomic<bool>;

// A trained recogniser: the training rows it erred on, in order (the
// mistake list), and the training error of its last epoch.
struct Trained {
    std::vector<int32_t> mistakes;
    float training_error = 0.0f;
};

Result<Trained> train(const SampleSet& training, const Recogniser& recogniser, const CancelFlag* cancel = nullptr);

// Several recognisers over one training set, trained side by side on the
// engine's threads; each result is the one train gives alone. trained(i),
// when given, is called (from any of those threads) as recogniser i is done.
Result<std::vector<Trained>> train(const SampleSet& training, const std::vector<Recogniser>& recognisers,
                                   const CancelFlag* cancel = nullptr,
                                   const std::function<void(std::size_t)>& trained = {});

// The decision sum of every row of `samples` against a mistake list over
// `training`: a row's answer is +1 when its sum is not below zero.
Result<std::vector<float>> decision_sums(const SampleSet& training, const Recogniser& recogniser,
                                         const std::vector<int32_t>& mistakes, const SampleSet& samples,
                                         const CancelFlag* cancel = nullptr);

// Every row's score under a combiner (programma/combine.h): `last` gives the
// decision sums exactly; `vote` an exact whole number; `average` a double.
// The prefixes' weights follow from the list, the training set's row count
// and recogniser.epochs; a list that implies more epochs than that is
// refused (fewer is fine: training had converged).
Result<std::vector<double>> decision_scores(const SampleSet& training, const Recogniser& recogniser,
                                            const std::vector<int32_t>& mistakes, const SampleSet& samples,
                                            Combine combine, const CancelFlag* cancel = nullptr);

// One way of answering from a training's list: the list as it stood after
// `epochs` epochs (a prefix of the whole: lists grow by appending),
// answered by `combine`.
struct ScoreCell {
    uint32_t epochs = 0;
    Combine combine = Combine::last;
};

// Every row's score for each cell (scores[cell][row]), all from one pass
// over the list's prefix sums; as decision_scores with the cell's epochs
// and the cell's prefix of the list. recogniser.epochs is the training's
// own; a cell may not ask for more.
Result<std::vector<std::vector<double>>> decision_scores(const SampleSet& training, const Recogniser& recogniser,
                                                         const std::vector<int32_t>& mistakes, const SampleSet& samples,
                                                         const std::vector<ScoreCell>& cells,
                                                         const CancelFlag* cancel = nullptr);

// Several recognisers' scores at once (scores[recogniser][cell][row]), each
// as the call above gives it; lists[i] is recogniser i's list. A training
// row that several lists hold has its kernel values computed once, so the
// recognisers must share their kernel.
Result<std::vector<std::vector<std::vector<double>>>> decision_scores(const SampleSet& training,
                                                                      const std::vector<Recogniser>& recognisers,
                                                                      const std::vector<std::vector<int32_t>>& lists,
                                                                      const SampleSet& samples,
                                                                      const std::vector<ScoreCell>& cells,
                                                                      const CancelFlag* cancel = nullptr);

// The answer from several recognisers' scores for one sample: the index of
// the greatest, the earlier one on a tie or a NaN.
std::size_t best_of(const double* scores, std::size_t count);

// A test's counts: the answers given, and the wrong ones of each kind.
struct TestResult {
    uint32_t said_plus = 0;
    uint32_t said_minus = 0;
    uint32_t wrong_plus = 0;   // answered +1, not the target
    uint32_t wrong_minus = 0;  // answered -1, the target
    float error = 0.0f;        // wrong answers over the rows, as programma prints it / 100
};

Result<TestResult> test(const SampleSet& training, const Recogniser& recogniser, const std::vector<int32_t>& mistakes,
                        const SampleSet& samples, const CancelFlag* cancel = nullptr);

// Every entry of a mistake list must name a row of the training set.
Status check_list(const std::vector<int32_t>& mistakes, uint32_t training_rows, const std::string& path);

// Reads a mistake-list file and checks its entries against the training
// set's row count.
Result<std::vector<int32_t>> restore_list(const std::string& path, uint32_t training_rows);

// Saves a mistake list in programma's format, one index a line: the old file
// is replaced only once every byte of the new one is safely written.
Status save_list(const std::string& path, const std::vector<int32_t>& mistakes);

// How the engine may use the machine.
struct EngineOptions {
    unsigned threads = 1;         // 1 or more
    std::size_t cache_bytes = 0;  // the training kernel cache; 0 turns it off
};

EngineOptions engine_options();
// Refused when threads is 0.
Status set_engine_options(const EngineOptions& options);

}  // namespace programma
