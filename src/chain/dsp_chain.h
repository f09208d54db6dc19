// The effect chain: effects sorted by unsigned priority, PCM converted to float at the head
// and back at the tail, the format carried from the input through every effect.
#pragma once
#include <cstdint>

#include "chain/dsp_effect.h"

namespace dsp {

struct ChainNode {
    ChainNode* next = nullptr;  // toward the tail
    ChainNode* prev = nullptr;  // toward the head
    DspEffect* effect = nullptr;
    uint32_t priority = 0;
};

class DspChain {
public:
    DspChain(uint32_t size, uint32_t channels, uint32_t rate);
    ~DspChain();
    DspChain(const DspChain&) = delete;
    DspChain& operator=(const DspChain&) = delete;

    // Inserts a configured effect and propagates the format; returns the node count, or 0
    // (chain unchanged, effect still the caller's) for a null or unconfigured effect.
    uint32_t add(DspEffect* effect, uint32_t priority);
    void clear();
    void adjust(uint32_t size, uint32_t channels, uint32_t rate);
    DspEffect* effectAt(uint32_t index) const;  // nullptr past the end
    uint32_t dstSize(uint32_t srcSize) const;
    uint32_t dstChannels() const;
    uint32_t dstRate() const;
    uint32_t send(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);

    ChainNode* head = nullptr;
    ChainNode* tail = nullptr;
    uint32_t nodeCount = 0;
    uint32_t size;
    uint32_t channels;
    uint32_t rate;

private:
    void propagateFormat();
};

}  // namespace dsp
