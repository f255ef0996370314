// The silent training strategy: each row's sums carried from one decision
// to the next, and each tile's kernel values computed once for every list.
#include "silent_trainer.h"

#include <algorithm>

#include "engine_settings.h"
#include "processor_probe.h"
#include "sample_memory.h"
#include "worker_pool.h"

SilentTrainer::SilentTrainer(KernelSpec ker, const SampleMatrix& set, uint32_t columns,
                             const std::vector<uint32_t>& digits, const EngineSettings& settings)
    : ker_(ker),
      set_(set),
      settings_(settings),
      features_(columns - 1),
      slots_(set, columns - 1, usable_vector_level(settings)),
      row_nan_(set.rows, 0),
      slot_tile_(set.rows, 0),
      slot_place_(set.rows, 0) {
    pack_reset(tile_pack_, features_, slots_.slots.level);
    pack_reset(apart_, features_, slots_.slots.level);
    for (const uint32_t digit : digits) {
        List list;
        list.digit = digit;
        list.memo_sum.assign(set.rows, 0.0f);
        list.memo_entries.assign(set.rows, 0);
        lists_.push_back(std::move(list));
    }
    // Under an address-space limit what the set's size bounds is had now,
    // before anything is printed: a process that cannot have it leaves the
    // training to the reference. (Otherwise the buffers grow as needed.)
    if (address_space_limited()) {
        const uint32_t tile = std::min(kTileRows, set.rows);
        const auto apart = uint32_t(std::min<std::size_t>(set.rows, std::size_t(tile) * digits.size()));
        pack_reserve(slots_.slots, set.rows);
        pack_reserve(tile_pack_, set.rows);
        pack_reserve(apart_, apart);
        values_.reserve(std::size_t(tile) * set.rows);
        fresh_.reserve(apart);
        tile_slots_.reserve(set.rows);
    }
}

std::vector<int32_t> SilentTrainer::entries(std::size_t list) const {
    std::vector<int32_t> rows;
    rows.reserve(lists_[list].entry_slot.size());
    for (const uint32_t slot : lists_[list].entry_slot) rows.push_back(static_cast<int32_t>(slots_.slot_row[slot]));
    return rows;
}

void SilentTrainer::gather_tile_slots() {
    tile_slots_.clear();
    for (List& list : lists_) {
        list.tile_entries = list.entry_slot.size();
        list.tile_base = list.tile_entries;
        if (!list.training) continue;
        for (uint32_t r = tile_first_; r < tile_end_; ++r) {
            list.tile_base = std::min<std::size_t>(list.tile_base, list.memo_entries[r]);
        }
        for (std::size_t e = list.tile_base; e < list.tile_entries; ++e) {
            const uint32_t slot = list.entry_slot[e];
            if (slot_tile_[slot] == tile_number_) continue;
            slot_tile_[slot] = tile_number_;
            tile_slots_.push_back(slot);
        }
    }
    // When the tile needs nearly every slot (all of them in the first
    // epoch), computing the few it does not need costs less than packing
    // those it needs: it computes every slot from the slots' own packing.
    const uint32_t slots = slots_.slots.count;
    const std::size_t needed = tile_slots_.size();
    if (std::size_t(tile_end_ - tile_first_) * (slots - needed) <= kPackCost * needed) {
        tile_slots_.resize(slots);
        for (uint32_t s = 0; s < slots; ++s) {
            tile_slots_[s] = s;
            slot_tile_[s] = tile_number_;
        }
        tile_rows_ = &slots_.slots;
    } else {
        pack_tile_slots();
        tile_rows_ = &tile_pack_;
    }
    for (std::size_t p = 0; p < tile_slots_.size(); ++p) slot_place_[tile_slots_[p]] = uint32_t(p);
    for (List& list : lists_) {
        list.place.resize(list.tile_entries - list.tile_base);
        for (std::size_t e = list.tile_base; e < list.tile_entries; ++e) {
            list.place[e - list.tile_base] = slot_place_[list.entry_slot[e]];
        }
    }
}

void SilentTrainer::pack_tile_slots() {
    std::vector<const float*> rows;
    rows.reserve(tile_slots_.size());
    bool has_nan = false;
    for (const uint32_t slot : tile_slots_) {
        const uint32_t r = slots_.slot_row[slot];
        rows.push_back(set_.row(r));
        has_nan = has_nan || !row_nan_free(set_, features_, slots_.slots.level, row_nan_, r);
    }
    pack_size(tile_pack_, uint32_t(rows.size()), has_nan);
    parallel_for(settings_, tile_pack_.blocks(), 8, [&](std::size_t begin, std::size_t end) {
        pack_blocks(tile_pack_, rows.data(), uint32_t(begin), uint32_t(end));
    });
}

void SilentTrainer::open_tile(uint32_t first) {
    const std::size_t budget = settings_.cache_bytes / sizeof(float);
    const std::size_t rows = budget / std::max<std::size_t>(1, slots_.slots.count);
    const auto tile_rows = uint32_t(std::clamp<std::size_t>(rows, kLeastTileRows, kTileRows));
    const uint32_t end = std::min(set_.rows, first + tile_rows);
    tile_first_ = first;
    tile_end_ = end;
    ++tile_number_;
    pack_reset(apart_, features_, slots_.slots.level);
    gather_tile_slots();
    const std::size_t count = tile_slots_.size();
    values_.resize(std::size_t(end - first) * count);
    for (List& list : lists_) list.partial.assign(end - first, 0.0f);
    parallel_for(settings_, end - first, 4, [&](std::size_t begin, std::size_t stop) {
        if (count > 0) {
            std::vector<TiledSample> samples;
            for (std::size_t i = begin; i < stop; ++i) {
                const uint32_t r = first + uint32_t(i);
                samples.push_back({set_.row(r), 0, values_.data() + i * count,
                                   row_nan_free(set_, features_, slots_.slots.level, row_nan_, r)});
            }
            tiled_kernel_values(ker_, *tile_rows_, samples.data(), samples.size(), uint32_t(count));
        }
        for (List& list : lists_) {
            if (list.training) partial_sums(list, begin, stop);
        }
    });
}

void SilentTrainer::partial_sums(List& list, std::size_t begin, std::size_t end) const {
    // Entry e's sign and place at index e - tile_base.
    const std::size_t base = list.tile_base;
    const float* sign = list.entry_sign.data() + base;
    const uint32_t* place = list.place.data();
    const std::size_t entries = list.tile_entries - base;
    const auto sum_one = [&](std::size_t i) {
        const uint32_t r = tile_first_ + uint32_t(i);
        const float* v = tile_row(i);
        float sum = list.memo_sum[r];
        for (std::size_t k = list.memo_entries[r] - base; k < entries; ++k) sum = sum + sign[k] * v[place[k]];
        list.partial[i] = sum;
    };
    std::size_t i = begin;
    for (; i + 4 <= end; i += 4) {
        const uint32_t r = tile_first_ + uint32_t(i);
        const uint32_t start = list.memo_entries[r];
        if (list.memo_entries[r + 1] != start || list.memo_entries[r + 2] != start ||
            list.memo_entries[r + 3] != start) {
            for (std::size_t k = i; k < i + 4; ++k) sum_one(k);
            continue;
        }
        const std::size_t stride = tile_slots_.size();
        const float* v0 = tile_row(i);
        const float* v1 = v0 + stride;
        const float* v2 = v1 + stride;
        const float* v3 = v2 + stride;
        float s0 = list.memo_sum[r], s1 = list.memo_sum[r + 1], s2 = list.memo_sum[r + 2], s3 = list.memo_sum[r + 3];
        for (std::size_t k = start - base; k < entries; ++k) {
            const uint32_t p = place[k];
            s0 = s0 + sign[k] * v0[p];
            s1 = s1 + sign[k] * v1[p];
            s2 = s2 + sign[k] * v2[p];
            s3 = s3 + sign[k] * v3[p];
        }
        list.partial[i] = s0;
        list.partial[i + 1] = s1;
        list.partial[i + 2] = s2;
        list.partial[i + 3] = s3;
    }
    for (; i < end; ++i) sum_one(i);
}

void SilentTrainer::begin_row(uint32_t r) {
    if (!in_tile(r)) open_tile(r);
    if (apart_.count == 0) return;
    fresh_.resize(apart_.count);
    const TiledSample one{set_.row(r), 0, fresh_.data(),
                          row_nan_free(set_, features_, slots_.slots.level, row_nan_, r)};
    tiled_kernel_values(ker_, apart_, &one, 1, apart_.count);
}

float SilentTrainer::sum(std::size_t list_index, uint32_t r) {
    List& list = lists_[list_index];
    const std::size_t i = r - tile_first_;
    const float* values = tile_row(i);
    const std::size_t computed = tile_slots_.size();
    const std::size_t entries = list.entry_slot.size();
    float sum = list.partial[i];
    for (std::size_t e = list.tile_entries; e < entries; ++e) {
        const uint32_t place = list.place[e - list.tile_base];
        const float value = place < computed ? values[place] : fresh_[place - computed];
        sum = sum + list.entry_sign[e] * value;
    }
    list.memo_sum[r] = sum;
    list.memo_entries[r] = uint32_t(entries);
    return sum;
}

uint32_t SilentTrainer::place_in_tile(uint32_t slot) {
    if (slot_tile_[slot] != tile_number_) {
        slot_tile_[slot] = tile_number_;
        slot_place_[slot] = uint32_t(tile_slots_.size()) + apart_.count;
        pack_append(apart_, set_.row(slots_.slot_row[slot]));
    }
    return slot_place_[slot];
}

void SilentTrainer::add(std::size_t list_index, uint32_t r) {
    List& list = lists_[list_index];
    const uint32_t slot = slots_.slot_for(set_, r);
    list.entry_slot.push_back(slot);
    list.entry_sign.push_back(static_cast<float>(target_label(set_.row(r)[features_], list.digit)));
    if (in_tile(r)) list.place.push_back(place_in_tile(slot));
}
