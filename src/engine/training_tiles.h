// Training in tiles: kernel values of the list's packed rows computed ahead
// for tiles of training rows, the values of slots added within a tile, and
// the decision sum over the list. The traced strategy (traced_trainer.h)
// decides in these tiles; the silent one (silent_trainer.h), which packs
// each tile's slots for several lists at once, shares the tile size, the
// tiled kernel values and the scan of rows for NaNs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "kernel_engine.h"
#include "perceptron_lib.h"
#include "polynomial_trace.h"

// Training computes kernel values ahead for tiles of this many rows.
constexpr uint32_t kTileRows = 128;

// Kernel values of several samples against slots [sample.from, to), each into
// its own slot-indexed array (other slots are left as they are): the batch
// engine's raw values (dot products or squared distances), tiled over the
// slots, finished by the kernel's last step.
void tiled_kernel_values(KernelSpec ker, const PackedRows& slots, const TiledSample* samples, std::size_t count,
                         uint32_t to);

// Whether row r's features hold no NaN, scanned once per row with the
// level's instructions: state[r] is 0 until then, 1 when it holds one, 2
// when not. Each thread asks only about its own rows.
bool row_nan_free(const SampleMatrix& set, uint32_t features, VectorLevel level, std::vector<int8_t>& state,
                  uint32_t r);

// Adds the entries' signed kernel values in list order, value_of(slot)
// giving a slot's value; with a trace each evaluation is traced in order.
template <typename ValueOf>
float decision_sum(const MistakeRows& mistakes, std::size_t from_entry, float sum, const ValueOf& value_of,
                   PolynomialTrace* trace) {
    const std::size_t count = mistakes.entries();
    for (std::size_t e = from_entry; e < count; ++e) {
        const uint32_t slot = mistakes.entry_slot[e];
        const float value = value_of(slot);
        if (trace != nullptr) trace->evaluation(slot, value);
        sum = sum + mistakes.entry_sign[e] * value;
    }
    return sum;
}

// The packed mistakes and the tile of rows being decided.
//
// Rows are decided in tiles of kTileRows. At the start of a tile every tile
// row gets the kernel values it needs against the slots of that moment,
// computed together, tiled and split across threads; within the tile a
// decision computes only the slots added since.
struct TrainingTiles {
    KernelSpec ker;
    uint32_t digit;
    const SampleMatrix& set;
    const EngineSettings& settings;  // the call's: threads, vector level
    uint32_t features;
    MistakeRows mistakes;
    std::vector<int8_t> row_nan;      // per row: 0 not yet scanned, 1 holds a NaN, 2 none
    EngineFloats fresh;               // the current row's values for slots added in the tile
    std::vector<float> block_values;  // scratch of single_value, by slot
    EngineFloats tile;                // per tile row: values for slots [tile_from, tile_slots)
    std::vector<uint32_t> tile_from;  // per tile row: first slot it holds
    uint32_t tile_first = 0;
    uint32_t tile_end = 0;
    uint32_t tile_slots = 0;
    std::size_t tile_entries = 0;

    TrainingTiles(KernelSpec k, uint32_t d, const SampleMatrix& s, uint32_t columns, const EngineSettings& e);

    // Whether row r's features hold no NaN, scanned once per run (each
    // thread asks only about its own rows).
    bool nan_free(uint32_t r);

    bool in_tile(uint32_t r) const { return r >= tile_first && r < tile_end; }
    float* tile_row(std::size_t i) { return tile.data() + i * tile_slots; }

    // Opens the tile of rows [first, end) over the slots and entries of this
    // moment, every row's first slot at the tile's end; false when there is
    // no slot yet, so nothing to compute.
    bool open_tile(uint32_t first, uint32_t end);

    // The values of tile samples from their own first slots.
    void compute(const std::vector<TiledSample>& samples) {
        tiled_kernel_values(ker, mistakes.slots, samples.data(), samples.size(), tile_slots);
    }

    // Row r's values for the slots added since the tile began, into fresh;
    // false when there are none.
    bool compute_fresh(uint32_t r);

    // Row r's value against one slot the tile did not compute for it (an
    // old slot brought back by a row mistaken again within the tile): the
    // batch over that slot's block.
    float single_value(uint32_t r, uint32_t slot);

    void end_tiles() { tile_first = tile_end = 0; }
};

// Row r's value against any slot at its decision: from the tile, from the
// slots added since, or computed alone.
struct RowValues {
    TrainingTiles& tiles;
    uint32_t r;
    const float* values;
    uint32_t from;

    RowValues(TrainingTiles& t, uint32_t row)
        : tiles(t), r(row), values(t.tile_row(row - t.tile_first)), from(t.tile_from[row - t.tile_first]) {}

    float operator()(uint32_t slot) const {
        if (slot >= tiles.tile_slots) return tiles.fresh[slot];
        return slot >= from ? values[slot] : tiles.single_value(r, slot);
    }
};
