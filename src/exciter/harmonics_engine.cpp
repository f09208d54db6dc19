#include "exciter/harmonics_engine.h"

#include <algorithm>
#include <cmath>

#include "memory/fastmem.h"
#include "exciter/harmonics_kernels.h"

namespace dsp {

float scanBandEdge(const float* spectrum, uint32_t bins, uint32_t rate) {
    if (bins == 0) return 0.0f;
    const double limit = bins * 0.666;
    bool falling = true;
    bool armed = false;
    double low = 65535.0;
    double high = 0.0;
    int64_t found = static_cast<int64_t>(bins) - 1;
    for (int64_t i = static_cast<int64_t>(bins) - 1; i >= limit; --i) {
        const double v = spectrum[i];
        if (armed && std::fabs(v - low) >= 15.0) {
            found = i;
            break;
        }
        if (falling) {
            if (v > low) {
                high = v;
                falling = false;
                armed = true;
            } else {
                low = v;
            }
        } else if (v >= high) {
            high = v;
        } else {
            low = v;
            falling = true;
            armed = false;
        }
    }
    return static_cast<float>(static_cast<double>(rate) * found * 0.5 / bins);
}

HarmonicsEngine::~HarmonicsEngine() {
    fastmemFree(highpassed_);
    fastmemFree(shaped_);
    fastmemFree(spectrum_);
}

bool HarmonicsEngine::setup(uint32_t frames, uint32_t rate, float harmonics, float mixPercent, uint32_t cutoff,
                            uint32_t activeMode, uint32_t taps) {
    if (!ready_ || capacity_ < frames || !highpassed_ || !shaped_) {
        fastmemFree(highpassed_);
        fastmemFree(shaped_);
        const uint32_t bytes = std::max(frames, 1u) * 4;
        highpassed_ = static_cast<float*>(fastmemAlloc(bytes));
        shaped_ = static_cast<float*>(fastmemAlloc(bytes));
    }
    capacity_ = frames;
    setMix(mixPercent);
    cutoff_ = static_cast<float>(cutoff);
    activeMode_ = activeMode;
    rate_ = rate;

    const auto tapCount = static_cast<int32_t>(std::min(taps, 1u << 16));
    for (KaiserFir* fir : {&fir1_, &fir2_}) {
        fir->setup(100.0f, tapCount, KaiserFir::kHighpass);
        fir->designBand(static_cast<float>(rate), cutoff_, 0.0f);
    }
    // Each FIR delays by taps/2; a mode other than 1 runs fir1 alone and gets that delay.
    delay_.setup(activeMode == 1 ? fir1_.taps() : fir1_.taps() / 2, 0.0f);

    if (!ready_ || harmonics != harmonics_) setHarmonics(harmonics);

    // The sliding spectrum needs at least one FFT frame of history, whatever the block size.
    const auto history = static_cast<uint32_t>(frames * 2.3333);
    analyser_.setup(frames, std::max(history, kSpectrumSize), kSpectrumSize, 120.0f);
    if (!spectrum_) spectrum_ = static_cast<float*>(fastmemAlloc(kSpectrumSize * 4));
    ready_ = true;
    bandEdge_ = 0.0f;
    return true;
}

void HarmonicsEngine::reset() {
    fir1_.reset();
    fir2_.reset();
    delay_.reset();
}

void HarmonicsEngine::setHarmonics(float harmonics) {
    harmonics_ = harmonics;
    curve_.buildFromHarmonics(harmonics);
}

float HarmonicsEngine::findBandEdge(const float* in, uint32_t frames) {
    if (activeMode_ != 1 || !ready_ || !spectrum_ || !shaped_) return 0.0f;
    const float* frame = in;
    if (frames < capacity_) {
        // A short block is padded with silence to the hop the analysis advances by.
        std::copy(in, in + frames, shaped_);
        std::fill(shaped_ + frames, shaped_ + capacity_, 0.0f);
        frame = shaped_;
    }
    analyser_.transform(frame);
    const uint32_t bins = analyser_.magnitudeDb(spectrum_, true);
    return scanBandEdge(spectrum_, bins, rate_);
}

void HarmonicsEngine::process(const float* in, float* out, uint32_t frames) {
    processBlock(in, out, nullptr, frames);
}

void HarmonicsEngine::processWithEdge(const float* in, float* out, float edge, uint32_t frames) {
    processBlock(in, out, &edge, frames);
}

void HarmonicsEngine::processBlock(const float* in, float* out, const float* edge, uint32_t frames) {
    if (!ready_ || !highpassed_ || !shaped_ || capacity_ == 0) {
        delay_.process(in, out, frames);  // no work buffers: the dry path alone
        return;
    }
    while (frames > 0) {
        const uint32_t n = std::min(frames, capacity_);
        fir1_.process(in, highpassed_, n);
        curve_.applyCurve(highpassed_, shaped_, n);
        subtractInto(shaped_, highpassed_, n);
        if (activeMode_ == 1) {
            const float f = edge ? *edge : findBandEdge(in, n);
            bandEdge_ = f;
            fir2_.designBand(static_cast<float>(rate_), f, 0.0f);
            fir2_.process(highpassed_, highpassed_, n);
        }
        delay_.process(in, out, n);
        addScaled(out, highpassed_, mix_, n);
        in += n;
        out += n;
        frames -= n;
    }
}

}  // namespace dsp
