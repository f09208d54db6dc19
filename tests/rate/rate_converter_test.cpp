// Rate converter engine: worked examples, filter design promises, the plain computation,
// measured audio behaviour (gain, stopband, frequency) and memory safety over many shapes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <vector>

#include "rate/rate_converter.h"
#include "support/levels.h"
#include "support/signals.h"
#include "support/spectrum.h"

namespace {

using dsp::RateConverter;
using dsptest::noise;
using dsptest::sine;

struct ConvSetup {
    uint32_t src, dst;
    uint32_t interpolation = 0;
    bool filterOn = false;
    uint32_t capacity = 16384;
    float stopbandDb = 80.0f, slope = 40.0f;
};

std::unique_ptr<RateConverter> make(const ConvSetup& s) {
    auto c = std::make_unique<RateConverter>();
    c->setup(s.capacity, s.src, s.dst, s.interpolation, s.stopbandDb, s.slope, s.filterOn, 0.1f);
    return c;
}

// Converts one block; a sentinel past the output shows that nothing more is written.
std::vector<float> run(RateConverter& c, const std::vector<float>& in) {
    std::vector<float> out(c.getDstSize(static_cast<uint32_t>(in.size())) + 1, 123.0f);
    EXPECT_EQ(c.process(in.data(), out.data(), static_cast<uint32_t>(in.size())), out.size() - 1);
    EXPECT_EQ(out.back(), 123.0f) << "written past the output";
    out.pop_back();
    return out;
}

double magnitudeDb(const dsp::BiquadCascade& f, double freq) {
    const std::complex<double> z1 = std::polar(1.0, -2.0 * M_PI * freq / f.rate()), z2 = z1 * z1;
    std::complex<double> h = 1.0;
    for (int s = 0; s < f.sectionCount(); ++s) {
        const dsp::BiquadSection c = f.section(s);
        h *= (c.b0 + c.b1 * z1 + c.b2 * z2) / (1.0 - c.a1 * z1 - c.a2 * z2);
    }
    return 20.0 * std::log10(std::abs(h));
}

// Linear outputs worked out by hand; 88200 -> 44100 with 4097 frames gives 2048 outputs, all
// from the first 4096-frame chunk (the lone last frame adds none).
TEST(RateConverter, WorkedExamples) {
    struct Case { uint32_t src, dst; std::vector<float> in, out; } cases[] = {
        {32000, 48000, {0, 1, 2, 3}, {0, 0.6666667f, 1.3333334f, 2, 2.6666667f, 3}},
        {48000, 32000, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1.5f, 3, 4.5f, 7}},
        // Rate factor 2: the grid overshoots at the chunk end; the lowered index keeps the
        // unlowered fraction, so the next-to-last output repeats the sample before the last.
        {22050, 44100, {0, 1, 2, 3}, {0, 0.5f, 1, 1.5f, 2, 2.5f, 2, 3}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(run(*make({c.src, c.dst}), c.in), c.out) << c.src << " -> " << c.dst;
    EXPECT_EQ(run(*make({88200, 44100, 1, true}), noise(4097, 1)).size(), 2048u);
}

TEST(RateConverter, FilterOrderAndStopbandPromise) {
    EXPECT_EQ(make({44100, 48000, 0, true})->filterOrder(), 6);
    // Orders: scipy.signal.cheb1ord(edge, lowNyquist, 0.1, stop, analog=True).
    struct Case { uint32_t src, dst; float stop, slope; int32_t order; } cases[] = {
        {44100, 48000, 80, 40, 6}, {48000, 32000, 60, 24, 4}, {96000, 22050, 40, 60, 7}, {32000, 48000, 120, 12, 3}};
    for (const Case& c : cases) {
        auto conv = make({c.src, c.dst, 0, true, 1024, c.stop, c.slope});
        const double lowNyquist = std::min(c.src, c.dst) * 0.5;
        const double edge = lowNyquist / std::pow(2.0, c.stop / c.slope);
        EXPECT_EQ(conv->filterOrder(), c.order) << c.src << " -> " << c.dst;
        EXPECT_EQ(conv->filter().rate(), float(std::max(c.src, c.dst)));
        EXPECT_LE(magnitudeDb(conv->filter(), lowNyquist), -c.stop) << c.src << " -> " << c.dst;
        EXPECT_NEAR(magnitudeDb(conv->filter(), edge), -0.1, 1e-3) << c.src << " -> " << c.dst;
    }
}

// The conversion written out plainly, one sample and one section at a time, straight from the
// algorithm: the cascade in double with its fixed order of additions, the float (linear, and
// cubic going up) or double (cubic going down) grid restarting every 4096 input frames, index
// lowering that keeps the unlowered fraction, outputs past the chunks repeating the last one.
// Only the filter coefficients are taken from the converter (their design is tested above).
class PlainConverter {
public:
    PlainConverter(const RateConverter& c, const ConvSetup& s)
        : src_(s.src), dst_(s.dst), prev_(s.capacity), cubic_(s.interpolation != 0), filterOn_(s.filterOn),
          history_(s.capacity + 3, 0.0f) {
        for (int k = 0; k < c.filter().sectionCount(); ++k) sections_.push_back(c.filter().section(k));
        w1_.assign(sections_.size(), 0.0);
        w2_ = w1_;
    }

    std::vector<float> run(std::vector<float> in) {
        if (src_ == dst_) return in;
        std::vector<float> out(static_cast<uint32_t>(std::trunc(double(dst_) * in.size() / src_)));
        if (filterOn_ && src_ > dst_) filter(in);
        chunks(in, out);
        if (filterOn_ && src_ < dst_) filter(out);
        return out;
    }

private:
    static double inner(double a) { return (1.0 - 2.0 * a * a) + a * a * a; }
    static double outer(double a) { return ((4.0 - 8.0 * a) + 5.0 * a * a) - a * a * a; }

    void filter(std::vector<float>& x) {
        for (float& v : x) {
            double s = v;
            for (size_t k = 0; k < sections_.size(); ++k) {
                const dsp::BiquadSection& c = sections_[k];
                const double w = (c.a1 * w1_[k] + c.a2 * w2_[k]) + s;
                s = (c.b0 * w + c.b1 * w1_[k]) + c.b2 * w2_[k];
                w2_[k] = w1_[k];
                w1_[k] = w;
            }
            v = static_cast<float>(s);
        }
    }

    void chunks(const std::vector<float>& in, std::vector<float>& out) {
        const float step = static_cast<float>(double(src_) / dst_);
        const uint32_t maxOut = static_cast<uint32_t>(std::trunc(double(dst_) * 4096 / src_));
        uint32_t inAt = 0, outAt = 0;
        while (inAt < in.size()) {
            const uint32_t inChunk = std::min<uint32_t>(static_cast<uint32_t>(in.size()) - inAt, 4096);
            const uint32_t outChunk = std::min<uint32_t>(static_cast<uint32_t>(out.size()) - outAt, maxOut);
            const float* s = in.data() + inAt;
            float* d = out.data() + outAt;
            if (!cubic_) {
                float pos = 0.0f;
                for (uint32_t j = 0; j + 1 < outChunk; ++j) {
                    uint32_t idx = static_cast<uint32_t>(pos);
                    const double frac = pos - std::floor(pos);
                    uint32_t next = idx + 1;
                    if (inChunk == 1) idx = next = 0;
                    else if (idx > inChunk - 2) idx = inChunk - 2, next = inChunk - 1;
                    d[j] = static_cast<float>((double(s[next]) - s[idx]) * frac + s[idx]);
                    pos = pos + step;
                }
                if (outChunk != 0) d[outChunk - 1] = s[inChunk - 1];
            } else {
                float* H = history_.data();
                const float carried[3] = {H[prev_], H[prev_ + 1], H[prev_ + 2]};
                std::copy(carried, carried + 3, H);
                std::copy(s, s + inChunk, H + 3);
                prev_ = inChunk;
                const bool up = src_ < dst_;
                float posF = 1.0f;
                double posD = 1.0;
                for (uint32_t j = 0; j + 1 < outChunk; ++j) {
                    const uint32_t whole = up ? static_cast<uint32_t>(posF) : static_cast<uint32_t>(posD);
                    const double f = up ? double(posF - static_cast<float>(whole)) : posD - whole;
                    const uint32_t i = std::min(whole, std::max<uint32_t>(inChunk - 1, 1));
                    const double before = outer(std::fabs(f + 1.0)), at = inner(std::fabs(f));
                    const double after = inner(std::fabs(f - 1.0)), after2 = outer(std::fabs(f - 2.0));
                    const double v = up ? ((before * H[i - 1] + after * H[i + 1]) + after2 * H[i + 2]) + at * H[i]
                                        : ((at * H[i] + after * H[i + 1]) + after2 * H[i + 2]) + before * H[i - 1];
                    d[j] = static_cast<float>(v);
                    if (up) posF = posF + step;
                    else posD = posD + double(step);
                }
                if (outChunk != 0) d[outChunk - 1] = H[inChunk];
            }
            inAt += inChunk;
            outAt += outChunk;
        }
        const float last = outAt != 0 ? out[outAt - 1] : (in.empty() ? 0.0f : in.back());
        std::fill(out.begin() + outAt, out.end(), last);
    }

    uint32_t src_, dst_, prev_;
    bool cubic_, filterOn_;
    std::vector<float> history_;
    std::vector<dsp::BiquadSection> sections_;
    std::vector<double> w1_, w2_;
};

// Mono and paired stereo conversion equal the plain computation bit for bit at every processor
// level, over ratios both ways, both interpolations, filter on and off, filter orders 1, 2, 4, 8,
// 10 and 17 (one to nine sections), block lengths across chunk boundaries, a loud passage
// decaying into the denormal range, and state carried from call to call.
TEST(RateConverter, MatchesPlainComputationBitForBit) {
    std::vector<ConvSetup> cases;
    for (auto r : {std::pair<uint32_t, uint32_t>{44100, 48000}, {48000, 32000}, {22050, 96000}, {96000, 11025},
                   {48000, 44100}, {8000, 48000}, {32000, 48000}, {44100, 44100}, {44100, 44099}})
        for (bool filterOn : {true, false}) cases.push_back({r.first, r.second, 0, filterOn, 9000});
    for (auto r : {std::pair<uint32_t, uint32_t>{44100, 48000}, {48000, 32000}})
        for (auto f : {std::pair<float, float>{20.0f, 1.0f}, {40.0f, 8.0f}, {80.0f, 20.0f}, {80.0f, 60.0f},
                       {50.0f, 100.0f}, {80.0f, 240.0f}})
            cases.push_back({r.first, r.second, 0, true, 9000, f.first, f.second});
    const uint32_t lengths[] = {4096, 9000, 1, 333, 4097, 2, 8192, 9000, 9000, 777};
    std::vector<float> left = noise(9000 * 6, 11), right = noise(9000 * 6, 12);
    std::fill(left.begin() + 20000, left.end(), 0.0f);  // left decays into denormals, right stays loud
    left[40000] = 1e-40f;
    for (dsp::cpu::Isa level : dsptest::levels())  // 512-, 256- and 128-bit pair kernels
        for (ConvSetup s : cases)
            for (s.interpolation = 0; s.interpolation < 2; ++s.interpolation) {
                const dsp::cpu::ForceLevel force(level);
                auto mono = make(s), pairL = make(s), pairR = make(s);
                PlainConverter refL(*mono, s), refR(*mono, s);
                size_t at = 0;
                for (uint32_t len : lengths) {
                    const std::vector<float> inL(left.begin() + at, left.begin() + at + len);
                    const std::vector<float> inR(right.begin() + at, right.begin() + at + len);
                    at += len;
                    SCOPED_TRACE(::testing::Message() << dsp::cpu::name(level) << " " << s.src << " -> " << s.dst
                                                      << " order " << mono->filterOrder() << " interp "
                                                      << s.interpolation << " filter " << s.filterOn << " block at "
                                                      << at - len);
                    const std::vector<float> expectL = refL.run(inL), expectR = refR.run(inR);
                    std::vector<float> gotL(expectL.size()), gotR(expectR.size());  // exact: ASan sees overruns
                    ASSERT_EQ(RateConverter::processPair(*pairL, inL.data(), gotL.data(), *pairR, inR.data(),
                                                         gotR.data(), len),
                              expectL.size());
                    ASSERT_EQ(run(*mono, inL), expectL) << "mono";
                    ASSERT_EQ(gotL, expectL) << "pair, left";
                    ASSERT_EQ(gotR, expectR) << "pair, right";
                }
            }
}

// The output frequency is fixed by the grid, which the plain computation pins bit for bit.
TEST(RateConverter, PassbandToneKeepsItsGain) {
    struct Case { uint32_t src, dst, interpolation; } cases[] = {
        {44100, 48000, 0}, {48000, 44100, 0}, {44100, 48000, 1}, {48000, 44100, 1}, {32000, 48000, 1}, {48000, 32000, 0}};
    const double tone = 2000.0;
    for (const Case& c : cases) {
        auto conv = make({c.src, c.dst, c.interpolation, true, 4096});
        const std::vector<float> in = sine(4096 * 12, tone, c.src);
        std::vector<float> out;
        for (size_t at = 0; at < in.size(); at += 4096) {
            const std::vector<float> o = run(*conv, std::vector<float>(in.begin() + at, in.begin() + at + 4096));
            out.insert(out.end(), o.begin(), o.end());
        }
        // Passband ripple 0.1 dB; linear interpolation of a sine at a uniformly spread fraction
        // keeps 1 - (1 - cos w)/3 of its power (w at the rate interpolated on); cubic ~ none.
        const double w = 2.0 * M_PI * tone / c.src;
        const double interpolationDb = c.interpolation ? 0.0 : 10.0 * std::log10(1.0 - (1.0 - std::cos(w)) / 3.0);
        const double gainDb = 20.0 * std::log10(dsptest::rms(out, 4000, out.size()) * std::sqrt(2.0) / 0.5);
        EXPECT_LE(gainDb, 0.02) << c.src << " -> " << c.dst << " interp " << c.interpolation;
        EXPECT_GE(gainDb, -0.1 + interpolationDb - 0.02) << c.src << " -> " << c.dst << " interp " << c.interpolation;
    }
}

TEST(RateConverter, ContentAboveTheLowerNyquistIsRemoved) {
    // Down: a tone just above half the destination rate must not alias back.
    const std::vector<float> down = run(*make({48000, 32000, 0, true, 48000}), sine(48000, 16100.0, 48000));
    EXPECT_LE(20.0 * std::log10(dsptest::rms(down, 2000, down.size()) / (0.5 / std::sqrt(2.0))), -80.0);
    // Up: the interpolation image of a 3000 Hz tone (29000 Hz, folded to 19000 Hz at 48 kHz)
    // lies above the lower Nyquist and must be stopband-attenuated; unfiltered, it is there.
    for (bool filterOn : {true, false}) {
        const std::vector<float> up = run(*make({32000, 48000, 0, filterOn, 32000}), sine(32000, 3000.0, 32000));
        const std::vector<double> y(up.begin() + 3000, up.end());
        const double imageDb = 10.0 * std::log10(dsptest::powerAt(y, 19000.0, 48000.0) /
                                                 dsptest::powerAt(y, 3000.0, 48000.0));
        if (filterOn) EXPECT_LE(imageDb, -80.0);
        else EXPECT_GE(imageDb, -60.0);
    }
}

}  // namespace
