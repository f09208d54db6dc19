// The harmonic synthesis engine's parts: Kaiser designs against scipy, and each part held bit for
// bit to its per-sample definition written out plainly (circular delay line, curve walk from the
// previous point and the Bezier it samples, FIR sums in each variant's order, element-wise
// kernels) over awkward inputs and block splits.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <vector>

#include "exciter/allpass_delay.h"
#include "exciter/harmonics_kernels.h"
#include "exciter/kaiser_fir.h"
#include "exciter/transfer_curve.h"
#include "support/levels.h"
#include "support/signals.h"

namespace {

using dsp::ResultVariant;
using dsptest::noise;

constexpr double kPi = 3.141592653589793;
const float kNan = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// x through process(in, out, n) in blocks cut at awkward places (1, primes, runs longer than any
// line), in place or into a separate buffer.
template <class Process>
std::vector<float> inPieces(const std::vector<float>& x, uint32_t seed, bool inPlace, Process process) {
    std::mt19937 gen(seed);
    const uint32_t sizes[] = {1, 2, 3, 5, 7, 13, 16, 17, 31, 64, 100};
    std::vector<float> y(x.size());
    if (inPlace) y = x;
    for (std::size_t at = 0; at < x.size();) {
        const uint32_t n = std::min<uint32_t>(sizes[gen() % 11], static_cast<uint32_t>(x.size() - at));
        process((inPlace ? y : x).data() + at, y.data() + at, n);
        at += n;
    }
    return y;
}

struct KaiserRef {
    const char* name;
    unsigned type;
    int taps;
    float attenuationDb, f1, f2;
    std::vector<double> coef, magnitude;  // taps + 1 coefficients, |H| at kKaiserRefFreqs
};

#include "exciter/kaiser_refs.inc"

TEST(KaiserDesign, CoefficientsAndResponseMatchScipy) {
    for (const KaiserRef& ref : kKaiserRefs) {
        dsp::KaiserFir fir;
        fir.setup(ref.attenuationDb, ref.taps, ref.type);
        fir.designBand(static_cast<float>(kKaiserRefRate), ref.f1, ref.f2);
        const float* c = fir.coefficients();
        for (int k = 0; k <= ref.taps; ++k) {
            EXPECT_NEAR(c[k], ref.coef[k], 2e-7 + 1e-6 * std::fabs(ref.coef[k])) << ref.name << " tap " << k;
            EXPECT_EQ(c[k], c[ref.taps - k]) << ref.name << " symmetry at tap " << k;
        }
        for (std::size_t i = 0; i < kKaiserRefFreqs.size(); ++i) {
            const double w = 2.0 * kPi * kKaiserRefFreqs[i] / kKaiserRefRate;
            std::complex<double> h = 0.0;
            for (int k = 0; k <= ref.taps; ++k) h += static_cast<double>(c[k]) * std::polar(1.0, -w * k);
            EXPECT_NEAR(std::abs(h), ref.magnitude[i], 2e-6) << ref.name << " at " << kKaiserRefFreqs[i] << " Hz";
        }
    }
}

float applyOne(dsp::TransferCurve& curve, float x) {
    float y;
    curve.applyCurve(&x, &y, 1);
    return y;
}

// y on the quadratic Bezier (0,0) - (cx,cy) - (1,1) at abscissa x, by solving x(t) = x for t.
double bezierAt(double h, double x) {
    const double cx = 0.5 - std::cos(kPi / 4) * h, cy = 0.5 + std::sin(kPi / 4) * h;
    const double a = 1.0 - 2.0 * cx, b = 2.0 * cx;  // x(t) = a t^2 + b t
    const double t = std::fabs(a) < 1e-12 ? x / b : (-b + std::sqrt(b * b + 4.0 * a * x)) / (2.0 * a);
    return 2.0 * (1.0 - t) * cy * t + t * t;
}

TEST(TransferCurve, PointsAtTheEndsOrAtExistingAbscissasAreIgnored) {
    dsp::TransferCurve curve;
    curve.setup();
    EXPECT_EQ(curve.addPoint(0.5f, 0.8f), 3);
    for (float x : {0.0f, 1.0f, 1.7f, -0.4f, 0.5f}) EXPECT_EQ(curve.addPoint(x, 0.1f), 3) << x;
    // The kept curve: (0,0) - (0.5,0.8) - (1,1), y clamped to [-1, 1] when given.
    for (auto [x, y] : {std::pair{0.25f, 0.4f}, {0.5f, 0.8f}, {0.75f, 0.9f}, {-0.25f, -0.4f}})
        EXPECT_FLOAT_EQ(applyOne(curve, x), y) << x;
    EXPECT_EQ(curve.addPoint(0.9f, 7.0f), 4);
    EXPECT_EQ(applyOne(curve, 0.9f), 1.0f);
}

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

// Bit for bit the walk; inside full scale within sampling error of the Bezier the curve samples,
// at and beyond it saturated.
TEST(CurveExactness, IndexedLookupEqualsTheWalkForEveryKindOfInput) {
    for (dsp::cpu::Isa level : dsptest::levels())  // gathers at AVX2 and above
    for (float h : {0.1f, 0.3f, -0.2f, 0.0f, 0.45f, -0.45f, 0.69f}) {
        const dsp::cpu::ForceLevel force(level);
        dsp::TransferCurve curve;
        curve.buildFromHarmonics(h);
        const dsp::CurvePoint* last = curve.first();
        while (last->next) last = last->next;
        PlainCurve plain{last};  // a new curve starts its lookups at the last point
        // NaN first (cursor on the last point), then every breakpoint, its neighbours, the ends,
        // noise jumping around, and NaN again after an ordinary sample.
        std::vector<float> x = {kNan, -kNan, 0.5f, kNan, 1.0f, kNan, -0.0f, 0.0f, kInf, -kInf, 1e-40f, -1e-40f};
        for (const dsp::CurvePoint* p = curve.first(); p; p = p->next)
            for (float v : {p->x, std::nextafter(p->x, 0.0f), std::nextafter(p->x, 2.0f)}) x.insert(x.end(), {v, -v});
        const std::vector<float> wide = noise(3000, 77, 1.3f);
        x.insert(x.end(), wide.begin(), wide.end());
        // A NaN after saturated and ordinary samples at every alignment: its output depends on
        // whether the previous lookup ended on the last point.
        for (int r = 0; r < 40; ++r) {
            x.push_back(r % 3 == 0 ? -1.5f : 0.25f);
            if (r % 5 == 1 || r % 7 == 2) x.push_back(kNan);
        }
        x.push_back(kNan);
        const std::vector<float> y =
            inPieces(x, 5, false, [&](const float* in, float* out, uint32_t n) { curve.applyCurve(in, out, n); });
        for (std::size_t i = 0; i < x.size(); ++i) {
            const float want = plain.apply(x[i]);
            ASSERT_TRUE(sameBits(y[i], want))
                << dsp::cpu::name(level) << " h " << h << " i " << i << " x " << x[i] << " expected " << want;
            const double a = std::fabs(x[i]), bezier = a < 1.0 ? bezierAt(h, a) : 1.0;  // saturated from 1
            ASSERT_TRUE(std::isnan(a) || std::fabs(std::fabs(y[i]) - bezier) <= (a < 1.0 ? 2e-3 : 0.0))
                << "h " << h << " x " << x[i] << " y " << y[i] << " Bezier " << bezier;
        }
    }
}

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

// Lengths with a zero gain (whose runs take the vector path) and with others, in place or not.
TEST(DelayExactness, MatchesTheCircularLineSampleBySample) {
    const struct {
        int length;
        float gain;
        bool inPlace;
    } cases[] = {{1, 0.0f, false}, {16, 0.0f, true}, {5, 0.37f, false}, {8, -0.61f, true}};
    for (const auto& [length, gain, inPlace] : cases) {
        dsp::AllpassDelay delay;
        delay.setup(length, gain);
        PlainDelay plain(length, gain);
        std::vector<float> x = noise(1500, 40u + length, 0.9f);
        x[3] = -0.0f;  // signed zeros through a gain that is zero
        x[4] = 0.0f;
        if (gain == 0.0f) {  // with a zero gain a NaN or infinity stays in its own slot of the line
            x[700] = kInf;
            x[903] = -kNan;
            x[1101] = 1e-41f;
        }
        const auto process = [&](const float* in, float* out, uint32_t n) { delay.process(in, out, n); };
        const std::vector<float> y = inPieces(x, 9u + length, inPlace, process);
        for (std::size_t i = 0; i < x.size(); ++i) {
            const float want = plain.step(x[i]);
            ASSERT_TRUE(sameBits(y[i], want)) << "length " << length << " i " << i << " expected " << want
                                              << " actual " << y[i];
        }
    }
}

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
                    lane[l] = (product(l) + product(4 + l)) + (product(8 + l) + product(12 + l));
                } else {
                    lane[l] = 0.0f;
                    for (uint32_t t = l; t < static_cast<uint32_t>(taps); t += 4) lane[l] = lane[l] + product(t);
                }
            }
            y = ((lane[0] + lane[2]) + (lane[1] + lane[3])) + x * coef[0];
        }
        pos = (pos - 1) & mask;
        history[pos] = x;
        return y;
    }
};

TEST(FirExactness, SixteenTapsMatchTheOneOutputAtATimeSums) {
    for (ResultVariant set : {ResultVariant::Reference, ResultVariant::Amd3dnow, ResultVariant::Sse})
    for (dsp::cpu::Isa level : dsptest::levels())  // one output at a time, four, eight lanes
    for (bool inPlace : {false, true}) {
        const dsp::cpu::ForceLevel force(level);
        dsp::KaiserFir fir;
        fir.setup(100.0f, 16, dsp::KaiserFir::kHighpass);
        fir.designBand(48000.0f, 11025.0f, 0.0f);
        PlainFir plain{fir.coefficients(), 16, set, std::vector<float>(16, 0.0f)};
        std::vector<float> x = noise(3000, 31, 0.9f);
        // Denormal inputs and products, which the 3DNow! form flushes.
        for (std::size_t i = 2000; i < 2040; ++i) x[i] = 1e-39f * static_cast<float>(i % 7);
        std::size_t at = 0;
        inPieces(x, 17, inPlace, [&](const float* in, float* out, uint32_t n) {
            if (HasFailure()) return;  // one report, not one per block
            if (n % 3 == 0 && at > 500) {  // a redesign keeps the history
                fir.designBand(48000.0f, 2000.0f + at, 0.0f);
                plain.coef = fir.coefficients();
            }
            fir.process(set, in, out, n);
            std::optional<dsp::kernels::ThreeDNowArithmetic> flush;
            if (set == ResultVariant::Amd3dnow) flush.emplace();
            for (uint32_t i = 0; i < n; ++i, ++at) {
                const float want = plain.step(x[at]);
                ASSERT_TRUE(sameBits(out[i], want))
                    << int(set) << " at " << dsp::cpu::name(level) << " in place " << inPlace << " i " << at
                    << " expected " << want;
            }
        });
        if (HasFailure()) return;
    }
}

// Subtraction is exact before its one rounding in every form. The vector forms round gain * src
// before adding, over whole steps only (3DNow! of 4, SSE of 8); the reference rounds once. The
// gain makes the two differ for many operands, which shows exactly which elements each covers.
TEST(ElementKernels, MatchThePlainArithmeticOfEachForm) {
    for (ResultVariant set : {ResultVariant::Reference, ResultVariant::Amd3dnow, ResultVariant::Sse}) {
        const uint32_t step = set == ResultVariant::Amd3dnow ? 4 : set == ResultVariant::Sse ? 8 : 0;
        const float gain = 0.7559108138084412f;
        for (uint32_t n : {0u, 3u, 8u, 11u, 15u, 16u, 17u})
            for (uint32_t offset : {0u, 1u}) {  // the kernels must not rely on aligned pointers
                const std::vector<float> a = noise(n + offset, 100 + n), src = noise(n + offset, 200 + n);
                std::vector<float> b = noise(n + offset, 300 + n), dst = noise(n + offset, 400 + n);
                const std::vector<float> b0 = b, dst0 = dst;
                dsp::kernels::subtractInto(set, a.data() + offset, b.data() + offset, n);
                dsp::kernels::addScaled(set, dst.data() + offset, src.data() + offset, gain, n);
                for (uint32_t i = offset; i < n + offset; ++i) {
                    ASSERT_EQ(b[i], a[i] - b0[i]) << "n " << n << " i " << i;
                    const float twice = gain * src[i] + dst0[i];
                    const float once = static_cast<float>(static_cast<double>(gain) * src[i] + dst0[i]);
                    const bool vector = step != 0 && i - offset < n / step * step;
                    ASSERT_EQ(dst[i], vector ? twice : once) << int(set) << " n " << n << " i " << i;
                }
            }
        // 1e-39 is denormal in float: 3DNow! reads it as zero, and flushes the denormal result
        // 2^-100 * 2^-30 = 2^-130; the other forms keep both. The mode ends with the call.
        const float tiny = 1e-39f, small = std::ldexp(1.0f, -100), denormal = std::ldexp(1.0f, -130);
        std::vector<float> a(8, tiny), b(8, 0.0f), dst(8, 0.0f), src(8, small);
        dsp::kernels::subtractInto(set, a.data(), b.data(), 8);
        dsp::kernels::addScaled(set, dst.data(), src.data(), std::ldexp(1.0f, -30), 8);
        const bool flushes = set == ResultVariant::Amd3dnow;
        EXPECT_EQ(b, std::vector<float>(8, flushes ? 0.0f : tiny));
        EXPECT_EQ(dst, std::vector<float>(8, flushes ? 0.0f : denormal));
        volatile float x = small;
        EXPECT_EQ(x * std::ldexp(1.0f, -30), denormal);
    }
}

}  // namespace
