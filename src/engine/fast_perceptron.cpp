// The kernel perceptron on the batch engine.
//
// The distinct rows of the mistake list are packed for batch evaluation (one
// slot per distinct row, in order of first mistake). Training decides rows
// in tiles: at the start of each, the tile's rows get the kernel values they
// need against the slots of that moment, computed together, tiled and split
// across threads (they do not depend on the decisions in between). The traced
// polynomial decision then reads all of them, helped across epochs by a
// kernel cache; a silent decision carries each row's sum from one of its
// decisions to the next and adds only the entries appended since. Either way
// each decision sum adds the values in list order, one rounding after
// another, as classify does. Testing splits the test rows across threads.
// The polynomial trace and pauses happen in the same order as in the scalar
// code.
#include "fast_perceptron.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "batch_exp.h"
#include "engine_settings.h"
#include "kernel_engine.h"
#include "polynomial_trace.h"
#include "worker_pool.h"

namespace {

// Test rows are computed in chunks of this many rows, so that the
// polynomial trace can follow each chunk in order without holding every
// value at once, and so that a cancelled scoring stops between chunks.
constexpr uint32_t kTestRowsPerChunk = 256;
// Training computes kernel values ahead for tiles of this many rows.
constexpr uint32_t kTileRows = 128;

// The batch engine's raw value for a kernel: the dot product under the
// polynomial kernel, the squared distance under the gaussian one.
BatchKind batch_kind(KernelKind kind) {
    switch (kind) {
        case KernelKind::polynomial: return BatchKind::dot_exact;
        case KernelKind::gaussian: return BatchKind::squared_distance;
    }
    return BatchKind::dot_exact;  // not reached: every kind is named above
}

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

// Kernel values of several samples against slots [sample.from, to), each into
// its own slot-indexed array (other slots are left as they are): the batch
// engine's raw values (dot products or squared distances), tiled over the
// slots, finished by the kernel's last step.
void tiled_kernel_values(KernelSpec ker, const PackedRows& slots, const TiledSample* samples,
                         std::size_t count, uint32_t to) {
    batch_tiled(batch_kind(ker.kind), slots, samples, count, to);
    for (std::size_t i = 0; i < count; ++i) {
        float* out = samples[i].out;
        const uint32_t from = samples[i].from;
        if (to <= from) continue;
        switch (ker.kind) {
            case KernelKind::polynomial:
                for (uint32_t s = from; s < to; ++s) out[s] = polynomial_of_dot(out[s], ker.parameter);
                break;
            case KernelKind::gaussian: gaussian_of_distances(out + from, to - from, ker.parameter); break;
        }
    }
}

// Adds the entries' signed kernel values in list order, value_of(slot)
// giving a slot's value; with a trace each evaluation is traced in order.
template <typename ValueOf>
float decision_sum(const MistakeRows& mistakes, std::size_t from_entry, float sum,
                   const ValueOf& value_of, PolynomialTrace* trace) {
    const std::size_t count = mistakes.entries();
    for (std::size_t e = from_entry; e < count; ++e) {
        const uint32_t slot = mistakes.entry_slot[e];
        const float value = value_of(slot);
        if (trace != nullptr) trace->evaluation(slot, value);
        sum = sum + mistakes.entry_sign[e] * value;
    }
    return sum;
}

// Memory for one cache chunk: huge pages, which save most of the page faults
// of touching hundreds of megabytes.
struct ChunkMemory {
    std::size_t bytes = 0;
    void operator()(float* chunk) const { free_sample_memory(chunk, bytes); }
};

struct KernelCache {
    static constexpr uint32_t kChunkSlots = 256;
    uint32_t rows;
    std::size_t budget;
    std::vector<std::unique_ptr<float[], ChunkMemory>> chunks;
    std::vector<uint32_t> cached;  // per row: slots 0 .. cached[r] are stored

    KernelCache(uint32_t row_count, std::size_t bytes)
        : rows(row_count), budget(bytes), cached(row_count, 0) {}

    std::size_t chunk_bytes() const { return std::size_t(rows) * kChunkSlots * sizeof(float); }

    float* chunk_row(std::size_t chunk, uint32_t r) const {
        return chunks[chunk].get() + std::size_t(r) * kChunkSlots;
    }

    // How many of the first `slots` slots can be stored, allocating chunks as
    // the budget allows.
    uint32_t room_for(uint32_t slots) {
        while (chunks.size() * kChunkSlots < slots && (chunks.size() + 1) * chunk_bytes() <= budget) {
            try {
                std::unique_ptr<float[], ChunkMemory> chunk(
                    static_cast<float*>(allocate_sample_memory(chunk_bytes())), ChunkMemory{chunk_bytes()});
                chunks.push_back(std::move(chunk));
            } catch (const std::bad_alloc&) {
                budget = chunks.size() * chunk_bytes();  // the system says no: stop growing
                break;
            }
        }
        return std::min<uint32_t>(slots, uint32_t(chunks.size() * kChunkSlots));
    }

    // Copies row r's cached values into a slot-indexed array.
    void load(uint32_t r, float* values) const {
        for (uint32_t from = 0; from < cached[r]; from += kChunkSlots) {
            const uint32_t count = std::min(kChunkSlots, cached[r] - from);
            std::copy(chunk_row(from / kChunkSlots, r), chunk_row(from / kChunkSlots, r) + count, values + from);
        }
    }

    // Stores slots [from, to) of row r from a slot-indexed array.
    void store(uint32_t r, uint32_t from, uint32_t to, const float* values) {
        while (from < to) {
            const std::size_t chunk = from / kChunkSlots;
            const uint32_t end = std::min<uint32_t>(to, uint32_t((chunk + 1) * kChunkSlots));
            std::copy(values + from, values + end, chunk_row(chunk, r) + (from - chunk * kChunkSlots));
            from = end;
        }
    }
};

// Training state: the packed mistakes, and what carries a row's work from
// one of its decisions to the next.
//
// Rows are decided in tiles of kTileRows. At the start of a tile every tile
// row gets the kernel values it needs against the slots of that moment,
// computed together, tiled and split across threads; within the tile a
// decision computes only the slots added since.
//
// The traced decision writes every evaluation, so each decision needs every
// value: a kernel cache keeps them from one epoch to the next, while a later
// epoch can read them.
//
// A silent decision's sum is the same chain of roundings each time, over a
// list that only grows at its end: a row's sum at one decision is exactly
// where its sum at the next decision passes the same point of the list. So
// each row keeps its sum and the list position it covers, and a later
// decision only adds the entries appended since: the tile computes those
// sums side by side, each row's chain in list order.
struct Trainer {
    KernelSpec ker;
    uint32_t digit;
    const SampleMatrix& set;
    uint32_t features;
    PolynomialTrace* trace;             // traced decisions, or none
    MistakeRows mistakes;
    std::vector<int8_t> row_nan;        // per row: 0 not yet scanned, 1 holds a NaN, 2 none
    KernelCache cache;                  // traced decisions only
    bool keep = true;                   // store new values in the cache
    // Per row, for a silent decision: its sum so far, the entries and the
    // slots there were when it was taken.
    std::vector<float> memo_sum;
    std::vector<uint32_t> memo_entries;
    std::vector<uint32_t> memo_slots;
    EngineFloats fresh;                 // the current row's values for slots added in the tile
    std::vector<float> block_values;    // scratch of single_value, by slot
    EngineFloats tile;                  // per tile row: values for slots [tile_from, tile_slots)
    std::vector<uint32_t> tile_from;    // per tile row: first slot it holds
    std::vector<float> partial;         // per tile row: its sum through entry tile_entries
    uint32_t tile_first = 0;
    uint32_t tile_end = 0;
    uint32_t tile_slots = 0;
    std::size_t tile_entries = 0;

    Trainer(KernelSpec k, uint32_t d, const SampleMatrix& s, uint32_t columns, PolynomialTrace* t)
        : ker(k), digit(d), set(s), features(columns - 1), trace(t), mistakes(s, columns - 1),
          row_nan(s.rows, 0), cache(s.rows, t != nullptr ? engine_settings().cache_bytes : 0) {
        // Under an address-space limit what the set's size bounds is had
        // now, before anything is printed: a process that cannot have it
        // leaves the training to the reference. (Otherwise the buffers grow
        // as needed, mostly into memory that earlier buffers have touched.)
        if (address_space_limited()) {
            pack_reserve(mistakes.slots, s.rows);
            tile.reserve(std::size_t(std::min(kTileRows, s.rows)) * s.rows);
            fresh.reserve(s.rows);
            block_values.reserve(s.rows);
        }
        if (trace == nullptr) {
            memo_sum.assign(s.rows, 0.0f);
            memo_entries.assign(s.rows, 0);
            memo_slots.assign(s.rows, 0);
        }
    }

    // Whether row r's features hold no NaN, scanned once per run (each
    // thread asks only about its own rows).
    bool nan_free(uint32_t r) {
        if (row_nan[r] == 0) row_nan[r] = holds_nan(set.row(r), features) ? 1 : 2;
        return row_nan[r] == 2;
    }

    void add_mistake(uint32_t r) {
        const bool new_slot = mistakes.slot_of_row[r] < 0;
        mistakes.add(set, r, digit);
        if (trace != nullptr && new_slot) trace->add_slot(features, set.row(r));
    }

    // The first slot row r needs at the start of a tile: for a traced
    // decision what its cache lacks; for a silent one the oldest slot among
    // the entries appended since its last decision (the slots made since
    // then, and any older slot a row mistaken again brought back).
    uint32_t first_needed_slot(uint32_t r) const {
        if (trace != nullptr) return cache.cached[r];
        uint32_t from = memo_slots[r];
        for (std::size_t e = memo_entries[r]; e < tile_entries; ++e) {
            from = std::min(from, mistakes.entry_slot[e]);
        }
        return std::min(from, tile_slots);
    }

    // Starts the tile of rows [first, end): their values against the current
    // slots and, for silent decisions, their sums through the current
    // entries.
    void start_tile(uint32_t first, uint32_t end) {
        tile_first = first;
        tile_end = end;
        tile_slots = mistakes.slots.count;
        tile_entries = mistakes.entries();
        partial.assign(end - first, 0.0f);
        tile_from.assign(end - first, tile_slots);
        if (tile_slots == 0) return;
        const uint32_t room = keep ? cache.room_for(tile_slots) : 0;
        tile.resize(std::size_t(end - first) * tile_slots);
        parallel_for(end - first, 4, [&](std::size_t begin, std::size_t stop) {
            std::vector<TiledSample> samples;
            for (std::size_t i = begin; i < stop; ++i) {
                const uint32_t r = first + uint32_t(i);
                float* values = tile.data() + i * tile_slots;
                if (trace != nullptr) cache.load(r, values);
                tile_from[i] = first_needed_slot(r);
                if (tile_from[i] < tile_slots) {
                    samples.push_back({set.row(r), tile_from[i], values, nan_free(r)});
                }
            }
            tiled_kernel_values(ker, mistakes.slots, samples.data(), samples.size(), tile_slots);
            if (trace == nullptr) {
                partial_sums(begin, stop);
                return;
            }
            for (const TiledSample& sample : samples) {
                const uint32_t r = first + uint32_t((sample.out - tile.data()) / tile_slots);
                if (room > sample.from) {
                    cache.store(r, sample.from, room, sample.out);
                    cache.cached[r] = room;
                }
            }
            // The traced decision reads every value from the tile.
            for (std::size_t i = begin; i < stop; ++i) tile_from[i] = 0;
        });
    }

    // Continues the sums of tile rows [begin, end) from their last decision
    // through the tile's entries, four rows' chains at a time.
    void partial_sums(std::size_t begin, std::size_t end) {
        const uint32_t* slot = mistakes.entry_slot.data();
        const float* sign = mistakes.entry_sign.data();
        const auto sum_one = [&](std::size_t i) {
            const uint32_t r = tile_first + uint32_t(i);
            const float* v = tile.data() + i * tile_slots;
            float sum = memo_sum[r];
            for (std::size_t e = memo_entries[r]; e < tile_entries; ++e) sum = sum + sign[e] * v[slot[e]];
            partial[i] = sum;
        };
        std::size_t i = begin;
        for (; i + 4 <= end; i += 4) {
            const uint32_t r = tile_first + uint32_t(i);
            const std::size_t start = memo_entries[r];
            if (memo_entries[r + 1] != start || memo_entries[r + 2] != start ||
                memo_entries[r + 3] != start) {
                for (std::size_t k = i; k < i + 4; ++k) sum_one(k);
                continue;
            }
            const float* v0 = tile.data() + i * tile_slots;
            const float* v1 = v0 + tile_slots;
            const float* v2 = v1 + tile_slots;
            const float* v3 = v2 + tile_slots;
            float s0 = memo_sum[r], s1 = memo_sum[r + 1], s2 = memo_sum[r + 2], s3 = memo_sum[r + 3];
            for (std::size_t e = start; e < tile_entries; ++e) {
                const uint32_t s = slot[e];
                s0 = s0 + sign[e] * v0[s];
                s1 = s1 + sign[e] * v1[s];
                s2 = s2 + sign[e] * v2[s];
                s3 = s3 + sign[e] * v3[s];
            }
            partial[i] = s0;
            partial[i + 1] = s1;
            partial[i + 2] = s2;
            partial[i + 3] = s3;
        }
        for (; i < end; ++i) sum_one(i);
    }

    // The values of row r (in the current tile) for the slots added since the
    // tile began, kept in the cache while it holds the row's earlier ones.
    void compute_fresh(uint32_t r) {
        const uint32_t need = mistakes.slots.count;
        if (need <= tile_slots) return;
        if (fresh.size() < need) fresh.resize(std::max<std::size_t>(need, 2 * fresh.size()));
        const TiledSample one{set.row(r), tile_slots, fresh.data(), nan_free(r)};
        tiled_kernel_values(ker, mistakes.slots, &one, 1, need);
        if (keep && cache.cached[r] == tile_slots) {
            const uint32_t room = cache.room_for(need);
            if (room > tile_slots) {
                cache.store(r, tile_slots, room, fresh.data());
                cache.cached[r] = room;
            }
        }
    }

    // Row r's value against one slot the tile did not compute for it (an
    // old slot brought back by a row mistaken again within the tile): the
    // batch over that slot's block.
    float single_value(uint32_t r, uint32_t slot) {
        const uint32_t first = slot / kLanes * kLanes;
        if (block_values.size() < mistakes.slots.count) block_values.resize(mistakes.slots.count);
        const TiledSample one{set.row(r), first, block_values.data(), nan_free(r)};
        tiled_kernel_values(ker, mistakes.slots, &one, 1, std::min(mistakes.slots.count, first + kLanes));
        return block_values[slot];
    }

    // Decides row r, starting a tile at it when it lies outside the current
    // one.
    int32_t decide(uint32_t r) {
        if (r < tile_first || r >= tile_end) start_tile(r, std::min(set.rows, r + kTileRows));
        compute_fresh(r);
        const std::size_t i = r - tile_first;
        const float* values = tile.data() + i * tile_slots;
        const uint32_t from = tile_from[i];
        const auto value_of = [&](uint32_t slot) {
            if (slot >= tile_slots) return fresh[slot];
            return slot >= from ? values[slot] : single_value(r, slot);
        };
        if (trace != nullptr) {
            trace->start_decision(features, set.row(r));
            return answer_of(decision_sum(mistakes, 0, 0.0f, value_of, trace));
        }
        const float sum = decision_sum(mistakes, tile_entries, partial[i], value_of, nullptr);
        memo_sum[r] = sum;
        memo_entries[r] = uint32_t(mistakes.entries());
        memo_slots[r] = mistakes.slots.count;
        return answer_of(sum);
    }

    // A new epoch: tiles start afresh, and the cache keeps new values only
    // while a later epoch can read them.
    void next_epoch(bool later_epoch) {
        tile_first = tile_end = 0;
        keep = later_epoch;
    }
};

// The list's entries packed once, for a test.
MistakeRows packed_list(const IndexList& list, const SampleMatrix& tr_set, uint32_t digit,
                        uint32_t features) {
    std::vector<int32_t> index_array;
    read_list(index_array, &list);
    MistakeRows mistakes(tr_set, features);
    mistakes.reserve(index_array.size());
    for (int32_t index : index_array) mistakes.add(tr_set, static_cast<uint32_t>(index), digit);
    return mistakes;
}

// Kernel values of test rows [first, first + count) against every slot, in
// `values` (row i's at i * slots.count).
void test_chunk_values(KernelSpec ker, const MistakeRows& mistakes, const SampleMatrix& samples,
                       uint32_t first, uint32_t count, EngineFloats& values) {
    const std::size_t stride = mistakes.slots.count;
    values.resize(std::size_t(count) * stride);
    parallel_for(count, 1, [&](std::size_t begin, std::size_t end) {
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
std::vector<Score> scored_rows(KernelSpec ker, uint32_t digit, const IndexList& list, const SampleMatrix& tr_set,
                               const SampleMatrix& samples, const CancelFlag* cancel, Score empty,
                               const ScoreOf& score_of) {
    const MistakeRows mistakes = packed_list(list, tr_set, digit, tr_set.columns - 1);
    std::vector<Score> scores(samples.rows, empty);
    EngineFloats values;
    const std::size_t stride = mistakes.slots.count;
    for (uint32_t first = 0; first < samples.rows && stride > 0; first += kTestRowsPerChunk) {
        stop_if_cancelled(cancel);
        const uint32_t count = std::min(kTestRowsPerChunk, samples.rows - first);
        test_chunk_values(ker, mistakes, samples, first, count, values);
        parallel_for(count, 8, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) scores[first + i] = score_of(mistakes, values.data() + i * stride);
        });
    }
    return scores;
}

}  // namespace

int run_fast(uint32_t epochs, uint32_t digit, KernelSpec ker, std::unique_ptr<IndexList>& list,
             const SampleMatrix& tr_set, uint32_t columns, uint32_t rows, float& error, Report report,
             const CancelFlag* cancel) {
    std::optional<PolynomialTrace> trace;
    std::optional<Trainer> trainer;
    try {
        if (traced(ker.kind, report)) trace.emplace(ker.parameter);
        trainer.emplace(ker, digit, tr_set, columns, trace ? &*trace : nullptr);
    } catch (const std::bad_alloc&) {
        return kEngineOutOfMemory;
    }
    if (create_list(list) == -1) return 1;
    uint32_t epoch = 0;
    trainer->next_epoch(epoch + 1 < epochs);
    const uint32_t last_wrong = train_epochs(
        epochs, digit, tr_set, columns, rows, list,
        [&](uint32_t r, bool) {
            if (r % kTileRows == 0) stop_if_cancelled(cancel);
            return trainer->decide(r);
        },
        [&](uint32_t r) { trainer->add_mistake(r); },
        [&](const AnswerCounts& counts) {
            if (trace) trace->flush();
            if (report == Report::printed) print_answers(counts);
            trainer->next_epoch(++epoch + 1 < epochs);
        });
    error = error_fraction(last_wrong, rows);
    return 0;
}

std::vector<float> decision_sums(KernelSpec ker, uint32_t digit, const IndexList& list,
                                 const SampleMatrix& tr_set, const SampleMatrix& samples,
                                 const CancelFlag* cancel) {
    return scored_rows(ker, digit, list, tr_set, samples, cancel, 0.0f,
                       [](const MistakeRows& mistakes, const float* row_values) {
                           return decision_sum(
                               mistakes, 0, 0.0f, [&](uint32_t slot) { return row_values[slot]; }, nullptr);
                       });
}

std::vector<std::vector<double>> combined_scores(KernelSpec ker, uint32_t digit, const IndexList& list,
                                                 const SampleMatrix& tr_set, const SampleMatrix& samples,
                                                 const std::vector<PrefixAnswer>& answers,
                                                 const CancelFlag* cancel) {
    // A row's scores under every answer from its prefix sums s_0 = 0 ... s_m.
    const auto answer_all = [&](const float* prefix_sums) {
        std::vector<double> scores;
        scores.reserve(answers.size());
        for (const PrefixAnswer& answer : answers) {
            CombinedScore score(answer.combine, answer.weights.data());
            for (uint32_t k = 0; k <= answer.entries; ++k) score.add(prefix_sums[k]);
            scores.push_back(score.score());
        }
        return scores;
    };
    // Each prefix sum is added as decision_sum adds the whole.
    const auto row_scores = [&](const MistakeRows& mistakes, const float* row_values) {
        std::vector<float> prefix_sums(mistakes.entries() + 1, 0.0f);
        for (std::size_t e = 0; e < mistakes.entries(); ++e) {
            prefix_sums[e + 1] = prefix_sums[e] + mistakes.entry_sign[e] * row_values[mistakes.entry_slot[e]];
        }
        return answer_all(prefix_sums.data());
    };
    const float empty_list = 0.0f;
    const std::vector<std::vector<double>> by_row =
        scored_rows(ker, digit, list, tr_set, samples, cancel, answer_all(&empty_list), row_scores);
    std::vector<std::vector<double>> scores(answers.size(), std::vector<double>(samples.rows));
    for (uint32_t r = 0; r < samples.rows; ++r) {
        for (std::size_t a = 0; a < answers.size(); ++a) scores[a][r] = by_row[r][a];
    }
    return scores;
}

int run_test_fast(uint32_t digit, KernelSpec ker, const IndexList* list,
                  const SampleMatrix& tr_set, uint32_t tr_columns, const SampleMatrix& ts_set,
                  uint32_t ts_columns, uint32_t ts_rows, float& error) {
    if (list == nullptr) return 1;
    AnswerCounts counts;
    if (!traced(ker.kind, Report::printed)) {
        std::vector<float> sums;
        try {
            sums = decision_sums(ker, digit, *list, tr_set, ts_set);
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
        packed.emplace(packed_list(*list, tr_set, digit, features));
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
        test_chunk_values(ker, mistakes, ts_set, first, count, values);
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
