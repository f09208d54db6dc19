// The engine's per-sample definitions written out plainly (circular delay line, curve walk from
// the previous point, FIR over the rotated history with each variant's summation order), and
// the production components held to them bit for bit over awkward inputs and block splits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "exciter/allpass_delay.h"
#include "exciter/kaiser_fir.h"
#include "exciter/transfer_curve.h"
#include "support/levels.h"
#include "support/signals.h"

namespace {

using dsp::ResultVariant;

uint32_t bitsOf(float v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    return u;
}

// Block lengths that cut a stream at awkward places: 1, primes, a run longer than any line.
std::vector<uint32_t> splits(std::size_t total, uint32_t seed) {
    std::mt19937 gen(seed);
    const uint32_t sizes[] = {1, 2, 3, 5, 7, 13, 16, 17, 31, 64, 100};
    std::vector<uint32_t> out;
    for (std::size_t done = 0; done < total;) {
        const uint32_t n = std::min<uint32_t>(sizes[gen() % 11], static_cast<uint32_t>(total - done));
        out.push_back(n);
        done += n;
    }
    return out;
}

// ---- Delay line ------------------------------------------------------------------------------

struct PlainDelay {
    std::vector<float> line;
    int pos = 0;
    double gain;
    PlainDelay(int length, float g) : line(length, 0.0f), gain(g) {}
    float step(float x) {
        pos = (pos + 1) % static_cast<int>(line.size());
        const float old = line[pos];
        line[pos] = static_cast<float>(x - old * gain);
        return static_cast<float>(line[pos] * gain + old);
    }
};

struct DelayCase {
    int length;
    float gain;
    bool inPlace;
};

class DelayExactness : public ::testing::TestWithParam<DelayCase> {};

TEST_P(DelayExactness, MatchesTheCircularLineSampleBySample) {
    const auto [length, gain, inPlace] = GetParam();
    dsp::AllpassDelay delay;
    delay.setup(length, gain);
    PlainDelay plain(length, gain);
    std::vector<float> x = dsptest::noise(1500, 40u + length, 0.9f);
    x[3] = -0.0f;  // signed zeros through a gain that is zero
    x[4] = 0.0f;
    if (gain == 0.0f) {  // with a zero gain a NaN or infinity stays in its own slot of the line
        x[700] = std::numeric_limits<float>::infinity();
        x[903] = -std::numeric_limits<float>::quiet_NaN();
        x[1101] = 1e-41f;
    }
    std::vector<float> y(x.size());
    std::size_t at = 0;
    for (uint32_t n : splits(x.size(), 9u + length)) {
        if (inPlace) {
            std::copy(x.begin() + at, x.begin() + at + n, y.begin() + at);
            delay.process(y.data() + at, y.data() + at, n);
        } else {
            delay.process(x.data() + at, y.data() + at, n);
        }
        at += n;
    }
    for (std::size_t i = 0; i < x.size(); ++i) {
        const float want = plain.step(x[i]);
        ASSERT_EQ(bitsOf(y[i]), bitsOf(want)) << "i " << i << " expected " << want << " actual " << y[i];
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, DelayExactness,
                         ::testing::Values(DelayCase{1, 0.0f, false}, DelayCase{16, 0.0f, true},
                                           DelayCase{5, 0.37f, false}, DelayCase{8, -0.61f, true}));

// ---- Transfer curve --------------------------------------------------------------------------

// The walk along the list from the point the previous sample used.
struct PlainCurve {
    const dsp::CurvePoint* cursor;
    float apply(float v) {
        const float a = std::fabs(v);
        const dsp::CurvePoint* p = cursor;
        while (p->next && a >= p->next->x) p = p->next;
        while (p->prev && a < p->x) p = p->prev;
        cursor = p;
        const float y = p->next ? static_cast<float>((static_cast<double>(a) - p->x) * p->slope + p->y) : p->y;
        return v >= 0.0f ? y : -y;
    }
};

TEST(CurveExactness, IndexedLookupEqualsTheWalkForEveryKindOfInput) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (dsp::cpu::Isa level : dsptest::levels())  // gathers at AVX2 and above
    for (float h : {0.3f, 0.0f, -0.45f, 0.69f}) {
        const dsp::cpu::ForceLevel force(level);
        dsp::TransferCurve curve;
        curve.buildFromHarmonics(h);
        const dsp::CurvePoint* last = curve.first();
        while (last->next) last = last->next;
        PlainCurve plain{last};  // a new curve starts its lookups at the last point
        // NaN first (cursor on the last point), then every breakpoint, its neighbours, the ends,
        // noise jumping around, and NaN again after an ordinary sample.
        std::vector<float> x = {nan, -nan, 0.5f, nan, 1.0f, nan, -0.0f, 0.0f, inf, -inf, 1e-40f, -1e-40f};
        for (const dsp::CurvePoint* p = curve.first(); p; p = p->next)
            for (float v : {p->x, std::nextafter(p->x, 0.0f), std::nextafter(p->x, 2.0f)}) {
                x.push_back(v);
                x.push_back(-v);
            }
        const std::vector<float> wide = dsptest::noise(3000, 77, 1.3f);
        x.insert(x.end(), wide.begin(), wide.end());
        // A NaN after saturated and ordinary samples at every alignment: its output depends on
        // whether the previous lookup ended on the last point.
        for (int r = 0; r < 40; ++r) {
            x.push_back(r % 3 == 0 ? -1.5f : 0.25f);
            if (r % 5 == 1 || r % 7 == 2) x.push_back(nan);
        }
        x.push_back(nan);
        std::vector<float> y(x.size());
        std::size_t at = 0;
        for (uint32_t n : splits(x.size(), 5)) {
            curve.applyCurve(x.data() + at, y.data() + at, n);
            at += n;
        }
        for (std::size_t i = 0; i < x.size(); ++i) {
            const float want = plain.apply(x[i]);
            ASSERT_EQ(bitsOf(y[i]), bitsOf(want)) << dsp::cpu::name(level) << " h " << h << " i " << i << " x " << x[i] << " expected " << want
                                                  << " actual " << y[i];
        }
    }
}

// ---- FIR ---------------------------------------------------------------------------------------

// One output at a time over the circular history, newest sample at the write position, with
// each form's summation: the reference in double in slot order; 3DNow! one running float sum
// per lane (slot mod 4) from zero, then (l0 + l2) + (l1 + l3); SSE for 16 taps the four slots of
// each lane added pairwise, then across lanes in the same way. Then + x * c0 in float.
struct PlainFir {
    const float* coef;
    int taps;
    ResultVariant set;
    std::vector<float> history;
    uint32_t pos = 0;
    float step(float x) {
        const uint32_t mask = static_cast<uint32_t>(taps) - 1;
        auto product = [&](uint32_t t) { return history[t] * coef[((t - pos) & mask) + 1]; };
        float y;
        if (set == ResultVariant::Reference) {
            double acc = static_cast<double>(x) * coef[0];
            for (uint32_t t = 0; t < static_cast<uint32_t>(taps); ++t)
                acc += static_cast<double>(history[t]) * coef[((t - pos) & mask) + 1];
            y = static_cast<float>(acc);
        } else {
            float lane[4];
            for (uint32_t l = 0; l < 4; ++l) {
                if (set == ResultVariant::Sse) {
                    const float a = product(l) + product(4 + l);
                    const float b = product(8 + l) + product(12 + l);
                    lane[l] = a + b;
                } else {
                    lane[l] = 0.0f;
                    for (uint32_t t = l; t < static_cast<uint32_t>(taps); t += 4) lane[l] = lane[l] + product(t);
                }
            }
            const float sum = (lane[0] + lane[2]) + (lane[1] + lane[3]);
            const float direct = x * coef[0];
            y = sum + direct;
        }
        pos = (pos - 1) & mask;
        history[pos] = x;
        return y;
    }
};

class FirExactness : public ::testing::TestWithParam<ResultVariant> {};

TEST_P(FirExactness, SixteenTapsMatchTheOneOutputAtATimeSums) {
    const ResultVariant set = GetParam();
    for (dsp::cpu::Isa level : dsptest::levels())  // one output at a time, four, eight lanes
    for (bool inPlace : {false, true}) {
        const dsp::cpu::ForceLevel force(level);
        dsp::KaiserFir fir;
        fir.setup(100.0f, 16, dsp::KaiserFir::kHighpass);
        fir.designBand(48000.0f, 11025.0f, 0.0f);
        PlainFir plain{fir.coefficients(), 16, set, std::vector<float>(16, 0.0f)};
        std::vector<float> x = dsptest::noise(3000, 31, 0.9f);
        // Denormal inputs and products, which the 3DNow! form flushes.
        for (std::size_t i = 2000; i < 2040; ++i) x[i] = 1e-39f * static_cast<float>(i % 7);
        std::vector<float> y(x.size());
        std::size_t at = 0;
        for (uint32_t n : splits(x.size(), 17)) {
            if (n % 3 == 0 && at > 500) fir.designBand(48000.0f, 2000.0f + at, 0.0f);  // redesign keeps history
            if (n % 3 == 0 && at > 500) plain.coef = fir.coefficients();
            if (inPlace) {
                std::copy(x.begin() + at, x.begin() + at + n, y.begin() + at);
                fir.process(set, y.data() + at, y.data() + at, n);
            } else {
                fir.process(set, x.data() + at, y.data() + at, n);
            }
            for (std::size_t i = at; i < at + n; ++i) {
                float want;
                if (set == ResultVariant::Amd3dnow) {
                    const dsp::kernels::ThreeDNowArithmetic flush;
                    want = plain.step(x[i]);
                } else {
                    want = plain.step(x[i]);
                }
                ASSERT_EQ(bitsOf(y[i]), bitsOf(want)) << dsp::cpu::name(level) << " in place " << inPlace << " i " << i << " expected " << want
                                                      << " actual " << y[i];
            }
            at += n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, FirExactness, ::testing::Values(ResultVariant::Reference, ResultVariant::Amd3dnow, ResultVariant::Sse));

}  // namespace
