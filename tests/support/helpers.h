// Seeded signals and a handle of the wrong kind, shared by the effect tests.
#pragma once
#include <cstdint>
#include <random>
#include <vector>

#include "dsp.h"
#include "support/test_effects.h"

namespace dsptest {

// Uniform noise in [-amplitude, amplitude), reproducible from the seed.
inline std::vector<float> noise(std::size_t n, uint32_t seed, float amplitude = 0.9f) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-amplitude, amplitude);
    std::vector<float> v(n);
    for (float& x : v) x = dist(rng);
    return v;
}

// A configured effect of another kind; `handles()` is it plus a null handle, for refusal checks.
struct ForeignEffect {
    explicit ForeignEffect(uint32_t kind) : effect(1.0f) {
        effect.configure(64, 2, 44100);
        effect.kind = kind;
    }
    std::vector<dsp_effect*> handles() {
        return {reinterpret_cast<dsp_effect*>(static_cast<dsp::DspEffect*>(&effect)), nullptr};
    }
    GainEffect effect;
};

}  // namespace dsptest
