// The silent training strategy, for every run that prints no trace: a
// decision's sum is the same chain of roundings each time, over a list that
// only grows at its end, so a row's sum at one decision is exactly where its
// sum at the next decision passes the same point of the list. Each row keeps
// its sum and the list position it covers, and a later decision only adds
// the entries appended since: the tile computes those sums side by side,
// each row's chain in list order.
#pragma once

#include <cstdint>
#include <vector>

#include "training_tiles.h"

class SilentTrainer {
public:
    SilentTrainer(KernelSpec ker, uint32_t digit, const SampleMatrix& set, uint32_t columns,
                  const EngineSettings& settings);

    void add_mistake(uint32_t r) { tiles_.mistakes.add(tiles_.set, r, tiles_.digit); }
    int32_t decide(uint32_t r);
    void next_epoch(bool) { tiles_.end_tiles(); }

private:
    // The first slot row r needs at the start of a tile: the oldest slot
    // among the entries appended since its last decision (the slots made
    // since then, and any older slot a row mistaken again brought back).
    uint32_t first_needed_slot(uint32_t r) const;
    void start_tile(uint32_t first, uint32_t end);
    // Continues the sums of tile rows [begin, end) from their last decision
    // through the tile's entries, four rows' chains at a time.
    void partial_sums(std::size_t begin, std::size_t end);

    TrainingTiles tiles_;
    // Per row: its sum so far, the entries and the slots there were when it
    // was taken.
    std::vector<float> memo_sum_;
    std::vector<uint32_t> memo_entries_;
    std::vector<uint32_t> memo_slots_;
    std::vector<float> partial_;  // per tile row: its sum through the tile's entries
};
