// The tiles both training strategies decide rows in.
#include "training_tiles.h"

#include "batch_exp.h"
#include "processor_probe.h"
#include "sample_memory.h"

namespace {

// The batch engine's raw value for a kernel: the dot product under the
// polynomial kernel, the squared distance under the gaussian one.
BatchKind batch_kind(KernelKind kind) {
    switch (kind) {
        case KernelKind::polynomial: return BatchKind::dot_exact;
        case KernelKind::gaussian: return BatchKind::squared_distance;
    }
    return BatchKind::dot_exact;  // not reached: every kind is named above
}

}  // namespace

void tiled_kernel_values(KernelSpec ker, const PackedRows& slots, const TiledSample* samples, std::size_t count,
                         uint32_t to) {
    batch_tiled(batch_kind(ker.kind), slots, samples, count, to);
    for (std::size_t i = 0; i < count; ++i) {
        float* out = samples[i].out;
        const uint32_t from = samples[i].from;
        if (to <= from) continue;
        switch (ker.kind) {
            case KernelKind::polynomial:
                for (uint32_t s = from; s < to; ++s) out[s] = polynomial_of_dot(out[s], ker.parameter);
                break;
            case KernelKind::gaussian: gaussian_of_distances(out + from, to - from, ker.parameter, slots.level); break;
        }
    }
}

TrainingTiles::TrainingTiles(KernelSpec k, uint32_t d, const SampleMatrix& s, uint32_t columns, const EngineSettings& e)
    : ker(k),
      digit(d),
      set(s),
      settings(e),
      features(columns - 1),
      mistakes(s, columns - 1, usable_vector_level(e)),
      row_nan(s.rows, 0) {
    // Under an address-space limit what the set's size bounds is had now,
    // before anything is printed: a process that cannot have it leaves the
    // training to the reference. (Otherwise the buffers grow as needed,
    // mostly into memory that earlier buffers have touched.)
    if (address_space_limited()) {
        pack_reserve(mistakes.slots, s.rows);
        tile.reserve(std::size_t(std::min(kTileRows, s.rows)) * s.rows);
        fresh.reserve(s.rows);
        block_values.reserve(s.rows);
    }
}

bool row_nan_free(const SampleMatrix& set, uint32_t features, VectorLevel level, std::vector<int8_t>& state,
                  uint32_t r) {
    if (state[r] == 0) state[r] = holds_nan(set.row(r), features, level) ? 1 : 2;
    return state[r] == 2;
}

bool TrainingTiles::nan_free(uint32_t r) { return row_nan_free(set, features, mistakes.slots.level, row_nan, r); }

bool TrainingTiles::open_tile(uint32_t first, uint32_t end) {
    tile_first = first;
    tile_end = end;
    tile_slots = mistakes.slots.count;
    tile_entries = mistakes.entries();
    tile_from.assign(end - first, tile_slots);
    if (tile_slots == 0) return false;
    tile.resize(std::size_t(end - first) * tile_slots);
    return true;
}

bool TrainingTiles::compute_fresh(uint32_t r) {
    const uint32_t need = mistakes.slots.count;
    if (need <= tile_slots) return false;
    if (fresh.size() < need) fresh.resize(std::max<std::size_t>(need, 2 * fresh.size()));
    const TiledSample one{set.row(r), tile_slots, fresh.data(), nan_free(r)};
    tiled_kernel_values(ker, mistakes.slots, &one, 1, need);
    return true;
}

float TrainingTiles::single_value(uint32_t r, uint32_t slot) {
    const uint32_t first = slot / kLanes * kLanes;
    if (block_values.size() < mistakes.slots.count) block_values.resize(mistakes.slots.count);
    const TiledSample one{set.row(r), first, block_values.data(), nan_free(r)};
    tiled_kernel_values(ker, mistakes.slots, &one, 1, std::min(mistakes.slots.count, first + kLanes));
    return block_values[slot];
}
