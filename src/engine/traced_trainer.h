// The traced training strategy, for the polynomial kernel's printed run:
// every decision writes every evaluation, so each needs every value, and a
// kernel cache keeps them from one epoch to the next while a later epoch
// can read them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "polynomial_trace.h"
#include "training_tiles.h"

// Memory for one cache chunk: huge pages, which save most of the page faults
// of touching hundreds of megabytes.
struct ChunkMemory {
    std::size_t bytes = 0;
    void operator()(float* chunk) const;
};

// Rows' kernel values against the first slots, in chunks of 256 slots that
// the budget allows.
struct KernelCache {
    static constexpr uint32_t kChunkSlots = 256;
    uint32_t rows;
    std::size_t budget;
    std::vector<std::unique_ptr<float[], ChunkMemory>> chunks;
    std::vector<uint32_t> cached;  // per row: slots 0 .. cached[r] are stored

    KernelCache(uint32_t row_count, std::size_t bytes) : rows(row_count), budget(bytes), cached(row_count, 0) {}

    std::size_t chunk_bytes() const { return std::size_t(rows) * kChunkSlots * sizeof(float); }
    float* chunk_row(std::size_t chunk, uint32_t r) const { return chunks[chunk].get() + std::size_t(r) * kChunkSlots; }

    // How many of the first `slots` slots can be stored, allocating chunks as
    // the budget allows.
    uint32_t room_for(uint32_t slots);
    // Copies row r's cached values into a slot-indexed array.
    void load(uint32_t r, float* values) const;
    // Stores slots [from, to) of row r from a slot-indexed array.
    void store(uint32_t r, uint32_t from, uint32_t to, const float* values);
};

class TracedTrainer {
public:
    TracedTrainer(KernelSpec ker, uint32_t digit, const SampleMatrix& set, uint32_t columns, PolynomialTrace& trace,
                  const EngineSettings& settings);

    void add_mistake(uint32_t r);
    int32_t decide(uint32_t r);
    // A new epoch: tiles start afresh, and the cache keeps new values only
    // while a later epoch can read them.
    void next_epoch(bool later_epoch);

private:
    void start_tile(uint32_t first, uint32_t end);

    TrainingTiles tiles_;
    PolynomialTrace& trace_;
    KernelCache cache_;
    bool keep_ = true;  // store new values in the cache
};
