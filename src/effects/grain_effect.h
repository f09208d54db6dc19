// What the pitch shift and time stretch effects share: one grain engine per channel (two are
// always built, the second used only for stereo), the four parameters both engines are built
// from, and the rule that a new rate (or engines that failed) rebuilds them from those values.
#pragma once
#include <cstdint>

#include "chain/dsp_effect.h"

namespace dsp {

template <class Engine, uint32_t Kind>
class GrainPairEffect : public DspEffect {
public:
    static constexpr uint32_t kKind = Kind;

    // Applies at once to both engines and is kept for a rebuild.
    void setOutLevel(float db) {
        for (Engine& engine : engines) engine.setOutLevel(db);
        outLevel = db;
    }

    Engine engines[2];  // 0 left or mono, 1 right
    float amount;       // pitch in cents, or stretch scale
    float outLevel;     // dB
    float grainTime;    // s
    float hopTime;      // s

protected:
    GrainPairEffect(float amount_, float outLevel_, float grainTime_, float hopTime_)
        : DspEffect(Kind), amount(amount_), outLevel(outLevel_), grainTime(grainTime_), hopTime(hopTime_) {
        enginesReady = false;  // until the first configure sets them up
    }

    // The base buffer rule and format, then the engines rebuilt when the rate changed.
    void configureEngines(uint32_t size, uint32_t channels, uint32_t rate) {
        DspEffect::configure(size, channels, rate);
        if (!enginesReady || rate != outRate) {
            enginesReady = true;
            for (Engine& engine : engines)
                enginesReady = engine.setup(rate, amount, outLevel, grainTime, hopTime) && enginesReady;
        }
        outRate = rate;
    }

};

}  // namespace dsp
