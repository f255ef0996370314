// The silent training strategy, for every run that prints no trace: one
// list, or several lists trained side by side over one training set and
// kernel (the recognisers of several digits, or of several margins).
//
// Carried sums: a decision's sum is the same chain of roundings each time,
// over a list that only grows at its end, so a row's sum at one decision is
// exactly where its sum at the next decision passes the same point of the
// list. Each row keeps, per list, its sum and the entries it covers, and a
// later decision only adds the entries appended since.
//
// Shared values: the lists' distinct rows are the slots of one SlotRows.
// Rows are decided in tiles of up to kTileRows. When a tile opens, the
// slots its rows need (those of every list's entries appended since the
// rows were last decided) are gathered into one packing, and each tile row's
// values against them are computed once, whichever lists need them, tiled
// and split across threads; the rows' carried sums are continued through
// those entries there too. A slot that entries appended within the tile
// bring in is packed apart, and each later tile row computes its value at
// its turn. No value is kept past its tile: a cache of every row's values
// would save about half of them over five epochs, but touching that much
// fresh memory costs as much again.
//
// The lists go in lockstep: every list still training decides row r
// (begin_row, then sum and perhaps add for each list) before any list
// decides row r + 1, and a tile never spans two epochs.
#pragma once

#include <cstdint>
#include <vector>

#include "training_tiles.h"

class SilentTrainer {
public:
    // Packing a slot for a tile costs about as much as computing this many
    // of its values: a tile whose rows would compute fewer values than that
    // for the slots they do not need computes every slot instead.
    static constexpr std::size_t kPackCost = 8;
    // A tile's values against every slot stay within the engine's cache
    // budget (cache_bytes), the tile shrinking to as few rows as this.
    static constexpr uint32_t kLeastTileRows = 16;

    // One list per digit, each answering +1 for its own, computed with the
    // call's settings (threads, vector level, cache budget).
    SilentTrainer(KernelSpec ker, const SampleMatrix& set, uint32_t columns, const std::vector<uint32_t>& digits,
                  const EngineSettings& settings);

    // Row r's turn: opens a tile when r lies outside the open one, and
    // computes r's values for the slots packed apart since the tile opened.
    void begin_row(uint32_t r);
    // A list's decision sum for row r, at r's turn.
    float sum(std::size_t list, uint32_t r);
    // Appends row r to a list, at r's turn.
    void add(std::size_t list, uint32_t r);
    // A list that decides no more rows: later tiles leave it out.
    void retire(std::size_t list) { lists_[list].training = false; }
    // A new epoch: tiles start afresh.
    void next_epoch() { tile_first_ = tile_end_ = 0; }
    // A list's entries, as training row indices in list order.
    std::vector<int32_t> entries(std::size_t list) const;

    // One list alone, as run_fast's loop drives a trainer.
    int32_t decide(uint32_t r) {
        begin_row(r);
        return answer_of(sum(0, r));
    }
    void add_mistake(uint32_t r) { add(0, r); }
    void next_epoch(bool) { next_epoch(); }

private:
    struct List {
        uint32_t digit = 0;
        bool training = true;
        std::vector<uint32_t> entry_slot;
        std::vector<float> entry_sign;  // +1 or -1: the row's target label
        // Per training row: its sum so far and the entries it covers.
        std::vector<float> memo_sum;
        std::vector<uint32_t> memo_entries;
        // The open tile: the entries when it opened, the first entry any of
        // its rows still needs, and from there each entry's place in a tile
        // row (or past it, in fresh_).
        std::size_t tile_entries = 0;
        std::size_t tile_base = 0;
        std::vector<uint32_t> place;
        std::vector<float> partial;  // per tile row: its sum through the tile's entries
    };

    bool in_tile(uint32_t r) const { return r >= tile_first_ && r < tile_end_; }
    const float* tile_row(std::size_t i) const { return values_.data() + i * tile_slots_.size(); }
    // Opens the tile that begins at row `first`.
    void open_tile(uint32_t first);
    // The slots the tile's rows need, packed, and each list's entries placed
    // among them.
    void gather_tile_slots();
    void pack_tile_slots();
    // The place of a slot that an entry appended within the tile names:
    // among the tile's own, or after them among those packed apart (packed
    // now when it is not yet).
    uint32_t place_in_tile(uint32_t slot);
    // Continues one list's sums of tile rows [begin, end) from their last
    // decision through the tile's entries, four rows' chains at a time.
    void partial_sums(List& list, std::size_t begin, std::size_t end) const;

    KernelSpec ker_;
    const SampleMatrix& set_;
    const EngineSettings& settings_;
    uint32_t features_;
    SlotRows slots_;
    std::vector<List> lists_;
    std::vector<int8_t> row_nan_;  // row_nan_free's scan of each row
    // The open tile: rows [tile_first_, tile_end_), the slots it computes
    // (place p holds slot tile_slots_[p]), packed in tile_pack_ (or the
    // slots' own packing when it computes all of them), and their values.
    uint32_t tile_first_ = 0;
    uint32_t tile_end_ = 0;
    uint32_t tile_number_ = 0;
    std::vector<uint32_t> tile_slots_;
    std::vector<uint32_t> slot_tile_;   // per slot: the last tile that placed it
    std::vector<uint32_t> slot_place_;  // per slot: its place in that tile
    PackedRows tile_pack_;
    const PackedRows* tile_rows_ = nullptr;
    EngineFloats values_;  // per tile row: its values, in the tile's slot order
    // Slots that entries appended within the tile brought in, and the
    // current row's values against them.
    PackedRows apart_;
    EngineFloats fresh_;
};
