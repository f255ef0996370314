// Memory for sample sets: blocks never overlap while they are held, however
// released blocks are cut up and handed out again.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "sample_memory.h"

namespace {

struct Block {
    unsigned char* bytes;
    std::size_t size;
    unsigned char mark;
};

// Every byte of a held block still carries its mark.
bool intact(const Block& block) {
    for (std::size_t i = 0; i < block.size; i += 4093) {
        if (block.bytes[i] != block.mark) return false;
    }
    return block.bytes[block.size - 1] == block.mark;
}

TEST(SampleMemory, HeldBlocksNeverOverlap) {
    std::mt19937 random(9);
    std::vector<Block> held;
    unsigned char mark = 0;
    for (int step = 0; step < 400; ++step) {
        if (!held.empty() && random() % 3 == 0) {
            const std::size_t k = random() % held.size();
            ASSERT_TRUE(intact(held[k])) << "step " << step;
            free_sample_memory(held[k].bytes, held[k].size);
            held.erase(held.begin() + long(k));
            continue;
        }
        // Small blocks, blocks just past a huge page, and several huge pages.
        const std::size_t sizes[] = {100, std::size_t(300) << 10, (std::size_t(2) << 20) + 1,
                                     std::size_t(5) << 20, std::size_t(9) << 20};
        const std::size_t size = sizes[random() % 5] + random() % 4096;
        Block block{static_cast<unsigned char*>(allocate_sample_memory(size)), size, ++mark};
        std::memset(block.bytes, block.mark, size);
        held.push_back(block);
        for (const Block& other : held) ASSERT_TRUE(intact(other)) << "step " << step;
    }
    for (const Block& block : held) free_sample_memory(block.bytes, block.size);
}

}  // namespace
