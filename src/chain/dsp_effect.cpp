#include "chain/dsp_effect.h"

#include <initializer_list>

#include "convert/convert.h"
#include "memory/fastmem.h"

namespace dsp {

DspEffect::~DspEffect() { DspEffect::releaseBuffers(); }

void DspEffect::releaseBuffers() {
    if (configured) {
        for (float** buffer : {&inBufL, &inBufR, &outBufL, &outBufR, &auxBufL, &auxBufR}) {
            fastmemFree(*buffer);
            *buffer = nullptr;
        }
    }
    configured = false;
}

void DspEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) {
    if (!(configured && inSize >= size)) {
        releaseBuffers();
        // A failed allocation leaves a null buffer; buffersUsable() then keeps processing out.
        for (float** buffer : {&inBufL, &inBufR, &outBufL, &outBufR, &auxBufL, &auxBufR})
            *buffer = static_cast<float*>(fastmemAlloc(size * 4));
    }
    inChannels = channels;
    outChannels = channels;
    inSize = size;
    outSize = size;
    configured = true;
    inRate = rate;
}

uint32_t DspEffect::getDstSize(uint32_t srcSize) { return srcSize; }

bool DspEffect::buffersUsable() const {
    return configured && inBufL && inBufR && outBufL && outBufR && auxBufL && auxBufR;
}

uint32_t DspEffect::clampToCapacity(uint32_t bytes) const {
    // More than the configured block would overrun the buffers: the excess is ignored.
    const uint64_t capacity = uint64_t{inSize} * inChannels * 2;
    return bytes > capacity ? static_cast<uint32_t>(capacity) : bytes;
}

uint32_t DspEffect::processPcmByChannel(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    if (!buffersUsable() || inChannels == 0) return 0;
    bytes = clampToCapacity(bytes);
    const uint32_t frames = bytes / (inChannels * 2);
    pcmToFloat(pcmIn, bytes, inBufL, inBufR, inChannels);
    processChannel(0, inBufL, outBufL, frames);
    if (inChannels == 2) processChannel(1, inBufR, outBufR, frames);
    floatToPcm(outBufL, outBufR, frames, pcmOut, inChannels);
    return bytes;
}

void SilentEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) {
    DspEffect::configure(size, channels, rate);
    outRate = rate;
}

}  // namespace dsp
