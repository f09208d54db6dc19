#include "chain/dsp_chain.h"

#include <new>

#include "convert/convert.h"  // copyBytes

namespace dsp {

DspChain::DspChain(uint32_t size_, uint32_t channels_, uint32_t rate_)
    : size(size_), channels(channels_), rate(rate_) {}

DspChain::~DspChain() { clear(); }

uint32_t DspChain::add(DspEffect* effect, uint32_t priority) {
    if (effect == nullptr || !effect->configured) return 0;
    auto* node = new (std::nothrow) ChainNode;
    if (node == nullptr) return 0;
    node->effect = effect;
    node->priority = priority;
    if (nodeCount == 0) {
        head = tail = node;
    } else {
        ChainNode* at = tail;
        while (at != nullptr && at->priority > priority) at = at->prev;
        if (at != nullptr) {
            node->prev = at;
            node->next = at->next;
            if (at->next != nullptr) at->next->prev = node; else tail = node;
            at->next = node;
        } else {
            node->next = head;
            head->prev = node;
            head = node;
        }
    }
    propagateFormat();
    return ++nodeCount;
}

void DspChain::clear() {
    ChainNode* node = head;
    while (node != nullptr) {
        ChainNode* next = node->next;
        delete node->effect;
        delete node;
        node = next;
    }
    head = tail = nullptr;
    nodeCount = 0;
}

void DspChain::adjust(uint32_t size_, uint32_t channels_, uint32_t rate_) {
    size = size_;
    channels = channels_;
    rate = rate_;
    propagateFormat();
}

void DspChain::propagateFormat() {
    uint32_t wantSize = size, wantChannels = channels, wantRate = rate;
    for (ChainNode* node = head; node != nullptr; node = node->next) {
        DspEffect* effect = node->effect;
        if (effect->inSize != wantSize || effect->inChannels != wantChannels || effect->inRate != wantRate)
            effect->configure(wantSize, wantChannels, wantRate);
        wantSize = effect->outSize;
        wantChannels = effect->outChannels;
        wantRate = effect->outRate;
    }
}

DspEffect* DspChain::effectAt(uint32_t index) const {
    ChainNode* node = head;
    while (node != nullptr && index-- != 0) node = node->next;
    return node != nullptr ? node->effect : nullptr;
}

uint32_t DspChain::dstSize(uint32_t srcSize) const {
    for (ChainNode* node = head; node != nullptr; node = node->next) srcSize = node->effect->getDstSize(srcSize);
    return srcSize;
}

uint32_t DspChain::dstChannels() const { return tail != nullptr ? tail->effect->outChannels : channels; }

uint32_t DspChain::dstRate() const { return tail != nullptr ? tail->effect->outRate : rate; }

uint32_t DspChain::send(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    if (head == nullptr) {
        copyBytes(pcmIn, pcmOut, bytes);
        return bytes;
    }
    DspEffect* first = head->effect;
    if (first->inChannels == 0) return 0;
    for (ChainNode* node = head; node != nullptr; node = node->next)
        if (!node->effect->ready()) return 0;
    uint32_t frames = first->loadPcm(pcmIn, bytes);
    frames = first->processBlock(first->inBufL, first->inBufR, first->outBufL, first->outBufR, frames);
    for (ChainNode* node = head->next; node != nullptr; node = node->next) {
        DspEffect* before = node->prev->effect;
        DspEffect* effect = node->effect;
        frames = effect->processBlock(before->outBufL, before->outBufR, effect->outBufL, effect->outBufR, frames);
    }
    DspEffect* last = tail->effect;
    last->storePcm(frames, pcmOut);
    // Counted in the tail's input channels, as documented: the same as what was written unless
    // the tail was made for another output channel count.
    return last->inChannels * frames * 2;
}

}  // namespace dsp
