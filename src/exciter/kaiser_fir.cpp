#include "exciter/kaiser_fir.h"

#include <cmath>
#include <type_traits>

#include "cpu/cpu.h"
#include "exciter/fir16_kernels.h"

namespace dsp {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

// Modified Bessel function of the first kind, order 0: twenty terms of its power series.
double besselI0(double z) {
    double sum = 1.0;
    double term = 1.0;
    for (int m = 1; m <= 19; ++m) {
        term *= z * 0.5 / m;
        sum += term * term;
    }
    return sum;
}

}  // namespace

void KaiserFir::setup(float attenuationDb, int32_t taps, uint32_t type) {
    if (taps < 2) taps = 2;  // a one-tap rotation table would be meaningless; keep it defined
    type_ = type;
    attenuationDb_ = attenuationDb;
    if (!ready_ || taps_ < taps) {
        const auto n = static_cast<std::size_t>(taps);
        const bool ok = coef_.allocate(n + 1) && rows_.allocate(n * n) && response_.allocate(n / 2 + 1) &&
                        history_.allocate(n) && window_.allocate(n / 2 + 1);
        if (!ok) {  // out of memory: stay unallocated, process() then passes silence through
            ready_ = false;
            taps_ = 0;
            return;
        }
    }
    taps_ = taps;
    lanesReady_ = false;
    if (taps == 16 && (lanes4_.size() < 16 * 16 * 4 || lanes2_.size() < 16 * 16 * 2 || lanes8_.size() < 16 * 16 * 8)) {
        // Without the tables the one-output-at-a-time kernels serve (same results).
        if (!(lanes4_.allocate(16 * 16 * 4) && lanes2_.allocate(16 * 16 * 2) && lanes8_.allocate(16 * 16 * 8)))
            lanes4_.allocate(0);
    }
    history_.clear();
    writePos_ = 0;
    mask_ = static_cast<uint32_t>(taps) - 1;
    half_ = static_cast<uint32_t>(taps) / 2;

    const double a = attenuationDb;
    double beta = 0.0;
    if (a >= 50.0)
        beta = 0.1102 * (a - 8.7);
    else if (a >= 21.0)
        beta = 0.5842 * std::pow(a - 21.0, 0.4) + 0.07886 * (a - 21.0);
    const double norm = besselI0(beta);
    for (uint32_t k = 0; k <= half_; ++k) {
        const double x = 2.0 * k / taps;
        window_[k] = besselI0(beta * std::sqrt(1.0 - x * x)) / norm;
    }
    ready_ = true;
}

void KaiserFir::designBand(float rate, float f1, float f2) {
    if (!ready_) return;
    rate_ = rate;
    const double r = rate;
    float fc = f1;
    if (type_ == kHighpass)
        fc = static_cast<float>(r * 0.5 - f1);
    else if (type_ == kBandpass || type_ == kBandstop)
        fc = static_cast<float>((static_cast<double>(f2) - f1) * 0.5);
    bandCutoff_ = fc;

    // Windowed sinc lowpass prototype, one side (the taps are symmetric).
    response_[0] = 2.0 * fc / r;
    for (uint32_t k = 1; k <= half_; ++k)
        response_[k] = std::sin(k * static_cast<double>(fc) * kTwoPi / r) * (1.0 / (k * kPi)) * window_[k];
    // Unit gain at 0 Hz.
    double sum = response_[0];
    for (uint32_t k = 1; k <= half_; ++k) sum += 2.0 * response_[k];
    for (uint32_t k = 0; k <= half_; ++k) response_[k] /= sum;

    if (type_ == kHighpass) {
        for (uint32_t k = 0; k <= half_; ++k) response_[k] *= std::cos(k * kPi);
    } else if (type_ == kBandpass || type_ == kBandstop) {
        const float w0 = static_cast<float>((static_cast<double>(f1) + f2) * kPi / r);
        if (type_ == kBandpass) {
            for (uint32_t k = 0; k <= half_; ++k) response_[k] = 2.0 * std::cos(k * static_cast<double>(w0)) * response_[k];
        } else {
            response_[0] = 1.0 - 2.0 * response_[0];
            for (uint32_t k = 1; k <= half_; ++k)
                response_[k] = -2.0 * std::cos(k * static_cast<double>(w0)) * response_[k];
        }
    }

    for (uint32_t j = 0; j < half_; ++j) coef_[j] = static_cast<float>(response_[half_ - j]);
    for (uint32_t j = 0; j <= half_; ++j) coef_[half_ + j] = static_cast<float>(response_[j]);

    const uint32_t n = static_cast<uint32_t>(taps_);
    for (uint32_t row = 0; row < n; ++row)
        for (uint32_t c = 0; c < n; ++c) rows_[row * n + c] = coef_[((c - row) & mask_) + 1];
    log2Taps_ = static_cast<int32_t>(std::log2(static_cast<double>(taps_)));

    lanesReady_ = n == 16 && lanes4_.size() >= 16 * 16 * 4 && lanes2_.size() >= 16 * 16 * 2 &&
                  lanes8_.size() >= 16 * 16 * 8;
    if (lanesReady_)
        for (uint32_t p = 0; p < 16; ++p)
            for (uint32_t t = 0; t < 16; ++t)
                for (uint32_t j = 0; j < 8; ++j) {
                    const float c = coef_[((t - p + j) & 15) + 1];
                    lanes8_[(p * 16 + t) * 8 + j] = c;
                    if (j < 4) lanes4_[(p * 16 + t) * 4 + j] = c;
                    if (j < 2) lanes2_[(p * 16 + t) * 2 + j] = c;
                }
}

void KaiserFir::reset() {
    if (!ready_) return;
    history_.clear();
    writePos_ = 0;
}

void KaiserFir::process(const float* in, float* out, uint32_t frames) { process(activeVariant(), in, out, frames); }

namespace {

// One output per input through the rotated rows. Dot picks the sum: the double-precision
// reference or one of the single-precision vector forms.
struct ReferenceDot {};
struct Dot3dnow {};
struct DotSse16 {};
struct DotSse8 {};

template <class Dot>
void runFir(const float* in, float* out, uint32_t frames, const float* rows, float* history, uint32_t n,
            uint32_t mask, float c0, uint32_t& writePos) {
    uint32_t pos = writePos;
    for (uint32_t i = 0; i < frames; ++i) {
        const float x = in[i];
        const float* row = rows + pos * n;
        float y;
        if constexpr (std::is_same_v<Dot, ReferenceDot>) {
            double acc = static_cast<double>(x) * c0;
            for (uint32_t t = 0; t < n; ++t) acc += static_cast<double>(history[t]) * row[t];
            y = static_cast<float>(acc);
        } else {
            float sum;
            if constexpr (std::is_same_v<Dot, Dot3dnow>)
                sum = kernels::dot3dnow(history, row, n);
            else if constexpr (std::is_same_v<Dot, DotSse16>)
                sum = kernels::dotSse16(history, row);
            else
                sum = kernels::dotSse8(history, row, n);
            const float direct = x * c0;
            y = sum + direct;
        }
        pos = (pos - 1) & mask;
        history[pos] = x;
        out[i] = y;
    }
    writePos = pos;
}


}  // namespace

void KaiserFir::process(ResultVariant variant, const float* in, float* out, uint32_t frames) {
    if (!ready_) {
        for (uint32_t i = 0; i < frames; ++i) out[i] = 0.0f;
        return;
    }
    const uint32_t n = static_cast<uint32_t>(taps_);
    // The vector forms need whole steps over the taps; other tap counts use the reference.
    if (variant == ResultVariant::Amd3dnow && n % 4 != 0) variant = ResultVariant::Reference;
    if (variant == ResultVariant::Sse && n % 8 != 0) variant = ResultVariant::Reference;
    const float c0 = coef_[0];
    float* history = history_.data();
#if DSP_X86_KERNELS
    // 16 taps: one output per lane, in the widest registers cpu::level() allows (same results).
    if (lanesReady_ && n == 16 && cpu::atLeast(cpu::Isa::Sse2)) {
        const bool avx2 = cpu::atLeast(cpu::Isa::Avx2);
        uint32_t done;
        if (variant == ResultVariant::Amd3dnow) {
            const kernels::ThreeDNowArithmetic flush;
            done = avx2 ? fir16::avx2::amd3dnowResults(in, out, frames, lanes8_.data(), history, c0, writePos_) : 0;
            done += fir16::sse2::amd3dnowResults(in + done, out + done, frames - done, lanes4_.data(), history, c0,
                                                 writePos_);
        } else if (variant == ResultVariant::Sse) {
            done = avx2 ? fir16::avx2::sseResults(in, out, frames, lanes8_.data(), history, c0, writePos_) : 0;
            done += fir16::sse2::sseResults(in + done, out + done, frames - done, lanes4_.data(), history, c0,
                                            writePos_);
        } else {
            done = fir16::sse2::referenceResults(in, out, frames, lanes2_.data(), history, c0, writePos_);
        }
        in += done;
        out += done;
        frames -= done;
    }
#endif
    switch (variant) {
        case ResultVariant::Amd3dnow: {
            const kernels::ThreeDNowArithmetic flush;
            runFir<Dot3dnow>(in, out, frames, rows_.data(), history, n, mask_, c0, writePos_);
            break;
        }
        case ResultVariant::Sse:
            if (n == 16)
                runFir<DotSse16>(in, out, frames, rows_.data(), history, n, mask_, c0, writePos_);
            else
                runFir<DotSse8>(in, out, frames, rows_.data(), history, n, mask_, c0, writePos_);
            break;
        default:
            runFir<ReferenceDot>(in, out, frames, rows_.data(), history, n, mask_, c0, writePos_);
    }
}

}  // namespace dsp
