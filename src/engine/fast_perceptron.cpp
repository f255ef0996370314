// The kernel perceptron on the batch engine.
//
// The distinct rows of the mistake list are packed for batch evaluation (one
// slot per distinct row, in order of first mistake). Training decides rows
// in tiles (training_tiles.h) with one of two strategies: the traced
// polynomial decision reads every value, helped across epochs by a kernel
// cache (traced_trainer.h); a silent decision carries each row's sum from
// one of its decisions to the next and adds only the entries appended since
// (silent_trainer.h). Either way each decision sum adds the values in list
// order, one rounding after another, as classify does. Testing and scoring
// split the rows across threads. The polynomial trace and pauses happen in
// the same order as in the scalar code.
#include "fast_perceptron.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "engine_settings.h"
#include "kernel_engine.h"
#include "polynomial_trace.h"
#include "processor_probe.h"
#include "silent_trainer.h"
#include "traced_trainer.h"
#include "training_tiles.h"
#include "worker_pool.h"

namespace {

// Test rows are computed in chunks of this many rows, so that the
// polynomial trace can follow each chunk in order without holding every
// value at once, and so that a cancelled scoring stops between chunks.
constexpr uint32_t kTestRowsPerChunk = 256;

// Whether a run's decisions print the polynomial trace: the traced kernel,
// unless the run is silent.
bool traced(KernelKind kind, Report report) {
    if (report == Report::silent) return false;
    switch (kind) {
        case KernelKind::polynomial: return true;
        case KernelKind::gaussian: return false;
    }
    return false;
}

void stop_if_cancelled(const CancelFlag* cancel) {
    if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) throw Cancelled{};
}

// The list's entries packed once, for a test.
MistakeRows packed_list(const IndexList& list, const SampleMatrix& tr_set, uint32_t digit, uint32_t features,
                        const EngineSettings& settings) {
    std::vector<int32_t> index_array;
    read_list(index_array, &list);
    MistakeRows mistakes(tr_set, features, usable_vector_level(settings));
    mistakes.reserve(index_array.size());
    for (int32_t index : index_array) mistakes.add(tr_set, static_cast<uint32_t>(index), digit);
    return mistakes;
}

// Kernel values of test rows [first, first + count) against every slot, in
// `values` (row i's at i * slots.count).
void test_chunk_values(KernelSpec ker, const MistakeRows& mistakes, const SampleMatrix& samples, uint32_t first,
                       uint32_t count, EngineFloats& values, const EngineSettings& settings) {
    const std::size_t stride = mistakes.slots.count;
    values.resize(std::size_t(count) * stride);
    parallel_for(settings, count, 1, [&](std::size_t begin, std::size_t end) {
        std::vector<TiledSample> tiled;
        for (std::size_t i = begin; i < end; ++i) {
            tiled.push_back({samples.row(first + uint32_t(i)), 0, values.data() + i * stride});
        }
        tiled_kernel_values(ker, mistakes.slots, tiled.data(), tiled.size(), mistakes.slots.count);
    });
}

// Every row of `samples` scored against the list by score_of(mistakes,
// row_values), row_values[slot] being the row's kernel value against a
// slot; rows go in chunks split across threads. With an empty list every
// row scores `empty`.
template <typename Score, typename ScoreOf>
std::vector<Score> scored_rows(KernelSpec ker, const MistakeRows& mistakes, const SampleMatrix& samples,
                               const EngineSettings& settings, const CancelFlag* cancel, Score empty,
                               const ScoreOf& score_of) {
    std::vector<Score> scores(samples.rows, empty);
    EngineFloats values;
    const std::size_t stride = mistakes.slots.count;
    for (uint32_t first = 0; first < samples.rows && stride > 0; first += kTestRowsPerChunk) {
        stop_if_cancelled(cancel);
        const uint32_t count = std::min(kTestRowsPerChunk, samples.rows - first);
        test_chunk_values(ker, mistakes, samples, first, count, values, settings);
        parallel_for(settings, count, 8, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i)
                scores[first + i] = score_of(mistakes, values.data() + i * stride);
        });
    }
    return scores;
}

// Each row's kernel value with itself, as the margin test reads it.
std::vector<float> self_values(KernelSpec ker, const SampleMatrix& set, uint32_t columns,
                               const EngineSettings& settings) {
    std::vector<float> self(set.rows);
    parallel_for(settings, set.rows, 256, [&](std::size_t begin, std::size_t end) {
        for (std::size_t r = begin; r < end; ++r) self[r] = self_kernel_value(ker, columns - 1, set.row(uint32_t(r)));
    });
    return self;
}

}  // namespace

int run_fast(uint32_t epochs, uint32_t digit, KernelSpec ker, std::unique_ptr<IndexList>& list,
             const SampleMatrix& tr_set, uint32_t columns, uint32_t rows, float& error, const EngineSettings& settings,
             Report report, const CancelFlag* cancel) {
    std::optional<PolynomialTrace> trace;
    std::optional<TracedTrainer> traced_trainer;
    std::optional<SilentTrainer> silent_trainer;
    try {
        if (traced(ker.kind, report)) {
            trace.emplace(ker.parameter);
            traced_trainer.emplace(ker, digit, tr_set, columns, *trace, settings);
        } else {
            silent_trainer.emplace(ker, tr_set, columns, std::vector<uint32_t>{digit}, settings);
        }
    } catch (const std::bad_alloc&) {
        return kEngineOutOfMemory;
    }
    if (create_list(list) == -1) return 1;
    const auto train = [&](auto& trainer) {
        uint32_t epoch = 0;
        trainer.next_epoch(epoch + 1 < epochs);
        return train_epochs(
            epochs, digit, tr_set, columns, rows, list,
            [&](uint32_t r, bool) {
                if (r % kTileRows == 0) stop_if_cancelled(cancel);
                return trainer.decide(r);
            },
            [&](uint32_t r) { trainer.add_mistake(r); },
            [&](const AnswerCounts& counts) {
                if (trace) trace->flush();
                if (report == Report::printed) print_answers(counts);
                trainer.next_epoch(++epoch + 1 < epochs);
            });
    };
    const uint32_t last_wrong = traced_trainer ? train(*traced_trainer) : train(*silent_trainer);
    error = error_fraction(last_wrong, rows);
    return 0;
}

std::vector<TrainedList> train_together(KernelSpec ker, const std::vector<TrainingJob>& jobs,
                                        const SampleMatrix& tr_set, uint32_t columns, const EngineSettings& settings,
                                        const CancelFlag* cancel, const std::function<void(std::size_t)>& done,
                                        const std::function<void(uint64_t, uint64_t)>& progress) {
    std::vector<uint32_t> digits;
    uint32_t epochs = 0;
    bool margins = false;
    for (const TrainingJob& job : jobs) {
        digits.push_back(job.digit);
        epochs = std::max(epochs, job.epochs);
        margins = margins || job.margin > 0.0f;
    }
    SilentTrainer trainer(ker, tr_set, columns, digits, settings);
    const std::vector<float> self =
        margins ? self_values(ker, tr_set, columns, settings) : std::vector<float>(tr_set.rows);
    std::vector<TrainedList> trained(jobs.size());
    std::vector<AnswerCounts> counts(jobs.size());
    const auto finish_after = [&](uint32_t epoch) {
        for (std::size_t k = 0; k < jobs.size(); ++k) {
            if (jobs[k].epochs != epoch) continue;
            trainer.retire(k);
            trained[k] = {trainer.entries(k), error_fraction(counts[k].wrong, tr_set.rows)};
            if (done) done(k);
        }
    };
    const uint64_t decisions = uint64_t(epochs) * tr_set.rows;
    const auto report = [&](uint64_t decided) {
        if (progress) progress(decided, decisions);
    };
    finish_after(0);
    for (uint32_t epoch = 0; epoch < epochs; ++epoch) {
        trainer.next_epoch();
        counts.assign(jobs.size(), AnswerCounts{});
        for (uint32_t r = 0; r < tr_set.rows; ++r) {
            if (r % kTileRows == 0) {
                stop_if_cancelled(cancel);
                report(uint64_t(epoch) * tr_set.rows + r);
            }
            trainer.begin_row(r);
            const float label = tr_set.row(r)[columns - 1];
            for (std::size_t k = 0; k < jobs.size(); ++k) {
                if (epoch >= jobs[k].epochs) continue;
                const int32_t target = target_label(label, jobs[k].digit);
                const float sum = trainer.sum(k, r);
                counts[k].record(answer_of(sum), target);
                if (joins_list(sum, target, jobs[k].margin, self[r])) trainer.add(k, r);
            }
        }
        finish_after(epoch + 1);
        report(uint64_t(epoch + 1) * tr_set.rows);
    }
    return trained;
}

std::vector<float> decision_sums(KernelSpec ker, uint32_t digit, const IndexList& list, const SampleMatrix& tr_set,
                                 const SampleMatrix& samples, const EngineSettings& settings,
                                 const CancelFlag* cancel) {
    return scored_rows(ker, packed_list(list, tr_set, digit, tr_set.columns - 1, settings), samples, settings, cancel,
                       0.0f, [](const MistakeRows& mistakes, const float* row_values) {
                           return decision_sum(
                               mistakes, 0, 0.0f, [&](uint32_t slot) { return row_values[slot]; }, nullptr);
                       });
}

std::vector<std::vector<std::vector<double>>> combined_scores(KernelSpec ker, const std::vector<ListAnswers>& lists,
                                                              const SampleMatrix& tr_set, const SampleMatrix& samples,
                                                              const EngineSettings& settings,
                                                              const CancelFlag* cancel) {
    // Every list's entries in one packing: a row that several lists hold is
    // one slot, its kernel values computed once (they do not depend on the
    // list). List l's entries are entries [first[l], first[l + 1]).
    MistakeRows all(tr_set, tr_set.columns - 1, usable_vector_level(settings));
    std::vector<std::size_t> first{0};
    std::size_t longest = 0;
    for (const ListAnswers& list : lists) {
        std::vector<int32_t> entries;
        read_list(entries, list.list);
        for (const int32_t index : entries) all.add(tr_set, static_cast<uint32_t>(index), list.digit);
        first.push_back(all.entries());
        longest = std::max(longest, entries.size());
    }
    // A row's scores under every list's answers, from each list's prefix
    // sums s_0 = 0 ... s_m, each added as decision_sum adds the whole.
    const auto answer_all = [&](const MistakeRows& mistakes, const float* row_values) {
        std::vector<double> scores;
        // One buffer a thread, not one a row: rows are scored by the thousand.
        thread_local std::vector<float> prefix_sums;
        prefix_sums.assign(longest + 1, 0.0f);
        for (std::size_t l = 0; l < lists.size(); ++l) {
            for (std::size_t e = first[l]; e < first[l + 1] && row_values != nullptr; ++e) {
                const std::size_t k = e - first[l];
                prefix_sums[k + 1] = prefix_sums[k] + mistakes.entry_sign[e] * row_values[mistakes.entry_slot[e]];
            }
            for (const PrefixAnswer& answer : lists[l].answers) {
                CombinedScore score(answer.combine, answer.weights.data());
                for (uint32_t k = 0; k <= answer.entries; ++k) score.add(prefix_sums[k]);
                scores.push_back(score.score());
            }
        }
        return scores;
    };
    // With no entry at all, every row scores the empty lists' answers.
    const std::vector<std::vector<double>> by_row =
        scored_rows(ker, all, samples, settings, cancel, answer_all(all, nullptr), answer_all);
    std::vector<std::vector<std::vector<double>>> scores(lists.size());
    std::size_t column = 0;
    for (std::size_t l = 0; l < lists.size(); ++l) {
        for (std::size_t a = 0; a < lists[l].answers.size(); ++a, ++column) {
            scores[l].emplace_back(samples.rows);
            for (uint32_t r = 0; r < samples.rows; ++r) scores[l][a][r] = by_row[r][column];
        }
    }
    return scores;
}

int run_test_fast(uint32_t digit, KernelSpec ker, const IndexList* list, const SampleMatrix& tr_set,
                  uint32_t tr_columns, const SampleMatrix& ts_set, uint32_t ts_columns, uint32_t ts_rows, float& error,
                  const EngineSettings& settings) {
    if (list == nullptr) return 1;
    AnswerCounts counts;
    if (!traced(ker.kind, Report::printed)) {
        std::vector<float> sums;
        try {
            sums = decision_sums(ker, digit, *list, tr_set, ts_set, settings);
        } catch (const std::bad_alloc&) {
            return kEngineOutOfMemory;  // nothing printed yet
        }
        for (uint32_t r = 0; r < ts_rows; ++r) {
            counts.record(answer_of(sums[r]), target_label(ts_set.row(r)[ts_columns - 1], digit));
        }
        finish_test(counts, ts_rows, error);
        return 0;
    }
    // The polynomial decisions trace every evaluation, in order: what they
    // need is had before the first one.
    const uint32_t features = tr_columns - 1;
    std::optional<MistakeRows> packed;
    std::optional<PolynomialTrace> trace;
    EngineFloats values;
    try {
        packed.emplace(packed_list(*list, tr_set, digit, features, settings));
        trace.emplace(ker.parameter);
        for (uint32_t row : packed->slot_row) trace->add_slot(features, tr_set.row(row));
        values.reserve(std::size_t(std::min(kTestRowsPerChunk, ts_rows)) * packed->slots.count);
    } catch (const std::bad_alloc&) {
        return kEngineOutOfMemory;
    }
    const MistakeRows& mistakes = *packed;
    const std::size_t stride = mistakes.slots.count;
    for (uint32_t first = 0; first < ts_rows; first += kTestRowsPerChunk) {
        const uint32_t count = std::min(kTestRowsPerChunk, ts_rows - first);
        test_chunk_values(ker, mistakes, ts_set, first, count, values, settings);
        for (uint32_t i = 0; i < count; ++i) {
            const float* sample = ts_set.row(first + i);
            const float* row_values = values.data() + i * stride;
            trace->start_decision(features, sample);
            const float sum = decision_sum(
                mistakes, 0, 0.0f, [&](uint32_t slot) { return row_values[slot]; }, &*trace);
            counts.record(answer_of(sum), target_label(sample[ts_columns - 1], digit));
        }
    }
    trace->flush();
    finish_test(counts, ts_rows, error);
    return 0;
}
