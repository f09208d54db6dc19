#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "dsp.h"
#include "memory/fastmem.h"

// Each block counts its size plus 15 bytes of alignment slack; every block is 16-byte aligned,
// distinct (also for size 0) and usable over its whole size; freeing in any order returns all.
TEST(Fastmem, AccountingAlignmentAndFreeingInAnyOrder) {
    const uint32_t base = fastmemGetAllocatedSize();
    std::mt19937 rng(1234);
    for (int order = 0; order < 2; ++order) {
        std::vector<void*> blocks;
        uint32_t counted = 0;
        for (uint32_t size : {0u, 0u, 1u, 15u, 16u, 17u, 1000u, 4096u}) {
            void* p = fastmemAlloc(size);
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << "size " << size;
            EXPECT_EQ(std::count(blocks.begin(), blocks.end(), p), 0);
            std::fill_n(static_cast<char*>(p), size, 0x5A);
            blocks.push_back(p);
            counted += size + 15;
            EXPECT_EQ(fastmemGetAllocatedSize() - base, counted) << "size " << size;
        }
        fastmemFree(blocks[6]);  // not the newest: its own 1000 + 15 bytes come off
        EXPECT_EQ(fastmemGetAllocatedSize() - base, counted - 1015);
        blocks.erase(blocks.begin() + 6);
        if (order == 1) std::shuffle(blocks.begin(), blocks.end(), rng);
        for (void* p : blocks) fastmemFree(p);
        EXPECT_EQ(fastmemGetAllocatedSize(), base) << "order " << order;
    }
}

TEST(Fastmem, DoubleNullAndForeignFreesChangeNothing) {
    const uint32_t base = fastmemGetAllocatedSize();
    void* p = fastmemAlloc(64);
    int onStack = 0;
    std::vector<char> heap(64);
    fastmemFree(nullptr);
    fastmemFree(&onStack);
    fastmemFree(heap.data());
    fastmemFree(static_cast<char*>(p) + 16);  // inside a block, not its start
    EXPECT_EQ(fastmemGetAllocatedSize(), base + 79);
    fastmemFree(p);
    fastmemFree(p);
    EXPECT_EQ(fastmemGetAllocatedSize(), base);
}
