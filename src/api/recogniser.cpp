// Recognisers through the library: silent training, decision sums and tests
// on the engine, one computation at a time, each with its call's options and
// able to be cancelled.
#include <algorithm>
#include <atomic>
#include <bit>
#include <mutex>
#include <new>
#include <span>
#include <string>
#include <utility>

#include "engine_call.h"
#include "fast_perceptron.h"
#include "list_lib.h"
#include "perceptron_lib.h"
#include "safe_call.h"
#include "sample_rows.h"
#include "scoring.h"
#include "worker_pool.h"

namespace programma {
namespace {

// The worker pool serves one caller at a time.
std::mutex& engine_mutex() {
    static std::mutex mutex;
    return mutex;
}

Error refusal(std::string detail) { return Error{ErrorKind::invalid_argument, std::move(detail), {}, 0, 0, {}}; }
Error out_of_memory() { return Error{ErrorKind::out_of_memory, "out of memory", {}, 0, 0, {}}; }
Error cancelled() { return Error{ErrorKind::cancelled, "cancelled", {}, 0, 0, {}}; }

Status check_all(const std::vector<Recogniser>& recognisers) {
    for (const Recogniser& recogniser : recognisers) {
        if (Status checked = check(recogniser); !checked) return checked;
    }
    return Done{};
}

Status check_sets(const SampleSet& training, const SampleSet& samples) {
    if (training.rows() == 0) return refusal("the training set holds no sample");
    if (samples.columns() != training.columns()) {
        return refusal("samples have " + std::to_string(samples.columns()) + " numbers, the training set's have " +
                       std::to_string(training.columns()));
    }
    return Done{};
}

// The list as the engine takes it, once its entries are checked: a list
// given in memory is an argument, so a bad entry is an invalid one.
Result<std::unique_ptr<IndexList>> index_list(const std::vector<int32_t>& mistakes, uint32_t training_rows) {
    if (Status checked = check_list(mistakes, training_rows, "mistake list"); !checked) {
        return refusal(checked.error().message());
    }
    std::unique_ptr<IndexList> list;
    create_list(list);
    for (int32_t index : mistakes) add_list(index, list);
    return list;
}

// Two kernels that must be the same: the same kind, and the parameter's
// same bits.
bool same_kernel(const KernelSpec& a, const KernelSpec& b) {
    return a.kind == b.kind && std::bit_cast<uint32_t>(a.parameter) == std::bit_cast<uint32_t>(b.parameter);
}

// An order of the training rows: none, or a permutation of them.
Status check_order(std::span<const uint32_t> order, uint32_t rows) {
    if (order.empty()) return Done{};
    const auto wrong = [](std::string detail) {
        return Error{ErrorKind::invalid_argument, std::move(detail), {}, 0, 0, "order"};
    };
    if (order.size() != rows) {
        return wrong("the order holds " + std::to_string(order.size()) + " rows, the training set " +
                     std::to_string(rows));
    }
    std::vector<bool> seen(rows, false);
    for (const uint32_t row : order) {
        if (row >= rows || seen[row]) return wrong("the order is not a permutation of the training rows");
        seen[row] = true;
    }
    return Done{};
}

// The training set with its rows in `order`: training on it visits the rows
// in that order, position p's values being row order[p]'s.
SampleSet reordered(const SampleSet& set, std::span<const uint32_t> order) {
    auto rows = std::make_shared<SampleSet::Rows>();
    SampleMatrix& matrix = rows->matrix;
    matrix.columns = set.columns();
    matrix.rows = set.rows();
    matrix.values.resize(std::size_t(set.rows()) * set.columns());
    for (uint32_t p = 0; p < set.rows(); ++p) std::copy_n(set.row(order[p]), set.columns(), matrix.row(p));
    return SampleSet(std::move(rows));
}

// Each entry of a checked list as its position in the training order
// (`position` inverts the order; empty for file order): the epoch rule and
// the weights count training steps by position.
std::vector<int32_t> steps_of(const std::vector<int32_t>& mistakes, const std::vector<uint32_t>& position) {
    if (position.empty()) return mistakes;
    std::vector<int32_t> steps(mistakes.size());
    for (std::size_t k = 0; k < mistakes.size(); ++k) steps[k] = int32_t(position[uint32_t(mistakes[k])]);
    return steps;
}

// How one silent training ended.
enum class Ending { trained, out_of_memory, cancelled };

// One recogniser's silent training on the engine; never throws. A margin
// above 0 takes the lockstep trainer, the engine's one training with the
// margin rule.
Ending train_one(const SampleSet& training, const Recogniser& recogniser, const EngineSettings& settings,
                 const CancelFlag* cancel, Trained& trained) {
    try {
        if (recogniser.margin > 0.0f) {
            const TrainingJob job{recogniser.target, recogniser.epochs, recogniser.margin};
            TrainedList list = std::move(
                train_together(recogniser.kernel, {job}, matrix_of(training), training.columns(), settings, cancel)
                    .front());
            trained = {std::move(list.list), list.error};
            return Ending::trained;
        }
        std::unique_ptr<IndexList> list;
        const int status =
            run_fast(recogniser.epochs, recogniser.target, recogniser.kernel, list, matrix_of(training),
                     training.columns(), training.rows(), trained.training_error, settings, Report::silent, cancel);
        if (status != 0) return Ending::out_of_memory;
        read_list(trained.mistakes, list.get());
        return Ending::trained;
    } catch (const Cancelled&) {
        return Ending::cancelled;
    } catch (const std::bad_alloc&) {
        return Ending::out_of_memory;
    }
}

// Recognisers that share their kernel, trained side by side on the engine so
// that a kernel value their lists need is computed once; never throws.
Ending train_shared(const SampleSet& training, const std::vector<Recogniser>& recognisers,
                    const EngineSettings& settings, const CancelFlag* cancel,
                    const std::function<void(std::size_t)>& trained,
                    const std::function<void(const TrainingProgress&)>& progress, std::vector<Trained>& results) {
    std::vector<TrainingJob> jobs;
    for (const Recogniser& recogniser : recognisers) {
        jobs.push_back({recogniser.target, recogniser.epochs, recogniser.margin});
    }
    std::function<void(uint64_t, uint64_t)> report;
    if (progress) report = [&](uint64_t decided, uint64_t decisions) { progress({decided, decisions}); };
    try {
        std::vector<TrainedList> lists = train_together(recognisers[0].kernel, jobs, matrix_of(training),
                                                        training.columns(), settings, cancel, trained, report);
        for (std::size_t i = 0; i < lists.size(); ++i) results[i] = {std::move(lists[i].list), lists[i].error};
        return Ending::trained;
    } catch (const Cancelled&) {
        return Ending::cancelled;
    } catch (const std::bad_alloc&) {
        return Ending::out_of_memory;
    }
}

// work()'s result, as every call that computes gives it: a cancellation,
// or the resources that could not be had, as their errors.
template <typename T, typename Work>
Result<T> computed(Work&& work) {
    return guarded<T>([&]() -> Result<T> {
        try {
            return work();
        } catch (const Cancelled&) {
            return cancelled();
        }
    });
}

bool share_kernel(const std::vector<Recogniser>& recognisers) {
    return std::all_of(recognisers.begin(), recognisers.end(),
                       [&](const Recogniser& r) { return same_kernel(r.kernel, recognisers[0].kernel); });
}

// Lists trained on the rows in `order`, their entries (positions in it)
// named by their rows.
std::vector<Trained> named_by_rows(std::vector<Trained> results, std::span<const uint32_t> order) {
    if (order.empty()) return results;
    for (Trained& one : results) {
        for (int32_t& entry : one.mistakes) entry = int32_t(order[uint32_t(entry)]);
    }
    return results;
}

}  // namespace

Result<std::vector<Trained>> train(const SampleSet& given, const std::vector<Recogniser>& recognisers,
                                   const CancelFlag* cancel, const std::function<void(std::size_t)>& trained,
                                   const EngineOptions& options, std::span<const uint32_t> order,
                                   const std::function<void(const TrainingProgress&)>& progress) {
    if (given.rows() == 0) return refusal("the training set holds no sample");
    if (Status checked = check_all(recognisers); !checked) return checked.error();
    if (Status checked = check_order(order, given.rows()); !checked) return checked.error();
    if (Status checked = check_options(options); !checked) return checked.error();
    return computed<std::vector<Trained>>([&]() -> Result<std::vector<Trained>> {
        // Trained on the rows as the order puts them.
        const SampleSet training = order.empty() ? given : reordered(given, order);
        std::vector<Trained> results(recognisers.size());
        if (!recognisers.empty() && share_kernel(recognisers)) {
            const std::lock_guard<std::mutex> lock(engine_mutex());
            switch (train_shared(training, recognisers, options, cancel, trained, progress, results)) {
                case Ending::trained: return named_by_rows(std::move(results), order);
                case Ending::out_of_memory: return out_of_memory();
                case Ending::cancelled: return cancelled();
            }
        }
        std::vector<Ending> endings(recognisers.size(), Ending::trained);
        {
            const std::lock_guard<std::mutex> lock(engine_mutex());
            // Each thread takes the next recogniser not yet taken, so that
            // trainings of unequal cost share the threads evenly; a training's
            // own parallel steps then run inline on the thread that took it.
            std::atomic<std::size_t> next{0};
            const std::size_t threads = std::min<std::size_t>(recognisers.size(), pool_threads(options));
            parallel_for(options, threads, 1, [&](std::size_t, std::size_t) {
                for (std::size_t i = next++; i < recognisers.size(); i = next++) {
                    endings[i] = train_one(training, recognisers[i], options, cancel, results[i]);
                    if (endings[i] == Ending::trained && trained) trained(i);
                }
            });
        }
        for (const Ending ending : endings) {
            switch (ending) {
                case Ending::trained: break;
                case Ending::out_of_memory: return out_of_memory();
                case Ending::cancelled: return cancelled();
            }
        }
        return named_by_rows(std::move(results), order);
    });
}

Result<Trained> train(const SampleSet& training, const Recogniser& recogniser, const CancelFlag* cancel,
                      const EngineOptions& options, std::span<const uint32_t> order) {
    return guarded<Trained>([&]() -> Result<Trained> {
        Result<std::vector<Trained>> trained =
            train(training, std::vector<Recogniser>{recogniser}, cancel, {}, options, order);
        if (!trained) return trained.error();
        return std::move(trained.value()[0]);
    });
}

Result<std::vector<float>> decision_sums(const SampleSet& training, const Recogniser& recogniser,
                                         const std::vector<int32_t>& mistakes, const SampleSet& samples,
                                         const CancelFlag* cancel, const EngineOptions& options) {
    if (Status sets = check_sets(training, samples); !sets) return sets.error();
    if (Status checked = check(recogniser); !checked) return checked.error();
    if (Status checked = check_options(options); !checked) return checked.error();
    return computed<std::vector<float>>([&]() -> Result<std::vector<float>> {
        Result<std::unique_ptr<IndexList>> list = index_list(mistakes, training.rows());
        if (!list) return list.error();
        const std::lock_guard<std::mutex> lock(engine_mutex());
        return ::decision_sums(recogniser.kernel, recogniser.target, *list.value(), matrix_of(training),
                               matrix_of(samples), options, cancel);
    });
}

Result<Scores> scores_by_steps(const SampleSet& training, const std::vector<Recogniser>& recognisers,
                               const std::vector<std::vector<int32_t>>& lists,
                               const std::vector<std::vector<int32_t>>& steps, uint32_t weighed_rows,
                               const SampleSet& samples, const std::vector<ScoreCell>& cells, const CancelFlag* cancel,
                               const EngineOptions& options) {
    return computed<Scores>([&]() -> Result<Scores> {
        std::vector<std::unique_ptr<IndexList>> index_lists;
        std::vector<ListAnswers> to_score;
        for (std::size_t i = 0; i < recognisers.size(); ++i) {
            const Recogniser& recogniser = recognisers[i];
            const std::vector<int32_t>& entry_steps = steps[i];
            Result<std::unique_ptr<IndexList>> list = index_list(lists[i], training.rows());
            if (!list) return list.error();
            index_lists.push_back(std::move(list).value());
            std::vector<uint64_t> weights;
            uint32_t needed = 0;
            if (!prefix_weights(entry_steps.data(), uint32_t(entry_steps.size()), weighed_rows, recogniser.epochs,
                                weights, needed)) {
                return refusal("the mistake list of class " + std::to_string(recogniser.target) + " needs " +
                               std::to_string(needed) + " epochs of training, more than the " +
                               std::to_string(recogniser.epochs) + " given");
            }
            ListAnswers answers{recogniser.target, index_lists.back().get(), {}};
            for (const ScoreCell& cell : cells) {
                if (cell.epochs > recogniser.epochs) {
                    return refusal("an answer after " + std::to_string(cell.epochs) +
                                   " epochs needs a training of as many");
                }
                PrefixAnswer answer{
                    cell.combine, entries_within(entry_steps.data(), uint32_t(entry_steps.size()), cell.epochs), {}};
                prefix_weights(entry_steps.data(), answer.entries, weighed_rows, cell.epochs, answer.weights, needed);
                answers.answers.push_back(std::move(answer));
            }
            to_score.push_back(std::move(answers));
        }
        if (recognisers.empty()) return Scores{};
        const std::lock_guard<std::mutex> lock(engine_mutex());
        return combined_scores(recognisers[0].kernel, to_score, matrix_of(training), matrix_of(samples), options,
                               cancel);
    });
}

Result<Scores> decision_scores(const SampleSet& training, const std::vector<Recogniser>& recognisers,
                               const std::vector<std::vector<int32_t>>& lists, const SampleSet& samples,
                               const std::vector<ScoreCell>& cells, const CancelFlag* cancel,
                               const EngineOptions& options, std::span<const uint32_t> order) {
    if (Status sets = check_sets(training, samples); !sets) return sets.error();
    if (lists.size() != recognisers.size()) return refusal("one mistake list is needed per recogniser");
    if (Status checked = check_order(order, training.rows()); !checked) return checked.error();
    if (Status checked = check_all(recognisers); !checked) return checked.error();
    for (const Recogniser& recogniser : recognisers) {
        if (!same_kernel(recogniser.kernel, recognisers[0].kernel)) {
            return refusal("recognisers scored together must share their kernel");
        }
    }
    if (Status checked = check_options(options); !checked) return checked.error();
    return guarded<Scores>([&]() -> Result<Scores> {
        std::vector<uint32_t> position(order.empty() ? 0 : training.rows());
        for (uint32_t p = 0; p < order.size(); ++p) position[order[p]] = p;
        std::vector<std::vector<int32_t>> steps;
        for (const std::vector<int32_t>& mistakes : lists) {
            if (Status checked = check_list(mistakes, training.rows(), "mistake list"); !checked) {
                return refusal(checked.error().message());
            }
            steps.push_back(steps_of(mistakes, position));
        }
        return scores_by_steps(training, recognisers, lists, steps, training.rows(), samples, cells, cancel, options);
    });
}

Result<std::vector<std::vector<double>>> decision_scores(const SampleSet& training, const Recogniser& recogniser,
                                                         const std::vector<int32_t>& mistakes, const SampleSet& samples,
                                                         const std::vector<ScoreCell>& cells, const CancelFlag* cancel,
                                                         const EngineOptions& options,
                                                         std::span<const uint32_t> order) {
    return guarded<std::vector<std::vector<double>>>([&]() -> Result<std::vector<std::vector<double>>> {
        auto scores = decision_scores(training, std::vector<Recogniser>{recogniser}, {mistakes}, samples, cells, cancel,
                                      options, order);
        if (!scores) return scores.error();
        return std::move(scores.value()[0]);
    });
}

Result<std::vector<double>> decision_scores(const SampleSet& training, const Recogniser& recogniser,
                                            const std::vector<int32_t>& mistakes, const SampleSet& samples,
                                            Combine combine, const CancelFlag* cancel, const EngineOptions& options,
                                            std::span<const uint32_t> order) {
    return guarded<std::vector<double>>([&]() -> Result<std::vector<double>> {
        auto scores = decision_scores(training, recogniser, mistakes, samples, {ScoreCell{recogniser.epochs, combine}},
                                      cancel, options, order);
        if (!scores) return scores.error();
        return std::move(scores.value()[0]);
    });
}

std::size_t best_of(const double* scores, std::size_t count) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < count; ++i) {
        if (scores[i] > scores[best]) best = i;
    }
    return best;
}

Result<TestResult> test(const SampleSet& training, const Recogniser& recogniser, const std::vector<int32_t>& mistakes,
                        const SampleSet& samples, const CancelFlag* cancel, const EngineOptions& options) {
    Result<std::vector<float>> sums = decision_sums(training, recogniser, mistakes, samples, cancel, options);
    if (!sums) return sums.error();
    AnswerCounts counts;
    for (uint32_t r = 0; r < samples.rows(); ++r) {
        counts.record(answer_of(sums.value()[r]), target_label(samples.label(r), recogniser.target));
    }
    return TestResult{counts.said_plus, counts.said_minus, counts.wrong_plus, counts.wrong_minus,
                      error_fraction(counts.wrong, samples.rows())};
}

}  // namespace programma
