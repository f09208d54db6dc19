#include "convert/convert.h"

#include <cstring>

#include "convert/kernels.h"

namespace dsp {

bool useMmx = false;
bool use3dnow = false;
bool useSse = false;

void pcmToFloat(const int16_t* pcm, uint32_t bytes, float* outL, float* outR, uint32_t channels) {
    if (use3dnow) variant::amd3dnow::pcmToFloat(pcm, bytes, outL, outR, channels);
    else if (useSse) variant::sse::pcmToFloat(pcm, bytes, outL, outR, channels);
    else variant::reference::pcmToFloat(pcm, bytes, outL, outR, channels);
}

void floatToPcm(const float* inL, const float* inR, uint32_t frames, int16_t* pcm, uint32_t channels) {
    if (use3dnow) variant::amd3dnow::floatToPcm(inL, inR, frames, pcm, channels);
    else if (useSse) variant::sse::floatToPcm(inL, inR, frames, pcm, channels);
    else variant::reference::floatToPcm(inL, inR, frames, pcm, channels);
}

void blockCopy(const void* src, void* dst, uint32_t bytes) {
    kernels::active::copy16(src, dst, bytes / 16);
}

void copyBytes(const void* src, void* dst, uint32_t bytes) {
    const auto* from = static_cast<const unsigned char*>(src);
    auto* to = static_cast<unsigned char*>(dst);
    uint32_t done = 0;
    if (blockCopyEnabled()) {
        done = bytes & ~uint32_t{15};
        if (done != 0) blockCopy(from, to, done);
    }
    if (from == to || done == bytes) return;
    from += done;
    to += done;
    const uint32_t rest = bytes - done;
    // A byte-by-byte forward copy equals memmove unless the destination starts inside the
    // source, where it repeats the bytes between the two starts; only that case loops.
    const auto gap = reinterpret_cast<uintptr_t>(to) - reinterpret_cast<uintptr_t>(from);  // wraps when below
    if (gap >= rest) {
        std::memmove(to, from, rest);
        return;
    }
    for (uint32_t i = 0; i < rest; ++i) to[i] = from[i];
}

}  // namespace dsp
