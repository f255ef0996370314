// The traced training strategy: every value of every decision, read from
// the tile, which the kernel cache fills with what earlier epochs computed.
#include "traced_trainer.h"

#include <new>

#include "engine_settings.h"
#include "sample_memory.h"
#include "worker_pool.h"

void ChunkMemory::operator()(float* chunk) const { free_sample_memory(chunk, bytes); }

uint32_t KernelCache::room_for(uint32_t slots) {
    while (chunks.size() * kChunkSlots < slots && (chunks.size() + 1) * chunk_bytes() <= budget) {
        try {
            std::unique_ptr<float[], ChunkMemory> chunk(static_cast<float*>(allocate_sample_memory(chunk_bytes())),
                                                        ChunkMemory{chunk_bytes()});
            chunks.push_back(std::move(chunk));
        } catch (const std::bad_alloc&) {
            budget = chunks.size() * chunk_bytes();  // the system says no: stop growing
            break;
        }
    }
    return std::min<uint32_t>(slots, uint32_t(chunks.size() * kChunkSlots));
}

void KernelCache::load(uint32_t r, float* values) const {
    for (uint32_t from = 0; from < cached[r]; from += kChunkSlots) {
        const uint32_t count = std::min(kChunkSlots, cached[r] - from);
        std::copy(chunk_row(from / kChunkSlots, r), chunk_row(from / kChunkSlots, r) + count, values + from);
    }
}

void KernelCache::store(uint32_t r, uint32_t from, uint32_t to, const float* values) {
    while (from < to) {
        const std::size_t chunk = from / kChunkSlots;
        const uint32_t end = std::min<uint32_t>(to, uint32_t((chunk + 1) * kChunkSlots));
        std::copy(values + from, values + end, chunk_row(chunk, r) + (from - chunk * kChunkSlots));
        from = end;
    }
}

TracedTrainer::TracedTrainer(KernelSpec ker, uint32_t digit, const SampleMatrix& set, uint32_t columns,
                             PolynomialTrace& trace, const EngineSettings& settings)
    : tiles_(ker, digit, set, columns, settings), trace_(trace), cache_(set.rows, settings.cache_bytes) {}

void TracedTrainer::add_mistake(uint32_t r) {
    const bool new_slot = tiles_.mistakes.slot_of_row[r] < 0;
    tiles_.mistakes.add(tiles_.set, r, tiles_.digit);
    if (new_slot) trace_.add_slot(tiles_.features, tiles_.set.row(r));
}

// The tile's rows get their cached values, then those the cache lacks,
// which are stored while the cache has room.
void TracedTrainer::start_tile(uint32_t first, uint32_t end) {
    if (!tiles_.open_tile(first, end)) return;
    const uint32_t slots = tiles_.tile_slots;
    const uint32_t room = keep_ ? cache_.room_for(slots) : 0;
    parallel_for(tiles_.settings, end - first, 4, [&](std::size_t begin, std::size_t stop) {
        std::vector<TiledSample> samples;
        for (std::size_t i = begin; i < stop; ++i) {
            const uint32_t r = first + uint32_t(i);
            float* values = tiles_.tile_row(i);
            cache_.load(r, values);
            if (cache_.cached[r] < slots)
                samples.push_back({tiles_.set.row(r), cache_.cached[r], values, tiles_.nan_free(r)});
        }
        tiles_.compute(samples);
        for (const TiledSample& sample : samples) {
            const uint32_t r = first + uint32_t((sample.out - tiles_.tile.data()) / slots);
            if (room > sample.from) {
                cache_.store(r, sample.from, room, sample.out);
                cache_.cached[r] = room;
            }
        }
        // The traced decision reads every value from the tile.
        for (std::size_t i = begin; i < stop; ++i) tiles_.tile_from[i] = 0;
    });
}

int32_t TracedTrainer::decide(uint32_t r) {
    if (!tiles_.in_tile(r)) start_tile(r, std::min(tiles_.set.rows, r + kTileRows));
    if (tiles_.compute_fresh(r) && keep_ && cache_.cached[r] == tiles_.tile_slots) {
        const uint32_t room = cache_.room_for(tiles_.mistakes.slots.count);
        if (room > tiles_.tile_slots) {
            cache_.store(r, tiles_.tile_slots, room, tiles_.fresh.data());
            cache_.cached[r] = room;
        }
    }
    trace_.start_decision(tiles_.features, tiles_.set.row(r));
    return answer_of(decision_sum(tiles_.mistakes, 0, 0.0f, RowValues(tiles_, r), &trace_));
}

void TracedTrainer::next_epoch(bool later_epoch) {
    tiles_.end_tiles();
    keep_ = later_epoch;
}
