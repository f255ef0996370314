// Batch kernel engine: one sample against many rows at once. Rows are packed
// in blocks of kLanes, feature by feature, so that each SIMD lane follows one
// row through exactly the rounding sequence of the plain scalar formula
// (vect_pr, vect_diff_raised, vect_pr_float). AVX-512 or AVX2 is used
// when the rows' level allows it and the data hold no NaN; otherwise
// the scalar formulas themselves run lane by lane. Either way the bits are
// the scalar formulas'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine_settings.h"
#include "file_lib.h"
#include "sample_memory.h"

constexpr uint32_t kLanes = 16;

// Rows packed for batch evaluation: slot s is lane s % kLanes of block
// s / kLanes; unused lanes of the last block hold zeros.
struct PackedRows {
    uint32_t features = 0;
    uint32_t count = 0;
    // The widest instructions the batch kernels may use on these rows: the
    // usable level of the call that packed them (processor_probe.h).
    VectorLevel level = VectorLevel::scalar;
    bool has_nan = false;  // some packed value is NaN
    // blocks * features * kLanes floats, in sample memory: a list of
    // hundreds of rows grows through megabytes that fresh pages would slow
    EngineFloats lanes;

    uint32_t blocks() const { return (count + kLanes - 1) / kLanes; }
    const float* block(uint32_t b) const { return lanes.data() + std::size_t(b) * features * kLanes; }
};

void pack_reset(PackedRows& packed, uint32_t features, VectorLevel level);
// Makes room for `slots` slots in all, so that appending up to them moves
// nothing.
void pack_reserve(PackedRows& packed, uint32_t slots);
// Appends the first `features` floats of the row as the next slot.
void pack_append(PackedRows& packed, const float* row);
// Gives the packing `count` slots whose values pack_blocks then fills
// (has_nan: whether some of their rows hold a NaN).
void pack_size(PackedRows& packed, uint32_t count, bool has_nan);
// Fills blocks [first_block, end_block) of a sized packing with rows[s] as
// slot s, as pack_append of each row in turn would (unused lanes zero);
// threads may fill disjoint blocks at once.
void pack_blocks(PackedRows& packed, const float* const* rows, uint32_t first_block, uint32_t end_block);

// Each writes one value per slot of blocks [first_block, end_block) to out,
// starting with the first lane of first_block (out must hold
// (end_block - first_block) * kLanes floats).
// The exact dot product of vect_pr: product in double, sum rounded to float
// at every step.
void batch_dot_exact(const float* x, const PackedRows& rows, uint32_t first_block, uint32_t end_block, float* out);
// The squared distance of vect_diff_raised: float difference, float square,
// float sum.
void batch_squared_distance(const float* x, const PackedRows& rows, uint32_t first_block, uint32_t end_block,
                            float* out);
// The voted kernel's sum: each product rounded to float, then each sum.
void batch_dot_float(const float* x, const PackedRows& rows, uint32_t first_block, uint32_t end_block, float* out);

enum class BatchKind { dot_exact, squared_distance, dot_float };

// One kernel for `count` samples at once, up to four at a time with each
// loaded row serving all of them: out[k] receives sample x[k]'s values, as
// the one-sample function of that kind writes them.
void batch_values(BatchKind kind, const float* const* x, float* const* out, std::size_t count, const PackedRows& rows,
                  uint32_t first_block, uint32_t end_block);

// One sample of a tiled batch: its values against slots [from, to) go to
// out[from .. to) (out is indexed by slot).
struct TiledSample {
    const float* x;
    uint32_t from;
    float* out;
    bool nan_free = false;  // x is known to hold no NaN (spares scanning it)
};

// Whether the first `count` values hold a NaN, scanned with the level's
// instructions.
bool holds_nan(const float* values, uint32_t count, VectorLevel level);

// The raw values of many samples against slots [sample.from, to), computed a
// range of slots at a time so that those slots stay in cache while every
// sample passes over them.
void batch_tiled(BatchKind kind, const PackedRows& rows, const TiledSample* samples, std::size_t count, uint32_t to);

// Distinct training rows, each packed once as a slot, in order of first
// appearance.
struct SlotRows {
    PackedRows slots;
    std::vector<int32_t> slot_of_row;  // per training row, -1 until it has a slot
    std::vector<uint32_t> slot_row;    // per slot, its training row

    SlotRows(const SampleMatrix& set, uint32_t features, VectorLevel level);
    // Row r's slot, given now when it has none.
    uint32_t slot_for(const SampleMatrix& set, uint32_t r);
};

// The distinct rows of a mistake list, packed once each in order of first
// appearance, and for every entry its row's slot and label sign.
struct MistakeRows : SlotRows {
    std::vector<uint32_t> entry_slot;
    std::vector<float> entry_sign;  // +1 or -1: the row's target label

    MistakeRows(const SampleMatrix& set, uint32_t features, VectorLevel level);
    // Makes room for the distinct rows of `entries` entries.
    void reserve(std::size_t entries);
    // Appends an entry for training row r.
    void add(const SampleMatrix& set, uint32_t r, uint32_t digit);
    std::size_t entries() const { return entry_slot.size(); }
};
