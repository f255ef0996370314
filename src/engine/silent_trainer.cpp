// The silent training strategy: each row's sum carried from one decision
// to the next.
#include "silent_trainer.h"

#include "worker_pool.h"

SilentTrainer::SilentTrainer(KernelSpec ker, uint32_t digit, const SampleMatrix& set, uint32_t columns,
                             const EngineSettings& settings)
    : tiles_(ker, digit, set, columns, settings),
      memo_sum_(set.rows, 0.0f),
      memo_entries_(set.rows, 0),
      memo_slots_(set.rows, 0) {}

uint32_t SilentTrainer::first_needed_slot(uint32_t r) const {
    uint32_t from = memo_slots_[r];
    for (std::size_t e = memo_entries_[r]; e < tiles_.tile_entries; ++e) {
        from = std::min(from, tiles_.mistakes.entry_slot[e]);
    }
    return std::min(from, tiles_.tile_slots);
}

void SilentTrainer::start_tile(uint32_t first, uint32_t end) {
    partial_.assign(end - first, 0.0f);
    if (!tiles_.open_tile(first, end)) return;
    parallel_for(tiles_.settings, end - first, 4, [&](std::size_t begin, std::size_t stop) {
        std::vector<TiledSample> samples;
        for (std::size_t i = begin; i < stop; ++i) {
            const uint32_t r = first + uint32_t(i);
            tiles_.tile_from[i] = first_needed_slot(r);
            if (tiles_.tile_from[i] < tiles_.tile_slots) {
                samples.push_back({tiles_.set.row(r), tiles_.tile_from[i], tiles_.tile_row(i), tiles_.nan_free(r)});
            }
        }
        tiles_.compute(samples);
        partial_sums(begin, stop);
    });
}

void SilentTrainer::partial_sums(std::size_t begin, std::size_t end) {
    const uint32_t* slot = tiles_.mistakes.entry_slot.data();
    const float* sign = tiles_.mistakes.entry_sign.data();
    const std::size_t entries = tiles_.tile_entries;
    const uint32_t first = tiles_.tile_first;
    const auto sum_one = [&](std::size_t i) {
        const uint32_t r = first + uint32_t(i);
        const float* v = tiles_.tile_row(i);
        float sum = memo_sum_[r];
        for (std::size_t e = memo_entries_[r]; e < entries; ++e) sum = sum + sign[e] * v[slot[e]];
        partial_[i] = sum;
    };
    std::size_t i = begin;
    for (; i + 4 <= end; i += 4) {
        const uint32_t r = first + uint32_t(i);
        const std::size_t start = memo_entries_[r];
        if (memo_entries_[r + 1] != start || memo_entries_[r + 2] != start || memo_entries_[r + 3] != start) {
            for (std::size_t k = i; k < i + 4; ++k) sum_one(k);
            continue;
        }
        const float* v0 = tiles_.tile_row(i);
        const float* v1 = v0 + tiles_.tile_slots;
        const float* v2 = v1 + tiles_.tile_slots;
        const float* v3 = v2 + tiles_.tile_slots;
        float s0 = memo_sum_[r], s1 = memo_sum_[r + 1], s2 = memo_sum_[r + 2], s3 = memo_sum_[r + 3];
        for (std::size_t e = start; e < entries; ++e) {
            const uint32_t s = slot[e];
            s0 = s0 + sign[e] * v0[s];
            s1 = s1 + sign[e] * v1[s];
            s2 = s2 + sign[e] * v2[s];
            s3 = s3 + sign[e] * v3[s];
        }
        partial_[i] = s0;
        partial_[i + 1] = s1;
        partial_[i + 2] = s2;
        partial_[i + 3] = s3;
    }
    for (; i < end; ++i) sum_one(i);
}

int32_t SilentTrainer::decide(uint32_t r) {
    if (!tiles_.in_tile(r)) start_tile(r, std::min(tiles_.set.rows, r + kTileRows));
    tiles_.compute_fresh(r);
    const float sum = decision_sum(tiles_.mistakes, tiles_.tile_entries, partial_[r - tiles_.tile_first],
                                   RowValues(tiles_, r), nullptr);
    memo_sum_[r] = sum;
    memo_entries_[r] = uint32_t(tiles_.mistakes.entries());
    memo_slots_[r] = tiles_.mistakes.slots.count;
    return answer_of(sum);
}
