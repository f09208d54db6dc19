#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "dsp.h"
#include "memory/fastmem.h"

namespace {

// Walks the registry both ways and checks its invariants against the expected live set.
void expectConsistent(const std::vector<void*>& liveInAllocationOrder, uint32_t baseCount) {
    const dsp::FastmemRegistry& registry = dsp::fastmemRegistry();
    ASSERT_EQ(registry.blockCount, baseCount + liveInAllocationOrder.size());
    const dsp::FastmemBlock* block = registry.newest;
    for (auto it = liveInAllocationOrder.rbegin(); it != liveInAllocationOrder.rend(); ++it) {
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(block->aligned, *it);
        if (block->newer != nullptr) {
            EXPECT_EQ(block->newer->older, block);
        }
        if (block->older != nullptr) {
            EXPECT_EQ(block->older->newer, block);
        }
        block = block->older;
    }
}

}  // namespace

TEST(Fastmem, AccountingFigures) {
    const uint32_t base = fastmemGetAllocatedSize();
    void* a = fastmemAlloc(100);
    EXPECT_EQ(fastmemGetAllocatedSize() - base, 115u);
    void* b = fastmemAlloc(200);
    EXPECT_EQ(fastmemGetAllocatedSize() - base, 115u + 215u);
    fastmemFree(a);
    EXPECT_EQ(fastmemGetAllocatedSize() - base, 215u);
    fastmemFree(b);
    EXPECT_EQ(fastmemGetAllocatedSize(), base);
}

TEST(Fastmem, EveryBlockIsAlignedAndDistinctAlsoForSizeZero) {
    std::vector<void*> blocks;
    for (uint32_t size : {0u, 0u, 1u, 3u, 15u, 16u, 17u, 1000u, 4096u}) {
        void* p = fastmemAlloc(size);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << "size " << size;
        EXPECT_EQ(std::count(blocks.begin(), blocks.end(), p), 0);
        std::fill_n(static_cast<char*>(p), size, 0x5A);  // the whole size is usable
        blocks.push_back(p);
    }
    for (void* p : blocks) fastmemFree(p);
}

TEST(Fastmem, FreeingInAnyOrderKeepsTheListConsistent) {
    std::mt19937 rng(1234);
    const uint32_t baseCount = dsp::fastmemRegistry().blockCount;
    const uint32_t baseBytes = fastmemGetAllocatedSize();
    for (int order = 0; order < 3; ++order) {
        std::vector<void*> live;
        for (uint32_t i = 0; i < 12; ++i) live.push_back(fastmemAlloc(i * 10));
        expectConsistent(live, baseCount);
        std::vector<void*> toFree = live;
        if (order == 1) std::reverse(toFree.begin(), toFree.end());
        if (order == 2) std::shuffle(toFree.begin(), toFree.end(), rng);
        for (void* p : toFree) {
            fastmemFree(p);
            live.erase(std::find(live.begin(), live.end(), p));
            expectConsistent(live, baseCount);
        }
        EXPECT_EQ(fastmemGetAllocatedSize(), baseBytes);
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
