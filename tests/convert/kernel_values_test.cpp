// Every conversion formula over every int16 value and around every output count, for the
// portable kernels and the SIMD kernels alike.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "convert/kernels.h"
#include "convert/expected.h"

namespace k = dsp::kernels;

namespace {

struct ResultVariant {
    const char* name;
    void (*scaledSplit)(const int16_t*, float*, float*, uint32_t);
    void (*scaledMix)(const int16_t*, float*, uint32_t);
    void (*scaledMono)(const int16_t*, float*, uint32_t);
    void (*widenedSplit)(const int16_t*, float*, float*, uint32_t);
    void (*summedMix)(const int16_t*, float*, uint32_t);
    void (*widenedMono)(const int16_t*, float*, uint32_t);
    void (*clampedStereo)(const float*, const float*, int16_t*, uint32_t);
    void (*clampedMono)(const float*, int16_t*, uint32_t);
    void (*truncatedStereo)(const float*, const float*, int16_t*, uint32_t);
    void (*truncatedMono)(const float*, int16_t*, uint32_t);
    void (*roundedStereo)(const float*, const float*, int16_t*, uint32_t);
    void (*roundedMono)(const float*, int16_t*, uint32_t);
};
inline void PrintTo(const ResultVariant& c, std::ostream* os) { *os << c.name; }  // case names in test logs

#define DSP_KERNEL_SET(ns)                                                                   \
    ResultVariant {                                                                              \
        #ns, k::ns::scaledSplit, k::ns::scaledMix, k::ns::scaledMono, k::ns::widenedSplit,   \
            k::ns::summedMix, k::ns::widenedMono, k::ns::clampedStereo, k::ns::clampedMono,  \
            k::ns::truncatedStereo, k::ns::truncatedMono, k::ns::roundedStereo,              \
            k::ns::roundedMono                                                               \
    }

std::vector<int16_t> everyInt16() {
    std::vector<int16_t> all(65536);
    for (int i = 0; i < 65536; ++i) all[i] = static_cast<int16_t>(i - 32768);
    return all;
}

// A second channel that visits every value too, in a scrambled order (odd multiplier mod 2^16).
int16_t partner(int i) { return static_cast<int16_t>(static_cast<uint16_t>(i * 40503 + 12345)); }

std::string show(float f) {
    char text[48];
    std::snprintf(text, sizeof text, "%.9g", f);
    return text;
}

// Compares bit patterns, so -0 vs +0 and NaN count; stops after a few failures.
template <class T, class Expect>
void expectAll(const std::vector<T>& actual, Expect expect, const char* what) {
    int failures = 0;
    for (size_t i = 0; i < actual.size() && failures < 5; ++i) {
        const T want = expect(i);
        if (std::memcmp(&want, &actual[i], sizeof(T)) != 0) {
            ++failures;
            if constexpr (std::is_same_v<T, float>)
                ADD_FAILURE() << what << " index " << i << " expected " << show(want) << " actual " << show(actual[i]);
            else
                ADD_FAILURE() << what << " index " << i << " expected " << want << " actual " << actual[i];
        }
    }
}

// Floats around each output count: on the count, a quarter, half and three quarters past it
// (either side), the neighbouring floats, plus overload, infinities, NaN and signed zero.
std::vector<float> probes() {
    std::vector<float> x;
    for (int c = -32769; c <= 32768; ++c) {
        for (double frac : {0.0, 0.25, 0.5, 0.75, -0.25, -0.5}) x.push_back(static_cast<float>((c + frac) / 32767.0));
        const float on = static_cast<float>(c / 32767.0);
        x.push_back(std::nextafter(on, 2.0f));
        x.push_back(std::nextafter(on, -2.0f));
    }
    const float inf = std::numeric_limits<float>::infinity();
    for (float v : {0.0f, -0.0f, 1.0f, -1.0f, 1.5f, -1.5f, 2.0f, -2.0f, 65535.0f, 65536.0f, -65536.0f, 65537.0f,
                    -65537.0f, 1e10f, -1e10f, 3e38f, -3e38f, inf, -inf, std::numeric_limits<float>::quiet_NaN(),
                    -std::numeric_limits<float>::quiet_NaN(), 1e-30f, -1e-30f, 1e-40f, -1e-40f,
                    std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::denorm_min(),
                    std::numeric_limits<float>::max(), std::numeric_limits<float>::lowest(), 2147483520.0f,
                    2147483648.0f, -2147483648.0f, -2147483904.0f, 65535.99f, -65536.01f})
        x.push_back(v);
    std::mt19937 gen(20261206);  // seeded: anywhere in [-2, 2], and any bit pattern at all
    std::uniform_real_distribution<float> wide(-2.0f, 2.0f);
    for (int i = 0; i < 20000; ++i) x.push_back(wide(gen));
    for (int i = 0; i < 20000; ++i) {
        const uint32_t bits = static_cast<uint32_t>(gen());
        float f;
        std::memcpy(&f, &bits, sizeof f);
        x.push_back(f);
    }
    while (x.size() % 8 != 3) x.push_back(0.5f);  // odd length: the kernels' tails run too
    return x;
}

// The two int16-to-float rules of one kernel set (mono, split stereo, mono mix of stereo), each
// with its expected values.
struct Input {
    const char* name;
    void (*mono)(const int16_t*, float*, uint32_t);
    void (*split)(const int16_t*, float*, float*, uint32_t);
    void (*mix)(const int16_t*, float*, uint32_t);
    float (*expect)(int);
    float (*expectMix)(int, int);
};
std::vector<Input> inputs(const ResultVariant& set) {
    return {{"scaled", set.scaledMono, set.scaledSplit, set.scaledMix, expected::reference, expected::referenceMix},
            {"widened", set.widenedMono, set.widenedSplit, set.summedMix, expected::widened, expected::summed}};
}

// The three float-to-int16 rules of one kernel set, each with its expected value.
struct Output {
    const char* name;
    void (*mono)(const float*, int16_t*, uint32_t);
    void (*stereo)(const float*, const float*, int16_t*, uint32_t);
    int16_t (*expect)(float);
};
std::vector<Output> outputs(const ResultVariant& set) {
    return {{"clamped", set.clampedMono, set.clampedStereo, expected::reference},
            {"truncated", set.truncatedMono, set.truncatedStereo, expected::truncated},
            {"rounded", set.roundedMono, set.roundedStereo, expected::rounded}};
}

class KernelValues : public ::testing::TestWithParam<ResultVariant> {
protected:
    void SetUp() override {
#if DSP_X86_KERNELS
        const std::string build = GetParam().name;
        using dsp::cpu::Isa;
        const Isa needs = build == "avx512" ? Isa::Avx512 : build == "avx2" ? Isa::Avx2 : Isa::Portable;
        if (dsp::cpu::detected() < needs) GTEST_SKIP() << "no " << build;
#endif
    }
};

TEST_P(KernelValues, Int16ToFloatForEverySample) {
    const ResultVariant& set = GetParam();
    const std::vector<int16_t> mono = everyInt16();
    std::vector<int16_t> stereo(2 * 65536);
    for (int i = 0; i < 65536; ++i) {
        stereo[2 * i] = mono[i];
        stereo[2 * i + 1] = partner(i);
    }
    std::vector<float> a(65536), b(65536);
    auto left = [&](size_t i) { return int{mono[i]}; };
    auto right = [&](size_t i) { return int{partner(static_cast<int>(i))}; };

    for (const Input& c : inputs(set)) {
        SCOPED_TRACE(c.name);
        c.mono(mono.data(), a.data(), 65536);
        expectAll(a, [&](size_t i) { return c.expect(left(i)); }, "mono");
        c.split(stereo.data(), a.data(), b.data(), 65536);
        expectAll(a, [&](size_t i) { return c.expect(left(i)); }, "left");
        expectAll(b, [&](size_t i) { return c.expect(right(i)); }, "right");
        c.mix(stereo.data(), a.data(), 65536);
        expectAll(a, [&](size_t i) { return c.expectMix(left(i), right(i)); }, "mix");
    }
}

TEST_P(KernelValues, FloatToInt16AroundEveryCount) {
    const ResultVariant& set = GetParam();
    const std::vector<float> x = probes();
    const auto n = static_cast<uint32_t>(x.size());
    std::vector<float> reversed(x.rbegin(), x.rend());
    std::vector<int16_t> mono(n), stereo(2 * n);
    auto channel = [&](const std::vector<int16_t>& s, int c) {
        std::vector<int16_t> out(n);
        for (uint32_t i = 0; i < n; ++i) out[i] = s[2 * i + c];
        return out;
    };
    for (const Output& c : outputs(set)) {
        SCOPED_TRACE(c.name);
        c.mono(x.data(), mono.data(), n);
        expectAll(mono, [&](size_t i) { return c.expect(x[i]); }, "mono");
        c.stereo(x.data(), reversed.data(), stereo.data(), n);
        expectAll(channel(stereo, 0), [&](size_t i) { return c.expect(x[i]); }, "stereo left");
        expectAll(channel(stereo, 1), [&](size_t i) { return c.expect(reversed[i]); }, "stereo right");
    }
}

// Rounded follows the caller's rounding mode; truncated and clamped ignore it; scaled is the
// double product s * (1/32767) rounded to float in that mode. The caller's mode is still in
// force afterwards (a quotient that rounds differently each way shows the vector unit's mode).
TEST_P(KernelValues, RoundingModes) {
    const ResultVariant& set = GetParam();
    const float x[8] = {0.5f, -0.5f, 0.25f, -0.25f, 0.75f, -0.75f, 1.5f, -1.5f};  // x * 32767 exact in float
    struct Mode {
        int mode;
        int16_t want[8];
    };
    const Mode modes[] = {{FE_TONEAREST, {16384, -16384, 8192, -8192, 24575, -24575, 32767, -32768}},
                          {FE_UPWARD, {16384, -16383, 8192, -8191, 24576, -24575, 32767, -32768}},
                          {FE_DOWNWARD, {16383, -16384, 8191, -8192, 24575, -24576, 32767, -32768}},
                          {FE_TOWARDZERO, {16383, -16383, 8191, -8191, 24575, -24575, 32767, -32768}}};
    const int16_t truncatedWant[8] = {16383, -16383, 8191, -8191, 24575, -24575, 32767, -32768};
    const std::vector<int16_t> all = everyInt16();
    std::vector<float> y(100);
    for (size_t i = 0; i < y.size(); ++i) y[i] = static_cast<float>(std::sin(1.3 * i) * 1.1 + (i % 4) * 0.25 / 32767);
    volatile float one = 1.0f, three = 3.0f;
    const int saved = std::fegetround();
    for (const Mode& m : modes) {
        SCOPED_TRACE("mode " + std::to_string(m.mode));
        int16_t rounded[8], truncated[8];
        std::vector<float> scaled(65536), scaledWant(65536);
        std::vector<int16_t> mono(y.size());
        std::fesetround(m.mode);
        const float before = one / three;
        set.roundedMono(x, rounded, 8);
        set.truncatedMono(x, truncated, 8);
        set.scaledMono(all.data(), scaled.data(), 65536);
        set.clampedMono(y.data(), mono.data(), static_cast<uint32_t>(y.size()));
        const float after = one / three;
        for (int i = 0; i < 65536; ++i) {
            volatile double product = all[i] * 3.051850947599719e-05;
            scaledWant[i] = static_cast<float>(product);
        }
        std::fesetround(saved);
        EXPECT_EQ(show(after), show(before));
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(rounded[i], m.want[i]) << "index " << i;
            EXPECT_EQ(truncated[i], truncatedWant[i]) << "index " << i;
        }
        expectAll(scaled, [&](size_t i) { return scaledWant[i]; }, "scaled mono");
        expectAll(mono, [&](size_t i) { return expected::reference(y[i]); }, "clamped mono");
    }
}

// Every length up to a few vector blocks, at two misalignments: the first n outputs follow the
// formula and nothing past them is written.
TEST_P(KernelValues, EveryLengthWritesExactlyItsFrames) {
    const ResultVariant& set = GetParam();
    constexpr uint32_t kMax = 100, kRoom = 2 * kMax + 8;
    std::vector<int16_t> pcm(kRoom);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = partner(static_cast<int>(i * 977));
    std::vector<float> x(kRoom), y(kRoom);
    for (size_t i = 0; i < x.size(); ++i) {
        x[i] = static_cast<float>(std::sin(0.37 * i) * 1.2);  // some beyond full scale
        y[i] = static_cast<float>((i * 0.29 - 13.0) / 11.0);
    }
    // Runs `call` on sentinel-filled output and checks `count` values then untouched sentinels.
    auto check = [&](auto sentinel, uint32_t count, auto call, auto expect, const char* what) {
        std::vector<decltype(sentinel)> out(kRoom, sentinel);
        call(out.data());
        for (uint32_t i = 0; i < kRoom; ++i) {
            const decltype(sentinel) want = i < count ? expect(i) : sentinel;
            ASSERT_EQ(std::memcmp(&want, &out[i], sizeof want), 0) << what << " count " << count << " index " << i;
        }
    };
    for (uint32_t offset : {0u, 3u}) {
        const int16_t* in = pcm.data() + offset;
        const float* xl = x.data() + offset;
        const float* xr = y.data() + offset;
        for (uint32_t n = 0; n <= kMax; ++n) {
            SCOPED_TRACE("offset " + std::to_string(offset));
            std::vector<float> right(kRoom, -777.0f);
            for (const Input& c : inputs(set)) {
                check(-777.0f, n, [&](float* o) { c.split(in, o, right.data(), n); },
                      [&](uint32_t i) { return c.expect(in[2 * i]); }, c.name);
                check(-777.0f, n, [&](float* o) { c.split(in, right.data(), o, n); },
                      [&](uint32_t i) { return c.expect(in[2 * i + 1]); }, c.name);
                check(-777.0f, n, [&](float* o) { c.mix(in, o, n); },
                      [&](uint32_t i) { return c.expectMix(in[2 * i], in[2 * i + 1]); }, c.name);
                check(-777.0f, n, [&](float* o) { c.mono(in, o, n); }, [&](uint32_t i) { return c.expect(in[i]); }, c.name);
            }
            for (const Output& o : outputs(set)) {
                const int16_t sentinel = 0x5a5a;
                check(sentinel, n, [&](int16_t* out) { o.mono(xl, out, n); }, [&](uint32_t i) { return o.expect(xl[i]); },
                      o.name);
                check(sentinel, 2 * n, [&](int16_t* out) { o.stereo(xl, xr, out, n); },
                      [&](uint32_t i) { return o.expect(i % 2 ? xr[i / 2] : xl[i / 2]); }, o.name);
            }
        }
    }
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DSP_TEST_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define DSP_TEST_SANITIZED 1
#endif

// Every float in [-1, 1] and a little beyond (by bit pattern, both signs) through the clamped
// kernel, against the exact double product truncated. Optimised builds visit every float for
// the AVX2 and AVX-512 builds (which form the product in single precision, rounded toward
// zero) and every 13th for the builds that form it in double; debug and sanitizer builds take
// an even sample.
TEST_P(KernelValues, ClampedTruncatesTheExactProductOfEveryFloatInRange) {
    const ResultVariant& set = GetParam();
    const bool single = std::string(set.name) == "avx512" || std::string(set.name) == "avx2";
#if defined(__OPTIMIZE__) && !defined(DSP_TEST_SANITIZED)
    const uint32_t stride = single ? 1 : 13;
#else
    const uint32_t stride = single ? 509 : 4093;
#endif
    constexpr uint32_t kBlock = 1u << 16;
    constexpr uint32_t kLast = 0x3f800000u + 4096;  // 1.0f and 4096 floats above it
    std::vector<float> x(kBlock);
    std::vector<int16_t> got(kBlock), want(kBlock);
    for (uint32_t sign : {0u, 0x80000000u}) {
        for (uint64_t start = 0; start <= kLast; start += uint64_t{kBlock} * stride) {
            // Whole blocks (past the last pattern the bits wrap to small floats, also fine):
            // fixed trip counts let the compiler vectorise the two plain loops.
            for (uint32_t i = 0; i < kBlock; ++i) {
                const uint32_t pattern = sign | (static_cast<uint32_t>(start + uint64_t{i} * stride) & 0x7fffffffu);
                std::memcpy(&x[i], &pattern, sizeof(float));
            }
            set.clampedMono(x.data(), got.data(), kBlock);
            for (uint32_t i = 0; i < kBlock; ++i) {
                const float c = x[i] < -1.0f ? -1.0f : x[i] > 1.0f ? 1.0f : x[i];
                want[i] = static_cast<int16_t>(static_cast<int32_t>(static_cast<double>(c) * 32767.0));
            }
            if (std::memcmp(got.data(), want.data(), kBlock * sizeof(int16_t)) != 0) {
                for (uint32_t i = 0; i < kBlock; ++i)
                    ASSERT_EQ(got[i], want[i]) << "x " << show(x[i]) << " index " << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Convert, KernelValues,
                         ::testing::Values(DSP_KERNEL_SET(portable)
#if DSP_X86_KERNELS
                                               ,
                                           DSP_KERNEL_SET(sse2), DSP_KERNEL_SET(avx2), DSP_KERNEL_SET(avx512)
#endif
                                               ),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
