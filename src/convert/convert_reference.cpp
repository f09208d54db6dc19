#include "convert/convert.h"

namespace dsp::reference {

namespace {
constexpr double kToFloat = 3.051850947599719e-05;  // 1/32767
constexpr double kToInt = 32767.0;

inline int16_t toPcm(float x) {
    // A NaN fails the ordered "less than" test too, and lands on -1.
    if (!(x >= -1.0f)) x = -1.0f;
    else if (x > 1.0f) x = 1.0f;
    return static_cast<int16_t>(static_cast<int32_t>(static_cast<double>(x) * kToInt));
}
}  // namespace

void pcmToFloat(const int16_t* pcm, uint32_t bytes, float* outL, float* outR, uint32_t channels) {
    if (channels == 2) {
        const uint32_t frames = bytes / 4;
        if (outR != nullptr) {
            for (uint32_t i = 0; i < frames; ++i) {
                outL[i] = static_cast<float>(pcm[2 * i] * kToFloat);
                outR[i] = static_cast<float>(pcm[2 * i + 1] * kToFloat);
            }
        } else {
            for (uint32_t i = 0; i < frames; ++i) {
                const int32_t mid = (int32_t{pcm[2 * i]} + int32_t{pcm[2 * i + 1]}) >> 1;  // floor
                outL[i] = static_cast<float>(mid * kToFloat);
            }
        }
    } else {
        const uint32_t samples = bytes / 2;
        for (uint32_t i = 0; i < samples; ++i) outL[i] = static_cast<float>(pcm[i] * kToFloat);
    }
}

void floatToPcm(const float* inL, const float* inR, uint32_t frames, int16_t* pcm, uint32_t channels) {
    if (channels == 2) {
        const float* right = inR != nullptr ? inR : inL;
        for (uint32_t i = 0; i < frames; ++i) {
            pcm[2 * i] = toPcm(inL[i]);
            pcm[2 * i + 1] = toPcm(right[i]);
        }
    } else {
        for (uint32_t i = 0; i < frames; ++i) pcm[i] = toPcm(inL[i]);
    }
}

}  // namespace dsp::reference
