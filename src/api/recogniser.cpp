// Recognisers through the library: silent training, decision sums and tests
// on the engine, one computation at a time, each able to be cancelled.
#include <algorithm>
#include <atomic>
#include <bit>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "engine_settings.h"
#include "fast_perceptron.h"
#include "file_lib.h"
#include "list_lib.h"
#include "perceptron_lib.h"
#include "programma/api.h"
#include "worker_pool.h"

namespace programma {
namespace {

// The worker pool serves one caller at a time.
std::mutex& engine_mutex() {
    static std::mutex mutex;
    return mutex;
}

Error out_of_memory() { return Error{"out of memory"}; }
Error cancelled() { return Error{"cancelled"}; }

Status check_sets(const SampleSet& training, const SampleSet& samples) {
    if (training.rows() == 0) return Error{"the training set holds no sample"};
    if (samples.columns() != training.columns()) {
        return Error{"samples have " + std::to_string(samples.columns()) + " numbers, the training set's have " +
                     std::to_string(training.columns())};
    }
    return Done{};
}

// The list as the engine takes it, once its entries are checked.
Result<std::unique_ptr<IndexList>> index_list(const std::vector<int32_t>& mistakes, uint32_t training_rows) {
    if (Status checked = check_list(mistakes, training_rows, "mistake list"); !checked) return checked.error();
    std::unique_ptr<IndexList> list;
    create_list(list);
    for (int32_t index : mistakes) add_list(index, list);
    return list;
}

// How one silent training ended.
enum class Ending { trained, out_of_memory, cancelled };

// One recogniser's silent training on the engine; never throws.
Ending train_one(const SampleSet& training, const Recogniser& recogniser, const CancelFlag* cancel, Trained& trained) {
    try {
        std::unique_ptr<IndexList> list;
        const int status =
            run_fast(recogniser.epochs, recogniser.target, recogniser.kernel, list, training.matrix(),
                     training.columns(), training.rows(), trained.training_error, Report::silent, cancel);
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
Ending train_shared(const SampleSet& training, const std::vector<Recogniser>& recognisers, const CancelFlag* cancel,
                    const std::function<void(std::size_t)>& trained, std::vector<Trained>& results) {
    std::vector<TrainingJob> jobs;
    for (const Recogniser& recogniser : recognisers) jobs.push_back({recogniser.target, recogniser.epochs});
    try {
        std::vector<TrainedList> lists =
            train_together(recognisers[0].kernel, jobs, training.matrix(), training.columns(), cancel, trained);
        for (std::size_t i = 0; i < lists.size(); ++i) results[i] = {std::move(lists[i].list), lists[i].error};
        return Ending::trained;
    } catch (const Cancelled&) {
        return Ending::cancelled;
    } catch (const std::bad_alloc&) {
        return Ending::out_of_memory;
    }
}

bool share_kernel(const std::vector<Recogniser>& recognisers) {
    return std::all_of(recognisers.begin(), recognisers.end(), [&](const Recogniser& r) {
        return r.kernel.kind == recognisers[0].kernel.kind &&
               std::bit_cast<uint32_t>(r.kernel.parameter) == std::bit_cast<uint32_t>(recognisers[0].kernel.parameter);
    });
}

}  // namespace

Result<std::vector<Trained>> train(const SampleSet& training, const std::vector<Recogniser>& recognisers,
                                   const CancelFlag* cancel, const std::function<void(std::size_t)>& trained) {
    if (training.rows() == 0) return Error{"the training set holds no sample"};
    std::vector<Trained> results(recognisers.size());
    if (!recognisers.empty() && share_kernel(recognisers)) {
        const std::lock_guard<std::mutex> lock(engine_mutex());
        switch (train_shared(training, recognisers, cancel, trained, results)) {
            case Ending::trained: return results;
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
        const std::size_t threads = std::min<std::size_t>(recognisers.size(), pool_threads());
        parallel_for(threads, 1, [&](std::size_t, std::size_t) {
            for (std::size_t i = next++; i < recognisers.size(); i = next++) {
                endings[i] = train_one(training, recognisers[i], cancel, results[i]);
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
    return results;
}

Result<Trained> train(const SampleSet& training, const Recogniser& recogniser, const CancelFlag* cancel) {
    Result<std::vector<Trained>> trained = train(training, std::vector<Recogniser>{recogniser}, cancel);
    if (!trained) return trained.error();
    return std::move(trained.value()[0]);
}

Result<std::vector<float>> decision_sums(const SampleSet& training, const Recogniser& recogniser,
                                         const std::vector<int32_t>& mistakes, const SampleSet& samples,
                                         const CancelFlag* cancel) {
    if (Status sets = check_sets(training, samples); !sets) return sets.error();
    try {
        Result<std::unique_ptr<IndexList>> list = index_list(mistakes, training.rows());
        if (!list) return list.error();
        const std::lock_guard<std::mutex> lock(engine_mutex());
        return ::decision_sums(recogniser.kernel, recogniser.target, *list.value(), training.matrix(), samples.matrix(),
                               cancel);
    } catch (const Cancelled&) {
        return cancelled();
    } catch (const std::bad_alloc&) {
        return out_of_memory();
    }
}

Result<std::vector<std::vector<std::vector<double>>>> decision_scores(const SampleSet& training,
                                                                      const std::vector<Recogniser>& recognisers,
                                                                      const std::vector<std::vector<int32_t>>& lists,
                                                                      const SampleSet& samples,
                                                                      const std::vector<ScoreCell>& cells,
                                                                      const CancelFlag* cancel) {
    if (Status sets = check_sets(training, samples); !sets) return sets.error();
    if (lists.size() != recognisers.size()) return Error{"one mistake list is needed per recogniser"};
    for (const Recogniser& recogniser : recognisers) {
        if (recogniser.kernel.kind != recognisers[0].kernel.kind ||
            recogniser.kernel.parameter != recognisers[0].kernel.parameter) {
            return Error{"recognisers scored together must share their kernel"};
        }
    }
    try {
        std::vector<std::unique_ptr<IndexList>> index_lists;
        std::vector<ListAnswers> to_score;
        for (std::size_t i = 0; i < recognisers.size(); ++i) {
            const Recogniser& recogniser = recognisers[i];
            const std::vector<int32_t>& mistakes = lists[i];
            Result<std::unique_ptr<IndexList>> list = index_list(mistakes, training.rows());
            if (!list) return list.error();
            index_lists.push_back(std::move(list).value());
            std::vector<uint64_t> weights;
            uint32_t needed = 0;
            if (!prefix_weights(mistakes.data(), uint32_t(mistakes.size()), training.rows(), recogniser.epochs, weights,
                                needed)) {
                return Error{"the mistake list of class " + std::to_string(recogniser.target) + " needs " +
                             std::to_string(needed) + " epochs of training, more than the " +
                             std::to_string(recogniser.epochs) + " given"};
            }
            ListAnswers answers{recogniser.target, index_lists.back().get(), {}};
            for (const ScoreCell& cell : cells) {
                if (cell.epochs > recogniser.epochs) {
                    return Error{"an answer after " + std::to_string(cell.epochs) +
                                 " epochs needs a training of as many"};
                }
                PrefixAnswer answer{
                    cell.combine, entries_within(mistakes.data(), uint32_t(mistakes.size()), cell.epochs), {}};
                prefix_weights(mistakes.data(), answer.entries, training.rows(), cell.epochs, answer.weights, needed);
                answers.answers.push_back(std::move(answer));
            }
            to_score.push_back(std::move(answers));
        }
        if (recognisers.empty()) return std::vector<std::vector<std::vector<double>>>{};
        const std::lock_guard<std::mutex> lock(engine_mutex());
        return combined_scores(recognisers[0].kernel, to_score, training.matrix(), samples.matrix(), cancel);
    } catch (const Cancelled&) {
        return cancelled();
    } catch (const std::bad_alloc&) {
        return out_of_memory();
    }
}

Result<std::vector<std::vector<double>>> decision_scores(const SampleSet& training, const Recogniser& recogniser,
                                                         const std::vector<int32_t>& mistakes, const SampleSet& samples,
                                                         const std::vector<ScoreCell>& cells,
                                                         const CancelFlag* cancel) {
    auto scores = decision_scores(training, std::vector<Recogniser>{recogniser}, {mistakes}, samples, cells, cancel);
    if (!scores) return scores.error();
    return std::move(scores.value()[0]);
}

Result<std::vector<double>> decision_scores(const SampleSet& training, const Recogniser& recogniser,
                                            const std::vector<int32_t>& mistakes, const SampleSet& samples,
                                            Combine combine, const CancelFlag* cancel) {
    auto scores =
        decision_scores(training, recogniser, mistakes, samples, {ScoreCell{recogniser.epochs, combine}}, cancel);
    if (!scores) return scores.error();
    return std::move(scores.value()[0]);
}

std::size_t best_of(const double* scores, std::size_t count) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < count; ++i) {
        if (scores[i] > scores[best]) best = i;
    }
    return best;
}

Result<TestResult> test(const SampleSet& training, const Recogniser& recogniser, const std::vector<int32_t>& mistakes,
                        const SampleSet& samples, const CancelFlag* cancel) {
    Result<std::vector<float>> sums = decision_sums(training, recogniser, mistakes, samples, cancel);
    if (!sums) return sums.error();
    AnswerCounts counts;
    for (uint32_t r = 0; r < samples.rows(); ++r) {
        counts.record(answer_of(sums.value()[r]), target_label(samples.label(r), recogniser.target));
    }
    return TestResult{counts.said_plus, counts.said_minus, counts.wrong_plus, counts.wrong_minus,
                      error_fraction(counts.wrong, samples.rows())};
}

EngineOptions engine_options() {
    const std::lock_guard<std::mutex> lock(engine_mutex());
    const EngineSettings& settings = engine_settings();
    return EngineOptions{settings.threads, settings.cache_bytes};
}

Status set_engine_options(const EngineOptions& options) {
    if (options.threads == 0) return Error{"the engine needs at least one thread"};
    const std::lock_guard<std::mutex> lock(engine_mutex());
    EngineSettings& settings = engine_settings();
    settings.threads = options.threads;
    settings.cache_bytes = options.cache_bytes;
    return Done{};
}

}  // namespace programma
