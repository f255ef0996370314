// The kernel perceptron on the batch engine.
//
// Training keeps the distinct rows of the mistake list packed for batch
// evaluation (one slot per distinct row, in order of first mistake). Rows
// are decided in tiles: at the start of each, the tile's rows get the kernel
// values they need against the slots of that moment, computed together,
// tiled and split across threads (they do not depend on the decisions in
// between). The polynomial decision, which traces every evaluation, then
// reads all of them, helped across epochs by a kernel cache; the gaussian
// decision carries each row's sum from one of its decisions to the next and
// adds only the entries appended since. Either way each decision sum adds
// the values in list order, one rounding after another, as the scalar
// decision does. Testing splits the test rows across threads. The
// polynomial kernel's trace and pause happen in the same order as in the
// scalar code.
#include "fast_perceptron.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "batch_exp.h"
#include "engine_settings.h"
#include "kernel_engine.h"
#include "number_format.h"
#include "trace_writer.h"
#include "worker_pool.h"

namespace {

// Test rows are computed in chunks so that the polynomial trace can follow
// each chunk in order without holding every value at once.
constexpr uint32_t kTestChunk = 256;
// Training computes kernel values ahead for tiles of this many rows.
constexpr uint32_t kPrefetchRows = 128;

// Kernel values of several samples against slots [sample.from, to), each into
// its own slot-indexed array (other slots are left as they are): the batch
// engine's raw values (dot products or squared distances), tiled over the
// slots, finished by the kernel's last step.
void tiled_kernel_values(KernelSpec ker, const PackedRows& slots, const TiledSample* samples,
                         std::size_t count, uint32_t to) {
    batch_tiled(ker.kind == 0 ? BatchKind::dot_exact : BatchKind::squared_distance, slots,
                samples, count, to);
    for (std::size_t i = 0; i < count; ++i) {
        float* out = samples[i].out;
        const uint32_t from = samples[i].from;
        if (ker.kind != 0) {
            if (to > from) gaussian_of_distances(out + from, to - from, ker.parameter);
            continue;
        }
        for (uint32_t s = from; s < to; ++s) out[s] = polynomial_of_dot(out[s], ker.parameter);
    }
}

void kernel_values(KernelSpec ker, const float* sample, bool nan_free, const PackedRows& slots,
                   uint32_t from, uint32_t to, float* out) {
    const TiledSample one{sample, from, out, nan_free};
    tiled_kernel_values(ker, slots, &one, 1, to);
}

// Text of one number as printf("%f") writes it.
std::string fixed6(float value) {
    char text[kFixed6Max];
    return std::string(text, format_fixed6(value, text));
}

// The mistake list as the decision sum reads it: per entry, its slot, the
// sign of its row's target label and, for the polynomial trace, the row's
// traced element as text.
struct Entries {
    std::vector<uint32_t> slot;
    std::vector<float> sign;
    std::vector<std::string> traced_text;

    void add(uint32_t entry_slot, const float* row, uint32_t features, uint32_t digit) {
        slot.push_back(entry_slot);
        sign.push_back(static_cast<float>(target_label(row[features], digit)));
        traced_text.push_back(fixed6(traced_element(features, row)) + ' ');
    }
};

// Writes the polynomial trace of every evaluation of a decision, exactly as
// printf would, each followed by a one-character pause. Only the kernel
// value is formatted afresh: the other numbers repeat from evaluation to
// evaluation. Call flush before any other output.
struct PolynomialTrace {
    std::string head;         // "Arg <features> <sample's traced element> "
    std::string degree_text;  // " <degree>result vale "
    char previous[kFixed6Max];  // the last value shown, as text
    std::size_t previous_length = 0;
    TraceWriter writer;

    explicit PolynomialTrace(float degree) : degree_text(' ' + fixed6(degree) + "result vale ") {}

    void start_decision(uint32_t features, const float* sample) {
        char number[kFixed6Max];
        head = "Arg ";
        head.append(number, format_unsigned(features, number));
        head += ' ';
        head += fixed6(traced_element(features, sample));
        head += ' ';
        previous_length = format_fixed6(0.0, previous);
    }

    // One evaluation: against an entry whose row's traced element reads
    // row_text (with its space), giving value.
    void evaluation(const std::string& row_text, float value) {
        writer.write(head.data(), head.size());
        writer.write(row_text.data(), row_text.size());
        writer.write(previous, previous_length);
        writer.write(degree_text.data(), degree_text.size());
        previous_length = format_fixed6(value, previous);
        writer.write(previous, previous_length);
        writer.pause();
    }

    void flush() { writer.flush(); }
};

// Adds the entries' signed kernel values in list order; returns the answer.
// value_of(slot) gives a slot's kernel value. With a trace (the polynomial
// kernel) each evaluation is traced in order.
template <typename ValueOf>
int32_t decide(uint32_t features, const float* sample, const Entries& entries,
               const ValueOf& value_of, PolynomialTrace* trace) {
    float sum = 0.0f;
    const std::size_t count = entries.slot.size();
    if (trace != nullptr) {
        trace->start_decision(features, sample);
        for (std::size_t e = 0; e < count; ++e) {
            const float value = value_of(entries.slot[e]);
            trace->evaluation(entries.traced_text[e], value);
            sum = sum + entries.sign[e] * value;
        }
    } else {
        for (std::size_t e = 0; e < count; ++e) sum = sum + entries.sign[e] * value_of(entries.slot[e]);
    }
    return sum < 0.0f ? -1 : 1;
}

// Kernel values held in one slot-indexed array.
struct ArrayValues {
    const float* values;
    float operator()(uint32_t slot) const { return values[slot]; }
};

// Memory for one cache chunk: huge pages, which save most of the page faults
// of touching hundreds of megabytes.
struct ChunkMemory {
    std::size_t bytes = 0;
    void operator()(float* chunk) const { free_sample_memory(chunk, bytes); }
};

// The training kernel cache: kernel values between training rows and slots,
// kept in chunks of kChunkSlots slots for every row. A chunk is allocated when
// the slots first reach it and while the memory budget allows; its pages are
// only touched by the rows that use them. Each row's cached slots are a
// prefix, since slots only grow.
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

// Training state: the packed slots, the list's entries, and what carries a
// row's work from one of its decisions to the next.
//
// Rows are decided in tiles of kPrefetchRows. At the start of a tile every
// tile row gets the kernel values it needs against the slots of that moment,
// computed together, tiled and split across threads (they do not depend on
// the decisions in between); within the tile a decision computes only the
// slots added since.
//
// The polynomial decision traces every evaluation, so each decision needs
// every value: a kernel cache keeps them from one epoch to the next, while a
// later epoch can read them.
//
// The gaussian decision is silent, and its sum is the same chain of roundings
// each time, over a list that only grows at its end: a row's sum at one
// decision is exactly where its sum at the next decision passes the same
// point of the list. So each row keeps its sum and the list position it
// covers, and a later decision only adds the entries appended since: the
// tile computes those sums side by side, each row's chain in list order.
struct Trainer {
    KernelSpec ker;
    uint32_t digit;
    const SampleMatrix& set;
    uint32_t features;
    PackedRows slots;
    std::vector<int32_t> slot_of_row;
    std::vector<int8_t> row_nan;        // per row: 0 not yet scanned, 1 holds a NaN, 2 none
    Entries entries;
    KernelCache cache;                  // polynomial kernel only
    bool keep = true;                   // store new values in the cache
    // Per row, for the gaussian decision: its sum so far, the entries and the
    // slots there were when it was taken.
    std::vector<float> memo_sum;
    std::vector<uint32_t> memo_entries;
    std::vector<uint32_t> memo_slots;
    SampleValues fresh;                 // the current row's values for slots added in the tile
    std::vector<float> block_values;    // scratch of single_value, by slot
    SampleValues tile;                  // per tile row: values for slots [tile_from, tile_slots)
    std::vector<uint32_t> tile_from;    // per tile row: first slot it holds
    std::vector<float> partial;         // per tile row: its sum through entry tile_entries
    uint32_t tile_first = 0;
    uint32_t tile_slots = 0;
    std::size_t tile_entries = 0;

    Trainer(KernelSpec k, uint32_t d, const SampleMatrix& s, uint32_t columns)
        : ker(k), digit(d), set(s), features(columns - 1), slot_of_row(s.rows, -1), row_nan(s.rows, 0),
          cache(s.rows, k.kind == 0 ? engine_settings().cache_bytes : 0) {
        pack_reset(slots, features);
        if (ker.kind != 0) {
            memo_sum.assign(s.rows, 0.0f);
            memo_entries.assign(s.rows, 0);
            memo_slots.assign(s.rows, 0);
        }
    }

    bool traced() const { return ker.kind == 0; }

    // Whether row r's features hold no NaN, scanned once per run (each
    // thread asks only about its own rows).
    bool nan_free(uint32_t r) {
        if (row_nan[r] == 0) row_nan[r] = holds_nan(set.row(r), features) ? 1 : 2;
        return row_nan[r] == 2;
    }

    void add_mistake(uint32_t r) {
        int32_t slot = slot_of_row[r];
        if (slot < 0) {
            slot = static_cast<int32_t>(slots.count);
            slot_of_row[r] = slot;
            pack_append(slots, set.row(r));
        }
        entries.add(static_cast<uint32_t>(slot), set.row(r), features, digit);
    }

    // The first slot row r needs at the start of a tile: for the polynomial
    // decision what its cache lacks; for the gaussian one the oldest slot
    // among the entries appended since its last decision (the slots made
    // since then, and any older slot a row mistaken again brought back).
    uint32_t first_needed_slot(uint32_t r) const {
        if (traced()) return cache.cached[r];
        uint32_t from = memo_slots[r];
        for (std::size_t e = memo_entries[r]; e < tile_entries; ++e) from = std::min(from, entries.slot[e]);
        return std::min(from, tile_slots);
    }

    // Starts the tile of rows [first, end): their values against the current
    // slots and, for the gaussian decision, their sums through the current
    // entries.
    void start_tile(uint32_t first, uint32_t end) {
        tile_first = first;
        tile_slots = slots.count;
        tile_entries = entries.slot.size();
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
                if (traced()) cache.load(r, values);
                tile_from[i] = first_needed_slot(r);
                if (tile_from[i] < tile_slots) {
                    samples.push_back({set.row(r), tile_from[i], values, nan_free(r)});
                }
            }
            tiled_kernel_values(ker, slots, samples.data(), samples.size(), tile_slots);
            if (traced()) {
                for (const TiledSample& sample : samples) {
                    const uint32_t r = first + uint32_t((sample.out - tile.data()) / tile_slots);
                    if (room > sample.from) {
                        cache.store(r, sample.from, room, sample.out);
                        cache.cached[r] = room;
                    }
                }
                // The traced decision reads every value from the tile.
                for (std::size_t i = begin; i < stop; ++i) tile_from[i] = 0;
                return;
            }
            partial_sums(begin, stop);
        });
    }

    // Continues the sums of tile rows [begin, end) from their last decision
    // through the tile's entries, four rows' chains at a time.
    void partial_sums(std::size_t begin, std::size_t end) {
        const uint32_t* slot = entries.slot.data();
        const float* sign = entries.sign.data();
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
        const uint32_t need = slots.count;
        if (need <= tile_slots) return;
        if (fresh.size() < need) fresh.resize(std::max<std::size_t>(need, 2 * fresh.size()));
        kernel_values(ker, set.row(r), nan_free(r), slots, tile_slots, need, fresh.data());
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
        if (block_values.size() < slots.count) block_values.resize(slots.count);
        const TiledSample one{set.row(r), first, block_values.data(), nan_free(r)};
        tiled_kernel_values(ker, slots, &one, 1, std::min(slots.count, first + kLanes));
        return block_values[slot];
    }

    // Decides row r of the current tile.
    int32_t decide_row(uint32_t r, PolynomialTrace* trace) {
        compute_fresh(r);
        const std::size_t i = r - tile_first;
        const float* values = tile.data() + i * tile_slots;
        const uint32_t from = tile_from[i];
        const auto value_of = [&](uint32_t slot) {
            if (slot >= tile_slots) return fresh[slot];
            return slot >= from ? values[slot] : single_value(r, slot);
        };
        if (trace != nullptr) return decide(features, set.row(r), entries, value_of, trace);
        float sum = partial[i];
        const std::size_t count = entries.slot.size();
        for (std::size_t e = tile_entries; e < count; ++e) {
            sum = sum + entries.sign[e] * value_of(entries.slot[e]);
        }
        memo_sum[r] = sum;
        memo_entries[r] = uint32_t(count);
        memo_slots[r] = slots.count;
        return sum < 0.0f ? -1 : 1;
    }
};

}  // namespace

int run_fast(uint32_t epochs, uint32_t digit, KernelSpec ker, std::unique_ptr<IndexList>& list,
             const SampleMatrix& tr_set, uint32_t columns, uint32_t rows, float& error) {
    if (create_list(list) == -1) return 1;
    Trainer trainer(ker, digit, tr_set, columns);
    PolynomialTrace polynomial(ker.parameter);
    PolynomialTrace* trace = ker.kind == 0 ? &polynomial : nullptr;
    uint32_t last_wrong = 0;
    for (uint32_t epoch = 0; epoch < epochs; ++epoch) {
        trainer.keep = epoch + 1 < epochs;
        uint32_t said_plus = 0;
        uint32_t said_minus = 0;
        uint32_t wrong = 0;
        for (uint32_t r = 0; r < rows; ++r) {
            if (r % kPrefetchRows == 0) trainer.start_tile(r, std::min(rows, r + kPrefetchRows));
            const float* sample = tr_set.row(r);
            int32_t label = target_label(sample[columns - 1], digit);
            int32_t answer = 1;
            if (!trainer.entries.slot.empty()) {
                answer = trainer.decide_row(r, trace);
            }
            if (answer == 1) {
                ++said_plus;
            } else {
                ++said_minus;
            }
            if (answer != label) {
                add_list(static_cast<int32_t>(r), list);
                trainer.add_mistake(r);
                ++wrong;
            }
        }
        if (trace != nullptr) trace->flush();
        std::printf("I classified %u times 1 e %u times -1\n", said_plus, said_minus);
        last_wrong = wrong;
    }
    error = error_fraction(last_wrong, rows);
    return 0;
}

int run_test_fast(uint32_t digit, KernelSpec ker, const IndexList* list,
                  const SampleMatrix& tr_set, uint32_t tr_columns, const SampleMatrix& ts_set,
                  uint32_t ts_columns, uint32_t ts_rows, float& error) {
    const uint32_t features = tr_columns - 1;
    std::vector<int32_t> index_array;
    read_list(index_array, list);

    // Pack the distinct rows of the list once.
    PackedRows slots;
    pack_reset(slots, features);
    pack_reserve(slots, uint32_t(std::min<std::size_t>(index_array.size(), tr_set.rows)));
    std::vector<int32_t> slot_of_row(tr_set.rows, -1);
    Entries entries;
    for (int32_t index : index_array) {
        const uint32_t r = static_cast<uint32_t>(index);
        if (slot_of_row[r] < 0) {
            slot_of_row[r] = static_cast<int32_t>(slots.count);
            pack_append(slots, tr_set.row(r));
        }
        entries.add(static_cast<uint32_t>(slot_of_row[r]), tr_set.row(r), features, digit);
    }
    const std::size_t stride = slots.count;

    TestTally tally;
    PolynomialTrace polynomial(ker.parameter);
    SampleValues values;  // written before it is read, so never zero-filled
    std::vector<int32_t> answers(kTestChunk);
    for (uint32_t first = 0; first < ts_rows; first += kTestChunk) {
        const uint32_t count = std::min(kTestChunk, ts_rows - first);
        values.resize(std::size_t(count) * stride);
        parallel_for(count, 1, [&](std::size_t begin, std::size_t end) {
            std::vector<TiledSample> samples;
            for (std::size_t i = begin; i < end; ++i) {
                samples.push_back({ts_set.row(first + uint32_t(i)), 0, values.data() + i * stride});
            }
            tiled_kernel_values(ker, slots, samples.data(), samples.size(), slots.count);
            // The gaussian decision is silent and can be taken here; the
            // polynomial one traces, in order, below.
            if (ker.kind == 0) return;
            for (std::size_t i = begin; i < end; ++i) {
                answers[i] = decide(features, samples[i - begin].x, entries,
                                    ArrayValues{values.data() + i * stride}, nullptr);
            }
        });
        for (uint32_t i = 0; i < count; ++i) {
            const float* sample = ts_set.row(first + i);
            int32_t answer = ker.kind == 0
                                 ? decide(features, sample, entries,
                                          ArrayValues{values.data() + i * stride}, &polynomial)
                                 : answers[i];
            tally.record(answer, target_label(sample[ts_columns - 1], digit));
        }
    }
    polynomial.flush();
    error = error_fraction(tally.wrong, ts_rows);
    tally.print();
    return 0;
}
