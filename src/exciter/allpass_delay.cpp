#include "exciter/allpass_delay.h"

#include <algorithm>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dsp {

void AllpassDelay::setup(int32_t length, float gain) {
    length = std::max(length, 0);
    if (!ready_ || buffer_.size() < static_cast<std::size_t>(length)) {
        ready_ = buffer_.allocate(static_cast<std::size_t>(length));
        if (!ready_) length = 0;  // out of memory: pass the signal through undelayed
    }
    length_ = length;
    gain_ = gain;
    reset();
}

void AllpassDelay::reset() {
    buffer_.clear();
    pos_ = 0;
}

void AllpassDelay::process(const float* in, float* out, uint32_t frames) {
    if (length_ < 1) {
        if (in != out) std::copy(in, in + frames, out);
        return;
    }
    // Each sample reads and rewrites the slot after the previous one, so a run of consecutive
    // slots up to the end of the line holds no dependency within it: the run is element-wise.
    const double gain = gain_;
    float* line = buffer_.data();
    const auto length = static_cast<uint32_t>(length_);
    uint32_t slot = static_cast<uint32_t>(pos_) + 1 == length ? 0 : static_cast<uint32_t>(pos_) + 1;
    uint32_t done = 0;
#if defined(__SSE2__)
    if (gain == 0.0 && length % 4 == 0) {
        // Whole steps of four slots once the slot is on a multiple of four (see runLine).
        const uint32_t lead = std::min(frames, (4 - slot % 4) % 4);
        runLine(in, out, line + slot, lead, gain);
        done = lead;
        slot = (slot + lead) % length;
        const __m128 g = _mm_set1_ps(static_cast<float>(gain));
        for (; done + 4 <= frames; done += 4) {
            const __m128 old = _mm_load_ps(line + slot);
            const __m128 stored = _mm_sub_ps(_mm_loadu_ps(in + done), _mm_mul_ps(old, g));
            _mm_store_ps(line + slot, stored);
            _mm_storeu_ps(out + done, _mm_add_ps(_mm_mul_ps(stored, g), old));
            slot += 4;
            if (slot == length) slot = 0;
        }
    }
#endif
    while (done < frames) {
        const uint32_t run = std::min(frames - done, length - slot);
        runLine(in + done, out + done, line + slot, run, gain);
        done += run;
        slot += run;
        if (slot == length) slot = 0;
    }
    if (frames != 0) pos_ = static_cast<int32_t>(slot == 0 ? length - 1 : slot - 1);
}

void AllpassDelay::runLine(const float* in, float* out, float* line, uint32_t n, double gain) {
    uint32_t i = 0;
#if defined(__SSE2__)
    if (gain == 0.0) {
        // With a zero gain both products are zeros (or NaN from an infinite or NaN operand) and
        // both sums exact, in float as in double: the same bits at single precision.
        const __m128 g = _mm_set1_ps(static_cast<float>(gain));
        for (; i + 4 <= n; i += 4) {
            const __m128 old = _mm_loadu_ps(line + i);
            const __m128 stored = _mm_sub_ps(_mm_loadu_ps(in + i), _mm_mul_ps(old, g));
            _mm_storeu_ps(line + i, stored);
            _mm_storeu_ps(out + i, _mm_add_ps(_mm_mul_ps(stored, g), old));
        }
    }
    // Four samples per step in double lanes: the same operations and roundings as below.
    const __m128d g = _mm_set1_pd(gain);
    auto half = [g](__m128 x4, __m128 old4) {
        const __m128d x = _mm_cvtps_pd(x4);
        const __m128d old = _mm_cvtps_pd(old4);
        const __m128 stored = _mm_cvtpd_ps(_mm_sub_pd(x, _mm_mul_pd(old, g)));
        const __m128 result = _mm_cvtpd_ps(_mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(stored), g), old));
        return std::make_pair(stored, result);
    };
    for (; i + 4 <= n; i += 4) {
        const __m128 x = _mm_loadu_ps(in + i);
        const __m128 old = _mm_loadu_ps(line + i);
        const auto [storedLo, resultLo] = half(x, old);
        const auto [storedHi, resultHi] = half(_mm_movehl_ps(x, x), _mm_movehl_ps(old, old));
        _mm_storeu_ps(line + i, _mm_movelh_ps(storedLo, storedHi));
        _mm_storeu_ps(out + i, _mm_movelh_ps(resultLo, resultHi));
    }
#endif
    for (; i < n; ++i) {
        const float old = line[i];
        const float stored = static_cast<float>(in[i] - old * gain);
        line[i] = stored;
        out[i] = static_cast<float>(stored * gain + old);
    }
}

}  // namespace dsp
