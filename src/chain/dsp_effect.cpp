#include "chain/dsp_effect.h"

#include <algorithm>
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
    outCapacity = 0;
}

void DspEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) {
    if (!(configured && inSize >= size)) {
        releaseBuffers();
        // A failed allocation leaves a null buffer; ready() then keeps processing out.
        for (float** buffer : {&inBufL, &inBufR, &outBufL, &outBufR, &auxBufL, &auxBufR})
            *buffer = static_cast<float*>(fastmemAlloc(size * 4));
        outCapacity = outBufL && outBufR && auxBufL && auxBufR ? size : 0;
    }
    inChannels = channels;
    outChannels = channels;
    inSize = size;
    outSize = size;
    configured = true;
    inRate = rate;
}

uint32_t DspEffect::getDstSize(uint32_t srcSize) { return srcSize; }

bool DspEffect::ready() const {
    return configured && inBufL && inBufR && outBufL && outBufR && auxBufL && auxBufR && outCapacity >= outSize &&
           enginesReady;
}

void DspEffect::reserveOutput(uint32_t frames, bool aux) {
    if (outCapacity >= frames) return;
    // Buffer sizes are 32-bit byte counts: a longer block counts as running out of memory.
    const bool fits = frames <= 0x3FFFFFFFu;
    bool had = fits;
    for (float** buffer : {&outBufL, &outBufR, &auxBufL, &auxBufR}) {
        if (!aux && (buffer == &auxBufL || buffer == &auxBufR)) continue;
        fastmemFree(*buffer);
        *buffer = fits ? static_cast<float*>(fastmemAlloc(std::max(frames, 1u) * 4)) : nullptr;
        had = had && *buffer != nullptr;
    }
    outCapacity = had ? frames : 0;
}

uint32_t DspEffect::clampToCapacity(uint32_t bytes) const {
    // More than the configured block would overrun the buffers: the excess is ignored.
    const uint64_t capacity = uint64_t{inSize} * inChannels * 2;
    return bytes > capacity ? static_cast<uint32_t>(capacity) : bytes;
}

uint32_t DspEffect::loadPcm(const int16_t* pcm, uint32_t bytes, bool mix, uint32_t maxFrames) {
    bytes = std::min<uint64_t>(clampToCapacity(bytes), uint64_t{maxFrames} * inChannels * 2);
    pcmToFloat(pcm, bytes, inBufL, mix ? nullptr : inBufR, inChannels);
    return bytes / (inChannels * 2);
}

uint32_t DspEffect::storePcm(uint32_t frames, int16_t* pcm) const {
    floatToPcm(outBufL, inChannels == 2 ? outBufR : nullptr, frames, pcm, outChannels);
    return outChannels * frames * 2;
}

bool DspEffect::runPcm(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes, uint32_t* written) {
    if (!ready() || inChannels == 0) return false;
    const uint32_t frames = loadPcm(pcmIn, bytes);
    const uint32_t out = storePcm(processBlock(inBufL, inBufR, outBufL, outBufR, frames), pcmOut);
    if (written != nullptr) *written = out;
    return true;
}

uint32_t DspEffect::processPcm(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    uint32_t written = 0;
    runPcm(pcmIn, pcmOut, bytes, &written);
    return written;
}

void SilentEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) {
    DspEffect::configure(size, channels, rate);
    outRate = rate;
}

}  // namespace dsp
