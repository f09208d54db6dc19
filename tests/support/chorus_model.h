// A plain, literal model of the chorus for comparisons: one 65536-sample region per voice, a
// sine table of its own, every step written out per sample and per voice with no sharing.
// Used by the tests as the reference and by the benchmarks as the scalar-loop baseline.
#pragma once
#include <cmath>
#include <cstdint>
#include <vector>

namespace dsptest {

class ChorusModel {
public:
    static constexpr uint32_t kCapacity = 65536;

    ChorusModel(uint32_t rate_, uint32_t voices_, float delayMs, float depthMs, float speed, float mix, float orgMix)
        : rate(rate_), voices(voices_), region(size_t{voices_} * kCapacity, 0.0f) {
        for (int i = 0; i <= 1024; ++i)
            table[i] = float(double(std::sin((long double)(i * (6.283185307179586 / 1024)))));
        setDelay(delayMs);
        setDepth(depthMs);
        setSpeed(speed);
        setOrgMix(orgMix);
        msPerSample = float(1000.0 / rate);
        for (uint32_t v = 0; v < voices; ++v) {
            phaseOffset.push_back(float(6.283185307179586 / voices * v));
            gain.push_back(float(mix * 0.01));
        }
    }

    static int32_t trunc32(long double x) {
        return (x > -2147483649.0L && x < 2147483648.0L) ? int32_t(x) : INT32_MIN;
    }

    void setDelay(float ms) { delay = trunc32((long double)rate * ms * (long double)0.001); }
    void setDepth(float ms) { depth = float(rate * double(ms) * 0.001); }
    void setSpeed(float s) {
        periodMs = float(s * 1000.0);
        cyclesPerMs = s == 0.0f ? 0.0f : float(1.0 / (s * 1000.0));
    }
    void setMix(uint32_t v, float mix) { gain[v] = float(mix * 0.01); }
    void setOrgMix(float mix) { dry = float(mix * 0.01); }

    void process(const float* in, float* out, uint32_t frames) {
        const float w = float(cyclesPerMs * 6.283185307179586);
        for (uint32_t i = 0; i < frames; ++i) {
            const float x = in[i];
            const float theta = w * phaseMs;
            double acc = 0.0;
            for (uint32_t v = 0; v < voices; ++v) {
                const double u = (double(theta) + phaseOffset[v]) * double(162.97466f);
                const int32_t k = trunc32(u);
                const uint32_t j = uint32_t(k) & 1023u;
                const double s = double(table[j]) + (double(table[j + 1]) - double(table[j])) * (u - k);
                const int32_t d = trunc32(s * depth + delay);
                float* r = &region[size_t{v} * kCapacity];
                acc += double(r[(writeIndex - uint32_t(d)) & (kCapacity - 1)]) * gain[v];
                r[writeIndex] = x;
            }
            out[i] = float(double(x) * dry + acc);
            writeIndex = (writeIndex + 1) & (kCapacity - 1);
            if (periodMs != 0.0f) {
                phaseMs += msPerSample;
                if (phaseMs >= periodMs)
                    phaseMs = float(phaseMs - std::trunc(double(phaseMs) / periodMs) * periodMs);
            }
        }
    }

    uint32_t rate, voices;
    int32_t delay = 0;
    float depth = 0, periodMs = 0, cyclesPerMs = 0, msPerSample = 0, dry = 0, phaseMs = 0;
    uint32_t writeIndex = 0;
    std::vector<float> phaseOffset, gain, region;
    float table[1025];
};

}  // namespace dsptest
