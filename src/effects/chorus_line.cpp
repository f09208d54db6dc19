#include "effects/chorus_line.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "cpu/cpu.h"
#include "effects/chorus_kernels.h"
#include "tables/function_table.h"

namespace dsp {
namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr uint32_t kMaxChunk = 256;

// Every voice stores the same sample at the same position, so the per-voice delay regions
// would always hold identical data: one region serves all voices. Voice counts whose regions
// (65536 samples each) would overflow a 32-bit address space are refused as out of memory.
constexpr uint32_t kMaxVoices = 16383;

void tapsScalar(const float* theta, uint32_t n, const TapParams& p, int32_t* taps) {
    const float* table = sineTable.values;
    const uint32_t tableMask = sineTable.mask;
    const double scale = sineTable.indexScale;
    for (uint32_t i = 0; i < n; ++i) taps[i] = tapDelay(theta[i], p, table, tableMask, scale);
}

void computeTaps(const float* theta, uint32_t n, const TapParams& p, int32_t* taps) {
#if DSP_X86_KERNELS
    if (cpu::atLeast(cpu::Isa::Avx2)) return chorus_kernels::avx2::computeTaps(theta, n, p, taps);
#endif
    tapsScalar(theta, n, p, taps);
}

}  // namespace

void ChorusLine::release() {
    DelayLine::release();
    voicePhase.reset();
    voiceGain.reset();
    taps.reset();
    voiceCount = 0;
}

ChorusLine::~ChorusLine() { ChorusLine::release(); }

bool ChorusLine::setup(uint32_t rate_, uint32_t voices, float delayMs, float depthMs, float speed,
                       float mixPercent, float orgMixPercent, uint32_t capacity_) {
    bool ok = DelayLine::setup(rate_, delayMs, capacity_) && voices <= kMaxVoices;
    voiceCount = voices;  // after setup, whose release() empties the voices
    phaseMs = 0.0f;
    msPerSample = static_cast<float>(1000.0 / rate_);
    setDepth(depthMs);
    setSpeed(speed);
    voiceMix = static_cast<float>(mixPercent * 0.01);
    setDryMix(orgMixPercent);
    voicePhase.reset();
    voiceGain.reset();
    taps.reset();
    if (ok) {
        chunkFrames = std::clamp<uint32_t>(16384 / std::max<uint32_t>(voices, 1), 16, kMaxChunk);
        voicePhase.reset(new (std::nothrow) float[voices]);
        voiceGain.reset(new (std::nothrow) float[voices]);
        taps.reset(new (std::nothrow) int32_t[size_t{voices} * chunkFrames]);
        ok = voicePhase && voiceGain && taps;
    }
    if (!ok) {
        release();
        return false;
    }
    const double spacing = kTwoPi / voices;
    for (uint32_t v = 0; v < voices; ++v) {
        voicePhase[v] = static_cast<float>(spacing * v);
        voiceGain[v] = voiceMix;
    }
    return true;
}

void ChorusLine::reset() {
    if (ready()) std::fill_n(buffer.get(), capacity, 0.0f);
    writeIndex = 0;
    phaseMs = 0.0f;
}

void ChorusLine::setDelayTime(float delayMs) { delay = delaySamples(rate, delayMs); }

void ChorusLine::setDepth(float depthMs) { depthSamples = static_cast<float>(rate * static_cast<double>(depthMs) * 0.001); }

void ChorusLine::setSpeed(float speed) {
    const double period = speed * 1000.0;
    periodMs = static_cast<float>(period);
    cyclesPerMs = speed == 0.0f ? 0.0f : static_cast<float>(1.0 / period);
}

void ChorusLine::setDryMix(float orgMixPercent) { dryGain = static_cast<float>(orgMixPercent * 0.01); }

bool ChorusLine::setVoiceMix(int32_t voice, float mixPercent) {
    if (voice < 0 || static_cast<uint32_t>(voice) >= voiceCount) return false;
    voiceMix = static_cast<float>(mixPercent * 0.01);
    voiceGain[voice] = voiceMix;
    return true;
}

bool ChorusLine::lockstepWith(const ChorusLine& o) const {
    return ready() && o.ready() && voiceCount == o.voiceCount && writeIndex == o.writeIndex &&
           mask == o.mask && delay == o.delay && phaseMs == o.phaseMs && periodMs == o.periodMs &&
           cyclesPerMs == o.cyclesPerMs && msPerSample == o.msPerSample && depthSamples == o.depthSamples;
}

// Chunk by chunk: the oscillator angles (a serial recurrence), then every voice's tap delays
// (independent per sample, vectorised), then per sample the taps in voice order, the store and
// the mix. Lines beyond the first share the first one's oscillator and taps.
template <int kLines>
void ChorusLine::render(ChorusLine* const* lines, const float* const* in, float* const* out, uint32_t frames) {
    ChorusLine& lead = *lines[0];
    const float w = static_cast<float>(lead.cyclesPerMs * kTwoPi);
    const uint32_t voices = lead.voiceCount;
    const uint32_t chunk = lead.chunkFrames;
    const uint32_t mask = lead.mask;
    const float period = lead.periodMs;
    const float advance = lead.msPerSample;
    float phase = lead.phaseMs;
    uint32_t write = lead.writeIndex;
    int32_t* taps = lead.taps.get();
    float theta[kMaxChunk];

    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min(frames - done, chunk);
        for (uint32_t i = 0; i < n; ++i) {
            theta[i] = w * phase;
            if (period == 0.0f) continue;  // stopped oscillator: the phase stays
            phase += advance;
            if (phase >= period) {
                const double q = std::trunc(static_cast<double>(phase) / period);
                phase = static_cast<float>(phase - q * period);
            }
        }
        // Tap delays; note whether every tap reaches behind the samples still to be stored.
        const uint32_t reachLimit = mask - n;  // (d - 1) mod capacity must not exceed capacity - n - 1
        uint32_t reachBad = n > mask ? 1u : 0u;
        for (uint32_t v = 0; v < voices; ++v) {
            int32_t* voiceTaps = taps + size_t{v} * chunk;
            computeTaps(theta, n, {lead.voicePhase[v], lead.depthSamples, static_cast<double>(lead.delay)}, voiceTaps);
            for (uint32_t i = 0; i < n; ++i) reachBad |= ((static_cast<uint32_t>(voiceTaps[i]) - 1) & mask) > reachLimit;
        }

#if DSP_X86_KERNELS
        if (cpu::atLeast(cpu::Isa::Avx2) && reachBad == 0) {
            // No tap reads a position this chunk stores before its own sample: store first,
            // then mix eight samples at a time.
            MixLine mix[kLines];
            for (int l = 0; l < kLines; ++l) {
                float* region = lines[l]->buffer.get();
                const uint32_t straight = std::min(n, mask + 1 - write);  // up to the end of the line
                std::copy_n(in[l] + done, straight, region + write);
                std::copy_n(in[l] + done + straight, n - straight, region);
                mix[l] = {region, lines[l]->voiceGain.get(), lines[l]->dryGain, in[l] + done, out[l] + done};
            }
            chorus_kernels::avx2::mixChunk<kLines>(mix, n, write, mask, taps, chunk, voices);
            write = (write + n) & mask;
            done += n;
            continue;
        }
#endif
        for (uint32_t i = 0; i < n; ++i) {
            for (int l = 0; l < kLines; ++l) {
                const float* region = lines[l]->buffer.get();
                const float* gain = lines[l]->voiceGain.get();
                double acc = 0.0;
                for (uint32_t v = 0; v < voices; ++v) {
                    const uint32_t at = (write - static_cast<uint32_t>(taps[size_t{v} * chunk + i])) & mask;
                    acc += static_cast<double>(region[at]) * gain[v];
                }
                const float x = in[l][done + i];
                lines[l]->buffer[write] = x;
                out[l][done + i] = static_cast<float>(static_cast<double>(x) * lines[l]->dryGain + acc);
            }
            write = (write + 1) & mask;
        }
        done += n;
    }
    for (int l = 0; l < kLines; ++l) {
        lines[l]->phaseMs = phase;
        lines[l]->writeIndex = write;
    }
}

void ChorusLine::process(const float* in, float* out, uint32_t frames) {
    if (!ready()) {
        // No storage (setup failed): only the dry signal.
        for (uint32_t i = 0; i < frames; ++i) out[i] = static_cast<float>(static_cast<double>(in[i]) * dryGain);
        return;
    }
    ChorusLine* self = this;
    render<1>(&self, &in, &out, frames);
}

void ChorusLine::processPair(ChorusLine& left, ChorusLine& right, const float* inL, const float* inR, float* outL,
                             float* outR, uint32_t frames) {
    // Out of step, or one channel's output overwriting the other's input: one after the other.
    if (!left.lockstepWith(right) || inR == outL || inL == outR) {
        left.process(inL, outL, frames);
        right.process(inR, outR, frames);
        return;
    }
    ChorusLine* lines[2] = {&left, &right};
    const float* in[2] = {inL, inR};
    float* out[2] = {outL, outR};
    render<2>(lines, in, out, frames);
}

}  // namespace dsp
