#include "rate/rate_converter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>

#include "convert/convert.h"
#include "cpu/cpu.h"
#include "filters/cascade_lanes.h"
#include "memory/aligned_block.h"
#include "rate/fused_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dsp {

namespace {

constexpr int32_t kMaxFilterOrder = 64;  // bounds the design for extreme stopband/slope requests
constexpr int32_t kFusedSections = 4;    // cascades up to this long run inside the interpolation loop
constexpr uint32_t kGridLimit = 16384;   // largest chunk grid precomputed (rate factors up to 4)
constexpr uint32_t kFusedBlock = 1024;   // frames between checks of the filter state's magnitude

double acoshByLog(double x) { return std::log(x + std::sqrt(x * x - 1.0)); }

// Cubic convolution weights (a = -1) for a fraction in [0, 1): the four taps' |x| always fall
// in the same pieces (frac + 1 and 2 - frac in [1, 2], frac and 1 - frac in [0, 1], where both
// pieces give exactly 0 at the joins), so no branch is needed.
inline double innerWeight(double a) { return (1.0 - 2.0 * a * a) + a * a * a; }
inline double outerWeight(double a) { return ((4.0 - 8.0 * a) + 5.0 * a * a) - a * a * a; }

struct CubicWeights {
    double before, at, after, after2;  // for H[i-1], H[i], H[i+1], H[i+2]
    explicit CubicWeights(double frac)
        : before(outerWeight(std::fabs(frac + 1.0))),
          at(innerWeight(std::fabs(frac))),
          after(innerWeight(std::fabs(frac - 1.0))),
          after2(outerWeight(std::fabs(frac - 2.0))) {}
};

template <int C>
void linearChunk(const float* const s[], float* const d[], uint32_t inChunk, uint32_t outChunk, float step) {
    // Taps stay inside the chunk: idx is lowered to inChunk - 2 keeping the unlowered fraction
    // (the grid can overshoot near a chunk's end when going up by 2 or more, or on a short last
    // chunk going down); a one-frame chunk uses its frame for both taps.
    const uint32_t highest = inChunk >= 2 ? inChunk - 2 : 0;
    const uint32_t nextOffset = inChunk >= 2 ? 1 : 0;
    float pos = 0.0f;
    for (uint32_t j = 0; j + 1 < outChunk; ++j) {
        uint32_t idx = static_cast<uint32_t>(pos);
        const double frac = pos - std::floor(pos);
        if (idx > highest) idx = highest;
        for (int c = 0; c < C; ++c) {
            const double a = s[c][idx];
            const double b = s[c][idx + nextOffset];
            d[c][j] = static_cast<float>((b - a) * frac + a);
        }
        pos = pos + step;
    }
    if (outChunk != 0)
        for (int c = 0; c < C; ++c) d[c][outChunk - 1] = s[c][inChunk - 1];
}

// Cubic mode reads H, where H[k] is input sample k - 3 of the chunk. Index lowering as in
// linear mode, to inChunk - 1 (at least 1, so a one-frame chunk keeps H[i - 1] in range).
// Positions on the cubic grid: going up a float position rounded after each step, going down a
// double position advanced by the float step. next() gives the tap index and its fraction.
template <bool kUp>
struct CubicGrid {
    explicit CubicGrid(float s) : step(s) {}
    uint32_t next(double& frac) {
        uint32_t i;
        if (kUp) {
            i = static_cast<uint32_t>(posF);
            frac = posF - static_cast<float>(i);
            posF = posF + step;
        } else {
            i = static_cast<uint32_t>(posD);
            frac = posD - i;
            posD = posD + static_cast<double>(step);
        }
        return i;
    }
    float step;
    float posF = 1.0f;
    double posD = 1.0;
};

// Tap index and the four weights of each of `count` outputs, for the chunk loops to read.
template <class Grid>
void fillCubicGrid(Grid grid, uint32_t count, uint32_t* index, double* weights) {
    for (uint32_t j = 0; j < count; ++j) {
        double frac;
        index[j] = grid.next(frac);
        const CubicWeights w(frac);
        double* q = weights + 4 * size_t{j};
        q[0] = w.before;
        q[1] = w.at;
        q[2] = w.after;
        q[3] = w.after2;
    }
}

template <int C, bool kUp>
void cubicChunk(float* const h[], float* const d[], uint32_t inChunk, uint32_t outChunk, float step) {
    const uint32_t highest = std::max<uint32_t>(inChunk - 1, 1);
    CubicGrid<kUp> grid(step);
    for (uint32_t j = 0; j + 1 < outChunk; ++j) {
        double frac;
        uint32_t i = grid.next(frac);
        if (i > highest) i = highest;
        const CubicWeights w(frac);
        for (int c = 0; c < C; ++c) {
            const float* H = h[c];
            double v;
            if (kUp)
                v = ((w.before * H[i - 1] + w.after * H[i + 1]) + w.after2 * H[i + 2]) + w.at * H[i];
            else
                v = ((w.at * H[i] + w.after * H[i + 1]) + w.after2 * H[i + 2]) + w.before * H[i - 1];
            d[c][j] = static_cast<float>(v);
        }
    }
    if (outChunk != 0)
        for (int c = 0; c < C; ++c) d[c][outChunk - 1] = h[c][inChunk];
}

#if defined(__SSE2__)
// The stereo cubic chunk with the two channels in the lanes of one register: the same double
// operations in the same order as cubicChunk<2, kUp>, the weights computed two at a time.
// With `gridIndex`, the tap indices and weights come from the chunk grid (computed by the
// same arithmetic at set-up) instead of from the position.
template <bool kUp>
void cubicChunkPairSse2(float* const h[], double* wide, float* const d[], uint32_t inChunk, uint32_t outChunk,
                       float step, const uint32_t* gridIndex, const double* gridWeights) {
    const uint32_t highest = std::max<uint32_t>(inChunk - 1, 1);
    const float* L = h[0];
    const float* R = h[1];
    // Each history sample widened once, both channels side by side, instead of at every tap.
    for (uint32_t k = 0; k < inChunk + 3; ++k) {
        wide[2 * k] = L[k];
        wide[2 * k + 1] = R[k];
    }
    float* dL = d[0];
    float* dR = d[1];
    const __m128d signMask = _mm_set1_pd(-0.0);
    const __m128d outerOffset = _mm_set_pd(-2.0, 1.0);  // lanes: frac + 1, frac - 2
    const __m128d innerOffset = _mm_set_pd(-1.0, 0.0);  // lanes: frac, frac - 1
    const __m128d one = _mm_set1_pd(1.0), two = _mm_set1_pd(2.0), four = _mm_set1_pd(4.0);
    const __m128d five = _mm_set1_pd(5.0), eight = _mm_set1_pd(8.0);
    auto tap = [&](uint32_t k) { return _mm_loadu_pd(wide + 2 * size_t{k}); };
    CubicGrid<kUp> grid(step);
    auto interpolate = [&](uint32_t j, uint32_t i, __m128d before, __m128d at, __m128d after, __m128d after2) {
        if (i > highest) i = highest;
        const __m128d tBefore = tap(i - 1), tAt = tap(i), tAfter = tap(i + 1), tAfter2 = tap(i + 2);
        __m128d v;
        if (kUp)
            v = _mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(before, tBefore), _mm_mul_pd(after, tAfter)),
                                      _mm_mul_pd(after2, tAfter2)),
                           _mm_mul_pd(at, tAt));
        else
            v = _mm_add_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(at, tAt), _mm_mul_pd(after, tAfter)),
                                      _mm_mul_pd(after2, tAfter2)),
                           _mm_mul_pd(before, tBefore));
        const __m128 y = _mm_cvtpd_ps(v);
        dL[j] = _mm_cvtss_f32(y);
        dR[j] = _mm_cvtss_f32(_mm_shuffle_ps(y, y, 1));
    };
    uint32_t j = 0;
    if (gridIndex != nullptr) {
        for (; j + 1 < outChunk; ++j) {
            const __m128d w01 = _mm_loadu_pd(gridWeights + 4 * size_t{j});      // before, at
            const __m128d w23 = _mm_loadu_pd(gridWeights + 4 * size_t{j} + 2);  // after, after2
            interpolate(j, gridIndex[j], _mm_unpacklo_pd(w01, w01), _mm_unpackhi_pd(w01, w01),
                        _mm_unpacklo_pd(w23, w23), _mm_unpackhi_pd(w23, w23));
        }
    }
    for (; j + 1 < outChunk; ++j) {
        double frac;
        uint32_t i = grid.next(frac);
        const __m128d f = _mm_set1_pd(frac);
        // |frac + 1| (lane 0) and |frac - 2| (lane 1) on ((4 - 8a) + 5a a) - a a a.
        const __m128d ao = _mm_andnot_pd(signMask, _mm_add_pd(f, outerOffset));
        const __m128d aao = _mm_mul_pd(ao, ao);
        const __m128d outer = _mm_sub_pd(
            _mm_add_pd(_mm_sub_pd(four, _mm_mul_pd(eight, ao)), _mm_mul_pd(_mm_mul_pd(five, ao), ao)),
            _mm_mul_pd(aao, ao));
        // |frac| (lane 0) and |frac - 1| (lane 1) on (1 - 2a a) + a a a.
        const __m128d ai = _mm_andnot_pd(signMask, _mm_add_pd(f, innerOffset));
        const __m128d inner =
            _mm_add_pd(_mm_sub_pd(one, _mm_mul_pd(_mm_mul_pd(two, ai), ai)), _mm_mul_pd(_mm_mul_pd(ai, ai), ai));
        const __m128d before = _mm_unpacklo_pd(outer, outer);
        const __m128d after2 = _mm_unpackhi_pd(outer, outer);
        const __m128d at = _mm_unpacklo_pd(inner, inner);
        const __m128d after = _mm_unpackhi_pd(inner, inner);
        interpolate(j, i, before, at, after, after2);
    }
    if (outChunk != 0) {
        dL[outChunk - 1] = L[inChunk];
        dR[outChunk - 1] = R[inChunk];
    }
}
#endif

}  // namespace

RateConverter::~RateConverter() { release(); }

void RateConverter::release() {
    delete[] filtered_;
    delete[] history_;
    freeAlignedBlock(wide_);
    delete[] gridIndex_;
    delete[] gridWeights_;
    fused_ = false;
    gridReady_ = false;
    filtered_ = history_ = nullptr;
    wide_ = gridWeights_ = nullptr;
    gridIndex_ = nullptr;
    gridCapacity_ = 0;
    ready_ = false;
}

uint32_t RateConverter::getDstSize(uint32_t frames) const {
    if (srcRate_ == 0) return 0;  // a zero source rate yields nothing instead of dividing by 0
    const double n = std::trunc(static_cast<double>(dstRate_) * frames / srcRate_);
    return n >= 4294967295.0 ? 0xffffffffu : static_cast<uint32_t>(n);
}

uint32_t RateConverter::setup(uint32_t frames, uint32_t srcRate, uint32_t dstRate, uint32_t interpolation,
                              float stopbandDb, float slopeDbPerOctave, bool filterOn, float rippleDb) {
    srcRate_ = srcRate;
    dstRate_ = dstRate;
    interpolation_ = interpolation;
    filterOn_ = filterOn;
    if (!ready_ || capacity_ < frames) {
        release();
        // A failed allocation leaves the converter unusable: process() then writes nothing.
        filtered_ = new (std::nothrow) float[frames];
        history_ = new (std::nothrow) float[size_t{frames} + 3];
        // Read with aligned vector loads: operator new promises only 8 bytes on 32-bit Windows.
        wide_ = static_cast<double*>(alignedBlock(64, sizeof(double) * 2 * (size_t{std::min(frames, kChunkFrames)} + 3)));
        if (filtered_ == nullptr || history_ == nullptr || wide_ == nullptr) release();
    }
    capacity_ = frames;
    dstFrames_ = getDstSize(frames);
    direction_ = srcRate < dstRate ? 1 : (srcRate > dstRate ? -1 : 0);
    const uint32_t hi = std::max(srcRate, dstRate);
    const uint32_t lo = std::min(srcRate, dstRate);

    const double nyquist = lo * 0.5;
    const float cutoff = static_cast<float>(nyquist / std::pow(2.0, static_cast<double>(stopbandDb) / slopeDbPerOctave));
    const double k1 = std::sqrt((std::pow(10.0, stopbandDb * 0.1) - 1.0) / (std::pow(10.0, rippleDb * 0.1) - 1.0));
    const float r = static_cast<float>(nyquist / cutoff);
    const double order = std::trunc(acoshByLog(k1) / acoshByLog(r) + 1.0);
    // Parameters that give no usable order (non-positive stopband or slope, stopband within the
    // ripple) give order 0: the filter then passes the signal unchanged.
    const int32_t filterOrder = order >= 1.0 ? static_cast<int32_t>(std::min<double>(order, kMaxFilterOrder)) : 0;
    filter_.setOrder(filterOrder, kLowpass);
    filter_.designWithRipple(static_cast<float>(hi), cutoff, rippleDb);

    if (history_ != nullptr) {
        std::fill(history_, history_ + size_t{capacity_} + 3, 0.0f);
        ready_ = true;
    }
    prevChunkFrames_ = capacity_;
    buildGrid();
    return dstFrames_;
}

void RateConverter::buildGrid() {
    const uint32_t maxOut = getDstSize(kChunkFrames);
    const uint32_t count = maxOut != 0 ? maxOut - 1 : 0;
    const int32_t sections = filter_.sectionCount();
    fused_ = false;
    gridReady_ = false;
    // The fused loop needs the grid; the cubic chunks of the separate passes read it too.
    const bool fusable = filterOn_ && sections >= 1 && sections <= kFusedSections;
    if (!ready_ || direction_ == 0 || !(fusable || interpolation_ != 0) || count > kGridLimit) {
        return;  // the separate filter and interpolation passes serve these set-ups
    }
    if (gridCapacity_ < count + 1 || gridIndex_ == nullptr) {
        delete[] gridIndex_;
        delete[] gridWeights_;
        gridCapacity_ = 0;
        gridIndex_ = new (std::nothrow) uint32_t[count + 1];
        gridWeights_ = new (std::nothrow) double[4 * (size_t{count} + 1)];
        if (gridIndex_ == nullptr || gridWeights_ == nullptr) {
            delete[] gridIndex_;
            delete[] gridWeights_;
            gridIndex_ = nullptr;
            gridWeights_ = nullptr;
            return;  // no grid: the converter takes the separate filter and interpolation passes
        }
        gridCapacity_ = count + 1;
    }
    fused_ = fusable;
    gridReady_ = true;
    // The same position arithmetic as the chunk loops: a float position going up and in linear
    // mode, a double position with a float step in cubic mode going down.
    const float step = static_cast<float>(static_cast<double>(srcRate_) / dstRate_);
    if (interpolation_ == 0) {
        float pos = 0.0f;
        for (uint32_t j = 0; j < count; ++j) {
            gridIndex_[j] = static_cast<uint32_t>(pos);
            gridWeights_[j] = pos - std::floor(pos);
            pos = pos + step;
        }
        return;
    }
    if (direction_ > 0) fillCubicGrid(CubicGrid<true>(step), count, gridIndex_, gridWeights_);
    else fillCubicGrid(CubicGrid<false>(step), count, gridIndex_, gridWeights_);
}

template <int C>
void RateConverter::runChunks(RateConverter* const conv[], const float* const src[], float* const dst[],
                              uint32_t frames, uint32_t n) {
    const RateConverter& k = *conv[0];
    const float step = static_cast<float>(static_cast<double>(k.srcRate_) / k.dstRate_);
    const uint32_t maxOut = k.getDstSize(kChunkFrames);
    const uint32_t* grid = k.gridReady_ && k.interpolation_ != 0 ? k.gridIndex_ : nullptr;
    uint32_t remainingIn = frames, remainingOut = n, inAt = 0, outAt = 0;
    while (remainingIn != 0) {
        const uint32_t inChunk = std::min(remainingIn, kChunkFrames);
        const uint32_t outChunk = std::min(remainingOut, maxOut);
        const float* s[C];
        float* d[C];
        for (int c = 0; c < C; ++c) {
            s[c] = src[c] + inAt;
            d[c] = dst[c] + outAt;
        }
        if (k.interpolation_ == 0) {
            linearChunk<C>(s, d, inChunk, outChunk, step);
        } else {
            float* h[C];
            for (int c = 0; c < C; ++c) {
                RateConverter& cv = *conv[c];
                h[c] = cv.history_;
                const uint32_t p = cv.prevChunkFrames_;
                h[c][0] = h[c][p];  // in this order: correct also when p < 3 overlaps
                h[c][1] = h[c][p + 1];
                h[c][2] = h[c][p + 2];
                cv.prevChunkFrames_ = inChunk;
                std::memcpy(h[c] + 3, s[c], size_t{inChunk} * sizeof(float));
            }
#if defined(__SSE2__)
            if (C == 2) {
                if (k.direction_ > 0)
                    cubicChunkPairSse2<true>(h, conv[0]->wide_, d, inChunk, outChunk, step, grid, k.gridWeights_);
                else
                    cubicChunkPairSse2<false>(h, conv[0]->wide_, d, inChunk, outChunk, step, grid, k.gridWeights_);
            } else
#endif
            if (k.direction_ > 0) {
                cubicChunk<C, true>(h, d, inChunk, outChunk, step);
            } else {
                cubicChunk<C, false>(h, d, inChunk, outChunk, step);
            }
        }
        inAt += inChunk;
        outAt += outChunk;
        remainingIn -= inChunk;
        remainingOut -= outChunk;
    }
    // Full chunks each take trunc(4096 * dst / src) outputs, so over many chunks the block's
    // count can exceed what the chunks wrote by a few frames: those repeat the last output.
    for (int c = 0; c < C; ++c) {
        const float last = outAt != 0 ? dst[c][outAt - 1] : (frames != 0 ? src[c][frames - 1] : 0.0f);
        std::fill(dst[c] + outAt, dst[c] + n, last);
    }
}


// The conversion with the filter run inside the interpolation loop, so that the interpolation's
// arithmetic fills the time the recursive filter spends waiting on its own results. Bit for
// bit the computation of runChunks plus the separate filter pass: going up, each interpolated
// value is rounded to float and filtered; going down, each filtered input frame is rounded to
// float and becomes a tap once every frame an output reads is filtered (one block later).
// The fused loops run without flush-to-zero; a block whose filter state is decaying towards
// the denormal range goes through the separate passes instead (BiquadCascade::process, with
// flush-to-zero), which give the same outputs.
template <typename V, int kSections, bool kCubic, bool kUp>
void RateConverter::convertFused(RateConverter* const conv[], const float* const in[], float* const out[],
                                 uint32_t frames, uint32_t n) {
    using L = lanes::Lanes<V>;
    constexpr int C = L::kCount;
    RateConverter& k = *conv[0];
    BiquadArrays f[C];
    for (int c = 0; c < C; ++c) f[c] = conv[c]->filter_.arrays();
    auto separateFilter = [&](const float* const src[], float* const dst[], uint32_t len) {
        if (C == 2)
            BiquadCascade::processPair(conv[0]->filter_, src[0], dst[0], conv[C - 1]->filter_, src[C - 1],
                                       dst[C - 1], len);
        else
            conv[0]->filter_.process(src[0], dst[0], len);
    };
    auto offset = [](auto* const p[], uint32_t by, auto* q[]) {
        for (int c = 0; c < C; ++c) q[c] = p[c] + by;
    };
    lanes::Sections<V, kSections> sections;
    // Stereo pairs run the filter in 256-bit registers where the processor has them (same results).
    const bool wide = C == 2 && cpu::atLeast(cpu::Isa::Avx2);
    // Going up: outputs [from, to) of `value`, filtered, into d.
    auto filterProduced = [&](auto value, float* const d[], uint32_t from, uint32_t to) {
        for (uint32_t j0 = from; j0 < to; j0 += kFusedBlock) {
            const uint32_t j1 = std::min(to, j0 + kFusedBlock);
            if (!lanes::nearDenormal(f, C, kSections)) {
#if DSP_X86_KERNELS
                if constexpr (C == 2) {
                    if (wide) {
                        fused::avx2::filterUp<kSections>(f, j1 - j0, value, j0, d);
                        continue;
                    }
                }
#endif
                sections.load(f, 0);
                for (uint32_t j = j0; j < j1; ++j) L::store(d, j, sections.step(L::roundToFloat(value(j))));
                sections.save(f, 0);
            } else {
                for (uint32_t j = j0; j < j1; ++j) L::store(d, j, value(j));
                float* block[C];
                offset(d, j0, block);
                separateFilter(block, block, j1 - j0);
            }
        }
    };

    float* hist[C];
    for (int c = 0; c < C; ++c) hist[c] = conv[c]->history_;
    V* T = reinterpret_cast<V*>(k.wide_);
    const uint32_t base = kCubic ? 3 : 0;
    const uint32_t maxOut = k.getDstSize(kChunkFrames);
    uint32_t remainingIn = frames, remainingOut = n, inAt = 0, outAt = 0;
    V last = L::broadcast(0.0);
    while (remainingIn != 0) {
        const uint32_t inChunk = std::min(remainingIn, kChunkFrames);
        const uint32_t outChunk = std::min(remainingOut, maxOut);
        const float* s[C];
        float* d[C];
        offset(in, inAt, s);
        offset(out, outAt, d);
        if (kCubic) {
            const float* carried[C];
            for (int c = 0; c < C; ++c) carried[c] = conv[c]->history_ + conv[c]->prevChunkFrames_;
            for (uint32_t q = 0; q < 3; ++q) T[q] = L::load(carried, q);
        }
        const uint32_t highest =
            kCubic ? std::max<uint32_t>(inChunk - 1, 1) : (inChunk >= 2 ? inChunk - 2 : 0);
        const fused::GridValue<V, kCubic, kUp> value{T, k.gridIndex_, k.gridWeights_, highest, inChunk >= 2 ? 1u : 0u};
        const uint32_t grid = outChunk != 0 ? outChunk - 1 : 0;
        const uint32_t lastTap = kCubic ? inChunk : inChunk - 1;
        if (kUp) {
            for (uint32_t t = 0; t < inChunk; ++t) T[base + t] = L::load(s, t);
            filterProduced(value, d, 0, grid);
            if (outChunk != 0) {
                last = T[lastTap];
                filterProduced(fused::Repeat<V>{last}, d, grid, outChunk);
            }
        } else {
            uint32_t j = 0;
            for (uint32_t k0 = 0; k0 < inChunk; k0 += kFusedBlock) {
                const uint32_t len = std::min(kFusedBlock, inChunk - k0);
                uint32_t ready = j;  // outputs whose taps are all filtered already
                while (ready < grid && value.lastTap(ready) < base + k0) ++ready;
                V* taps = T + base + k0;
                const float* src[C];
                offset(s, k0, src);
                if (!lanes::nearDenormal(f, C, kSections)) {
#if DSP_X86_KERNELS
                    if constexpr (C == 2) {
                        if (wide) {
                            fused::avx2::filterDown<kSections>(f, len, src, taps, ready - j, value, j, d);
                            j = ready;
                            continue;
                        }
                    }
#endif
                    const uint32_t both = std::min(len, ready - j);
                    sections.load(f, 0);
                    for (uint32_t t = 0; t < both; ++t) {
                        taps[t] = L::roundToFloat(sections.step(L::load(src, t)));
                        L::store(d, j + t, value(j + t));
                    }
                    for (uint32_t t = both; t < len; ++t) taps[t] = L::roundToFloat(sections.step(L::load(src, t)));
                    sections.save(f, 0);
                    for (uint32_t t = both; t < ready - j; ++t) L::store(d, j + t, value(j + t));
                } else {
                    float* filtered[C];
                    for (int c = 0; c < C; ++c) filtered[c] = conv[c]->filtered_ + k0;
                    separateFilter(src, filtered, len);
                    const float* const* widened = filtered;
                    for (uint32_t t = 0; t < len; ++t) taps[t] = L::load(widened, t);
                    for (uint32_t jj = j; jj < ready; ++jj) L::store(d, jj, value(jj));
                }
                j = ready;
            }
            for (; j < grid; ++j) L::store(d, j, value(j));
            if (outChunk != 0) L::store(d, outChunk - 1, T[lastTap]);
        }
        if (kCubic) {
            // The last three entries of H carry over to the next chunk (at H[P], P = this chunk).
            for (uint32_t q = 0; q < 3; ++q) L::store(hist, inChunk + q, T[inChunk + q]);
            for (int c = 0; c < C; ++c) conv[c]->prevChunkFrames_ = inChunk;
        }
        inAt += inChunk;
        outAt += outChunk;
        remainingIn -= inChunk;
        remainingOut -= outChunk;
    }
    // Outputs past the chunks repeat the last one (going up, the last unfiltered value, filtered).
    if (kUp) {
        filterProduced(fused::Repeat<V>{last}, out, outAt, n);
    } else {
        for (int c = 0; c < C; ++c) std::fill(out[c] + outAt, out[c] + n, outAt != 0 ? out[c][outAt - 1] : 0.0f);
    }
}

template <int C>
bool RateConverter::convertFusedOf(RateConverter* const conv[], const float* const in[], float* const out[],
                                   uint32_t frames, uint32_t n) {
    using V = std::conditional_t<C == 2, lanes::Pair, double>;
    const RateConverter& k = *conv[0];
    if (!k.fused_) return false;
    const bool cubic = k.interpolation_ != 0, up = k.direction_ > 0;
    using Fn = void (*)(RateConverter* const[], const float* const[], float* const[], uint32_t, uint32_t);
    static constexpr Fn kTable[4][2][2] = {
        {{convertFused<V, 1, false, false>, convertFused<V, 1, false, true>},
         {convertFused<V, 1, true, false>, convertFused<V, 1, true, true>}},
        {{convertFused<V, 2, false, false>, convertFused<V, 2, false, true>},
         {convertFused<V, 2, true, false>, convertFused<V, 2, true, true>}},
        {{convertFused<V, 3, false, false>, convertFused<V, 3, false, true>},
         {convertFused<V, 3, true, false>, convertFused<V, 3, true, true>}},
        {{convertFused<V, 4, false, false>, convertFused<V, 4, false, true>},
         {convertFused<V, 4, true, false>, convertFused<V, 4, true, true>}},
    };
    const int32_t sections = k.filter_.sectionCount();
    if (sections < 1 || sections > kFusedSections) return false;
    kTable[sections - 1][cubic][up](conv, in, out, frames, n);
    return true;
}

template <int C>
void RateConverter::convert(RateConverter* const conv[], const float* const in[], float* const out[],
                            uint32_t frames, uint32_t n) {
    RateConverter& k = *conv[0];
    if (k.direction_ == 0) {
        for (int c = 0; c < C; ++c) copyBytes(in[c], out[c], frames * 4);
    } else if (convertFusedOf<C>(conv, in, out, frames, n)) {
        return;
    } else if (k.direction_ > 0) {
        runChunks<C>(conv, in, out, frames, n);
        if (k.filterOn_) {
            if (C == 2)
                BiquadCascade::processPair(conv[0]->filter_, out[0], out[0], conv[C - 1]->filter_, out[C - 1],
                                           out[C - 1], n);
            else
                k.filter_.process(out[0], out[0], n);
        }
    } else if (k.filterOn_) {
        const float* filtered[C];
        for (int c = 0; c < C; ++c) filtered[c] = conv[c]->filtered_;
        if (C == 2)
            BiquadCascade::processPair(conv[0]->filter_, in[0], conv[0]->filtered_, conv[C - 1]->filter_, in[C - 1],
                                       conv[C - 1]->filtered_, frames);
        else
            k.filter_.process(in[0], k.filtered_, frames);
        runChunks<C>(conv, filtered, out, frames, n);
    } else {
        runChunks<C>(conv, in, out, frames, n);
    }
}

uint32_t RateConverter::process(const float* in, float* out, uint32_t frames) {
    if (!ready_) return 0;
    frames = std::min(frames, capacity_);
    const uint32_t n = getDstSize(frames);
    RateConverter* conv[1] = {this};
    const float* src[1] = {in};
    float* dst[1] = {out};
    convert<1>(conv, src, dst, frames, n);
    return n;
}

bool RateConverter::pairsWith(const RateConverter& o) const {
    return ready_ && o.ready_ && srcRate_ == o.srcRate_ && dstRate_ == o.dstRate_ &&
           capacity_ == o.capacity_ && interpolation_ == o.interpolation_ && filterOn_ == o.filterOn_ &&
           prevChunkFrames_ == o.prevChunkFrames_ && filter_.sectionCount() == o.filter_.sectionCount();
}

uint32_t RateConverter::processPair(RateConverter& a, const float* inA, float* outA, RateConverter& b,
                                    const float* inB, float* outB, uint32_t frames) {
    if (!a.pairsWith(b)) {
        const uint32_t n = a.process(inA, outA, frames);
        b.process(inB, outB, frames);
        return n;
    }
    frames = std::min(frames, a.capacity_);
    const uint32_t n = a.getDstSize(frames);
    RateConverter* conv[2] = {&a, &b};
    const float* src[2] = {inA, inB};
    float* dst[2] = {outA, outB};
    convert<2>(conv, src, dst, frames, n);
    return n;
}

}  // namespace dsp
