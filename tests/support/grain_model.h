// Plain sample-by-sample models of the two grain engines, written straight from the behaviour
// (one sample at a time, grains visited in slot order at every sample), without the grouped
// bookkeeping the library uses for speed. The engines must match them bit for bit.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace grainref {

struct Grain {
    bool active = false;
    int64_t start = 0, age = 0, length = 0;
};

inline double cubic(double d) {
    const double a = std::fabs(d);
    if (a < 1.0) return 1.0 - 2.0 * a * a + a * a * a;
    if (a < 2.0) return 4.0 - 8.0 * a + 5.0 * a * a - a * a * a;
    return 0.0;
}

inline uint32_t samples(double product, uint32_t cap = 1u << 20) {
    if (!(product > 0.0)) return 0;
    return product >= cap ? cap : uint32_t(product);
}

// Shared: grain start at hop boundaries, ageing, history, bypass and output level.
struct Common {
    uint32_t grainLength = 0, hop = 1, hopCounter = 0, historyPos = 0, span = 0, spanPending = 0;
    bool bypass = false, bypassPending = false;
    float gain = 1;
    std::vector<float> window, history;
    std::vector<Grain> grains;

    // The history holds historyPerGrain x grainLength + historyExtra samples.
    void setup(uint32_t rate, float grainTime, float hopTime, float outLevel, uint32_t historyPerGrain,
               uint32_t historyExtra) {
        grainLength = samples(double(float(rate)) * double(grainTime) * 1.5330188679245282);
        hop = std::max<uint32_t>(1, samples(double(float(rate)) * double(hopTime)));
        grains.assign(grainLength / hop, Grain{});
        window.resize(grainLength);
        for (uint32_t i = 0; i < grainLength; ++i) {
            const double x = double(i) * 13.0 / grainLength - 6.5;
            window[i] = float(std::exp(-(x * x) / 4.0));
        }
        history.assign(std::max<size_t>(size_t{historyPerGrain} * grainLength + historyExtra, 1), 0.0f);
        hopCounter = historyPos = 0;
        gain = float(std::pow(10.0, double(outLevel) * 0.05));
    }
    template <class StartAt>
    void maybeStart(int64_t i, StartAt startAt) {
        if (hopCounter == 0)
            for (Grain& g : grains)
                if (!g.active) {
                    g = Grain{true, startAt(i), 0, grainLength};
                    break;
                }
        if (++hopCounter == hop) hopCounter = 0;
    }
    // m output samples: at each a grain may start (at startAt(i)), then every active grain in
    // slot order adds read(grain) x window to the sums (of type Sum) and ages by one; then the
    // grains' starts move back by the n input samples consumed.
    template <class Sum, class StartAt, class Read>
    void render(const float* in, float* out, uint32_t n, uint32_t m, StartAt startAt, Read read) {
        for (uint32_t i = 0; i < m; ++i) {
            maybeStart(i, startAt);
            Sum acc = 0, wsum = 0;
            for (Grain& g : grains) {
                if (!g.active) continue;
                if (!bypass) {
                    acc = Sum(acc + read(g) * double(window[g.age]));
                    wsum += window[g.age];
                }
                if (++g.age >= g.length) g.active = false;
            }
            out[i] = bypass ? in[i] : wsum > 0 ? float(double(acc) * double(gain) / double(wsum)) : 0.0f;
        }
        for (Grain& g : grains)
            if (g.active) g.start -= n;
    }
    // x[j] of the current chunk; past the block's last sample, that last sample.
    double x(const float* in, int64_t available, int64_t j) const {
        if (j >= 0) return in[std::min(j, available - 1)];
        return history[(historyPos + uint64_t(-j) - 1) % span];
    }
    // The engines take at most 32768 samples at a time; returns the samples written.
    template <class Model>
    static uint32_t inChunks(Model& model, const float* in, float* out, uint32_t frames) {
        uint32_t produced = 0;
        for (uint32_t done = 0; done < frames;) {
            const uint32_t n = std::min<uint32_t>(32768, frames - done);
            produced += model.chunk(in + done, out + produced, n, frames - done);
            done += n;
        }
        return produced;
    }
    void remember(const float* in, uint32_t n) {
        const uint32_t S = span;
        if (S == 0) return;
        if (S > n) historyPos = (historyPos + S - n) % S;
        for (uint32_t j = 1; j <= std::min(S, n); ++j) history[(historyPos + j - 1) % S] = in[n - j];
    }
};

struct PitchModel : Common {
    float ratio = 1, ratioPending = 1, cents = 0;
    int64_t offset = 0, offsetPending = 0;

    void setPitch(float p) {
        if (std::isnan(p)) p = 0;
        bypassPending = p == 0.0f;
        cents = std::min(1200.0f, std::max(-1200.0f, p));
        const double r = std::pow(2.0, double(cents) * 0.0008333333333333334);
        offsetPending = cents >= 0 ? int64_t(double(grainLength) - double(grainLength) * r) : 0;
        ratioPending = float(r);
        spanPending = uint32_t(double(grainLength) * r) + 3;
    }
    void init(uint32_t rate, float pitch, float outLevel, float grainTime, float hopTime) {
        setup(rate, grainTime, hopTime, outLevel, 2, 3);
        setPitch(pitch);
        const int64_t X = cents >= 0 ? spanPending : grainLength;
        for (size_t k = 1; k <= grains.size(); ++k)
            grains[k - 1] = Grain{true, int64_t(hop * k) - X, int64_t(grainLength) - int64_t(hop * k), grainLength};
        ratio = ratioPending, span = spanPending, offset = offsetPending, bypass = bypassPending;
    }
    uint32_t process(const float* in, float* out, uint32_t frames) { return inChunks(*this, in, out, frames); }
    uint32_t chunk(const float* in, float* out, uint32_t n, int64_t available) {
        render<float>(in, out, n, n, [&](int64_t at) { return offset + at; }, [&](const Grain& g) {
            const double pos = double(g.age) * double(ratio) + double(g.start);
            const int64_t t = int64_t(pos);
            const float p = float(pos);
            const double f = p - std::trunc(p);
            return x(in, available, t) * cubic(f - 2) + x(in, available, t - 1) * cubic(f - 1) +
                   x(in, available, t - 2) * cubic(f) + x(in, available, t - 3) * cubic(f + 1);
        });
        ratio = ratioPending, span = spanPending, offset = offsetPending, bypass = bypassPending;
        remember(in, n);
        return n;
    }
};

struct StretchModel : Common {
    float factor = 1, factorPending = 1, inverse = 1, inversePending = 1;
    double inverseExact = 1;
    int64_t lead = 0, leadPending = 0;

    void setScale(float s) {
        if (std::isnan(s)) s = 0;
        bypassPending = s == 0.0f;
        s = std::min(3000.0f, std::max(-2000.0f, s));
        const double f = std::pow(2.0, -double(s) * 0.001);
        factorPending = float(f);
        inverseExact = 1.0 / f;
        inversePending = float(inverseExact);
        spanPending = f >= 1 ? grainLength : uint32_t(double(grainLength) * inverseExact);
        leadPending = f >= 1 ? grainLength : 0;
    }
    void init(uint32_t rate, float scale, float outLevel, float grainTime, float hopTime) {
        setup(rate, grainTime, hopTime, outLevel, 8, 0);
        setScale(scale);
        const int64_t inputHop = int64_t(double(hop) * inverseExact);
        for (size_t k = 1; k <= grains.size(); ++k)
            grains[k - 1] = Grain{true, inputHop * int64_t(k) - spanPending, int64_t(grainLength) - int64_t(hop * k),
                                  grainLength};
        bypass = bypassPending, span = spanPending, factor = factorPending, inverse = inversePending;
        lead = leadPending;
    }
    uint32_t process(const float* in, float* out, uint32_t frames) { return inChunks(*this, in, out, frames); }
    uint32_t chunk(const float* in, float* out, uint32_t n, int64_t available) {
        const uint32_t m = bypass ? n : uint32_t(double(n) * double(factor));
        render<double>(
            in, out, n, m, [&](int64_t at) { return int64_t((double(at) + double(lead)) * double(inverse)) - lead; },
            [&](const Grain& g) { return x(in, available, g.start + g.age); });
        bypass = bypassPending, factor = factorPending, span = spanPending, inverse = inversePending;
        lead = leadPending;
        remember(in, n);
        return m;
    }
};

}  // namespace grainref
