// The programma library: sample sets, one-against-the-rest kernel-perceptron
// recognisers, their decision sums and tests, mistake lists on disk, and the
// values programma's command line shares with other programs. Plain records
// in, results or typed errors (programma/error.h) out: nothing is printed,
// standard input is never read, nothing exits, and no exception leaves a
// call (memory or threads that cannot be had are an out-of-memory error; a
// file name holding a null byte is an invalid argument). Every list, sum and
// error is bit for bit what programma's own runs give.
//
// Threads: every function may be called from several threads at once, each
// call with its own EngineOptions (programma/options.h). The engine's worker
// pool serves one computation at a time, so training, scoring and testing
// calls wait for each other, and a load's parallel steps take turns with
// theirs; saving and restoring lists do not wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "programma/cancel.h"
#include "programma/combine.h"
#include "programma/error.h"
#include "programma/kernel.h"
#include "programma/options.h"

namespace programma {

// A loaded sample set: `rows` rows of `columns` floats, the features first
// and the label last. Copies share the same immutable rows.
class SampleSet {
public:
    struct Rows;  // how the library holds them

    SampleSet() = default;
    explicit SampleSet(std::shared_ptr<const Rows> rows);

    uint32_t rows() const;
    uint32_t columns() const;
    uint32_t features() const { return columns() == 0 ? 0 : columns() - 1; }
    const float* row(uint32_t r) const;  // columns() floats
    float label(uint32_t r) const { return row(r)[columns() - 1]; }
    std::vector<float> labels() const;  // one a row, in order
    const Rows& held() const { return *rows_; }

private:
    std::shared_ptr<const Rows> rows_;
};

// Reads a sample file with programma's loader (the same rows, the same
// refusals: its errors name the file and line).
Result<SampleSet> read_samples(const std::string& path, const EngineOptions& options = {});

// A sample set from memory: `rows` rows of `features` floats, row-major, and
// one label per row. Refused when rows or features is 0, or too large.
Result<SampleSet> samples_from_memory(const float* values, const float* labels, std::size_t rows, std::size_t features);

// programma's defaults for the values it shares with other programs.
inline constexpr KernelKind kDefaultKernel = KernelKind::polynomial;
inline constexpr float kDefaultDegree = 2.0f;
inline constexpr float kDefaultConstant = 3.0f;
inline constexpr uint32_t kDefaultEpochs = 2;

// One recogniser: the samples whose label equals `target` (compared as
// reals, so any class index will do) answer +1, every other sample -1.
//
// Training visits the rows in order, `epochs` times, and a row joins the
// list when the list answers it wrongly, or, with a margin above 0, when it
// is right but too close: label * sum < margin * self, where self is the
// row's kernel value with itself and the product is rounded to float. A
// list then holds the rows that were wrong or too close; at margin 0 (or
// -0) it holds the mistakes alone, exactly as programma's training makes
// them.
struct Recogniser {
    uint32_t target = 0;
    KernelSpec kernel = kernel_spec(kDefaultKernel, kDefaultDegree, kDefaultConstant);
    uint32_t epochs = kDefaultEpochs;
    float margin = 0.0f;
};

// The one check of a recogniser's settings, made by every call that trains or
// scores one before any work (and by digit-tools and the Python package on
// what their users give): the first problem, as an invalid-argument error
// whose field names the member ("kernel.kind", "kernel.parameter",
// "epochs", "margin"). The kernel kind is one KernelKind names; the gaussian
// constant and the polynomial degree are finite and above 0; epochs are at
// most 2147483647; the margin is finite and not below 0 (-0 counts as 0).
Status check(const Recogniser& recogniser);

// The values digit-tools shares with programma's command line, read by
// programma's own rules; a refusal is an invalid-argument error. A kernel is
// "pol" or "gauss". A constant or degree is read as atof reads it, narrowed
// to float (beyond the float range, an infinity), and refused when its first
// character is a letter. Epochs are read as atoi reads them (leading blanks,
// a sign, digits, anything after them ignored, no digits meaning 0), from 0
// to 2147483647. None of them applies check(): `-c 0` reads as 0.
Result<KernelKind> parse_kernel(std::string_view text);
Result<float> parse_constant(std::string_view text);
Result<float> parse_degree(std::string_view text);
Result<uint32_t> parse_epochs(std::string_view text);

// A margin, which programma's command line does not have: a number read
// whole as strtod reads it (nothing before or after it), narrowed to float
// as parse_constant narrows; anything else is refused. As above, check() is
// not applied: "-1" and "nan" read.
Result<float> parse_margin(std::string_view text);

// A double narrowed to a kernel parameter as parse_constant narrows the
// number it reads: to the nearest float, an infinity beyond the float range.
float kernel_parameter(double value);

// A trained recogniser: the training rows that joined its list, in order
// (the mistake list: the rows it erred on, and with a margin those it
// answered too closely), and the training error of its last epoch: the
// share of wrong answers in it, never of rows that were only too close.
struct Trained {
    std::vector<int32_t> mistakes;
    float training_error = 0.0f;
};

// Training visits the rows in `order`, the same in every epoch: order[p]
// is the row at position p, a permutation of the training set's rows (an
// empty order is file order; anything else is an invalid argument, field
// "order"). The list holds row indices, as ever.
Result<Trained> train(const SampleSet& training, const Recogniser& recogniser, const CancelFlag* cancel = nullptr,
                      const EngineOptions& options = {}, std::span<const uint32_t> order = {});

// How far a training has got: rows decided so far, counted over every
// epoch, and all that it decides.
struct TrainingProgress {
    uint64_t decided = 0;
    uint64_t decisions = 0;
};

// Several recognisers over one training set, trained side by side on the
// engine's threads, in one order; each result is the one train gives
// alone. Recognisers that share their kernel (the labels of a set, or one
// label at several margins) are trained in lockstep, each kernel value their
// lists need computed once for all of them. trained(i), when given, is
// called (from any of those threads) as recogniser i is done. progress, when
// given, is called on the calling thread as the rows go by (every 128 rows
// and at each epoch's end) while recognisers that share their kernel train
// side by side; it is cheap enough to count on, and must return quickly.
Result<std::vector<Trained>> train(const SampleSet& training, const std::vector<Recogniser>& recognisers,
                                   const CancelFlag* cancel = nullptr,
                                   const std::function<void(std::size_t)>& trained = {},
                                   const EngineOptions& options = {}, std::span<const uint32_t> order = {},
                                   const std::function<void(const TrainingProgress&)>& progress = {});

// The decision sum of every row of `samples` against a mistake list over
// `training`: a row's answer is +1 when its sum is not below zero.
Result<std::vector<float>> decision_sums(const SampleSet& training, const Recogniser& recogniser,
                                         const std::vector<int32_t>& mistakes, const SampleSet& samples,
                                         const CancelFlag* cancel = nullptr, const EngineOptions& options = {});

// Every row's score under a combiner (programma/combine.h): `last` gives the
// decision sums exactly; `vote` an exact whole number; `average` a double.
// The prefixes' weights follow from the list, the training set's row count
// and recogniser.epochs (an entry whose position in the training order is
// not above the one before starts the next epoch, with or without a
// margin); a list that implies more epochs than that is refused (fewer is
// fine: training had converged). `order` is the order the list was trained
// in (as train takes it): the weights count training steps by each entry's
// position in it.
Result<std::vector<double>> decision_scores(const SampleSet& training, const Recogniser& recogniser,
                                            const std::vector<int32_t>& mistakes, const SampleSet& samples,
                                            Combine combine, const CancelFlag* cancel = nullptr,
                                            const EngineOptions& options = {}, std::span<const uint32_t> order = {});

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
                                                         const CancelFlag* cancel = nullptr,
                                                         const EngineOptions& options = {},
                                                         std::span<const uint32_t> order = {});

// Several recognisers' scores at once (scores[recogniser][cell][row]), each
// as the call above gives it; lists[i] is recogniser i's list. A training
// row that several lists hold has its kernel values computed once, so the
// recognisers must share their kernel.
Result<std::vector<std::vector<std::vector<double>>>> decision_scores(
    const SampleSet& training, const std::vector<Recogniser>& recognisers,
    const std::vector<std::vector<int32_t>>& lists, const SampleSet& samples, const std::vector<ScoreCell>& cells,
    const CancelFlag* cancel = nullptr, const EngineOptions& options = {}, std::span<const uint32_t> order = {});

// The answer from several recognisers' scores for one sample: the index of
// the greatest, the earlier one on a tie or a NaN.
std::size_t best_of(const double* scores, std::size_t count);

// A share of wrong answers as programma works it out (and prints it, times
// 100): the count and the rows each taken as a real exactly, the quotient
// rounded to float; 0 rows give 0/0, not a number.
float error_fraction(uint32_t wrong, uint32_t rows);

// A test's counts: the answers given, and the wrong ones of each kind.
struct TestResult {
    uint32_t said_plus = 0;
    uint32_t said_minus = 0;
    uint32_t wrong_plus = 0;   // answered +1, not the target
    uint32_t wrong_minus = 0;  // answered -1, the target
    float error = 0.0f;        // wrong answers over the rows, as programma prints it / 100
};

Result<TestResult> test(const SampleSet& training, const Recogniser& recogniser, const std::vector<int32_t>& mistakes,
                        const SampleSet& samples, const CancelFlag* cancel = nullptr,
                        const EngineOptions& options = {});

// Every entry of a mistake list must name a row of the training set: a
// bad-data error naming `path`, the list's file, and the entry as it is
// written, otherwise.
Status check_list(const std::vector<int32_t>& mistakes, uint32_t training_rows, const std::string& path);

// A mistake list from its file's text: every line one row index (decimal
// digits alone, a carriage return before the newline allowed; an empty text
// is an empty list), each naming a row of the training set. A bad-data
// error names `path` and the line that is not an index, or the entry and
// the index as written that names no row.
Result<std::vector<int32_t>> parse_list(std::string_view text, uint32_t training_rows, const std::string& path);

// Reads a mistake-list file once, as parse_list reads its text, stopping at
// the first line at fault.
Result<std::vector<int32_t>> restore_list(const std::string& path, uint32_t training_rows);

// Saves a mistake list in programma's format, one index a line: the old file
// is replaced only once every byte of the new one is safely written.
Status save_list(const std::string& path, const std::vector<int32_t>& mistakes);

}  // namespace programma
