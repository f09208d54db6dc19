// Every conversion formula over every int16 value and around every output count, and every
// length up to a few vector blocks, for the portable kernels and the SIMD kernels alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "convert/expected.h"
#include "convert/kernels.h"

namespace k = dsp::kernels::active;  // the build for the level a test forces
using dsp::cpu::Isa;

namespace {

// The int16-to-float rules (mono, split stereo, mono mix of stereo), with their expected values.
struct Input {
    const char* name;
    void (*mono)(const int16_t*, float*, uint32_t);
    void (*split)(const int16_t*, float*, float*, uint32_t);
    void (*mix)(const int16_t*, float*, uint32_t);
    float (*expect)(int);
    float (*expectMix)(int, int);
};
const Input kScaled{"scaled", k::scaledMono, k::scaledSplit, k::scaledMix, expected::reference, expected::referenceMix};
const Input kWidened{"widened", k::widenedMono, k::widenedSplit, k::summedMix, expected::widened, expected::summed};

// The float-to-int16 rules, with their expected values.
struct Output {
    const char* name;
    void (*mono)(const float*, int16_t*, uint32_t);
    void (*stereo)(const float*, const float*, int16_t*, uint32_t);
    int16_t (*expect)(float);
};
const Output kClamped{"clamped", k::clampedMono, k::clampedStereo, expected::reference};
const Output kTruncated{"truncated", k::truncatedMono, k::truncatedStereo, expected::truncated};
const Output kRounded{"rounded", k::roundedMono, k::roundedStereo, expected::rounded};

// (first input, frames): the whole input once, then every length up to a few vector blocks at
// two misalignments.
std::vector<std::pair<uint32_t, uint32_t>> runs(uint32_t whole) {
    std::vector<std::pair<uint32_t, uint32_t>> r = {{0, whole}};
    for (uint32_t offset : {0u, 3u})
        for (uint32_t n = 0; n <= 100; ++n) r.push_back({offset, n});
    return r;
}

// Runs `call` on sentinel-filled output: the first `count` values must equal `expect` bit for
// bit (so -0 and NaN count) and the rest must stay untouched. Reports the first difference.
template <class T, class Call, class Expect>
void expectWrites(T sentinel, size_t count, Call call, Expect expect, const std::string& what) {
    std::vector<T> out(count + 64, sentinel);
    call(out.data());
    for (size_t i = 0; i < out.size(); ++i) {
        const T want = i < count ? expect(i) : sentinel;
        if (std::memcmp(&want, &out[i], sizeof want) != 0) {
            ADD_FAILURE() << what << " count " << count << " index " << i << " expected "
                          << ::testing::PrintToString(want) << " actual " << ::testing::PrintToString(out[i]);
            return;
        }
    }
}

// Floats around each output count: on the count, a quarter, half and three quarters past it
// (either side), the neighbouring floats, plus overload, infinities, NaN and signed zero.
std::vector<float> probes() {
    std::vector<float> x;
    std::mt19937 gen(20261206);  // seeded: anywhere in [-2, 2], and any bit pattern at all
    std::uniform_real_distribution<float> wide(-2.0f, 2.0f);
    for (int i = 0; i < 20000; ++i) x.push_back(wide(gen));
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
    for (int i = 0; i < 20000; ++i) {
        const uint32_t bits = static_cast<uint32_t>(gen());
        float f;
        std::memcpy(&f, &bits, sizeof f);
        x.push_back(f);
    }
    while (x.size() % 8 != 3) x.push_back(0.5f);  // odd length: the kernels' tails run too
    return x;
}

// Each test runs at one processor level (skipped where the machine lacks it).
class KernelValues : public ::testing::TestWithParam<Isa> {
protected:
    void SetUp() override {
        if (dsp::cpu::detected() < GetParam()) GTEST_SKIP() << "no " << dsp::cpu::name(GetParam());
        force_.emplace(GetParam());
    }
    std::optional<dsp::cpu::ForceLevel> force_;
};

// Every int16 on the left, and on the right in a scrambled order (odd multiplier mod 2^16);
// the mono kernels read both.
TEST_P(KernelValues, Int16ToFloat) {
    std::vector<int16_t> pcm(2 * 65536);
    for (int i = 0; i < 65536; ++i) {
        pcm[2 * i] = static_cast<int16_t>(i - 32768);
        pcm[2 * i + 1] = static_cast<int16_t>(static_cast<uint16_t>(i * 40503 + 12345));
    }
    std::vector<float> other(65536);
    for (const Input& c : {kScaled, kWidened}) {
        for (const auto& [first, n] : runs(65536)) {
            const int16_t* in = pcm.data() + first;
            const std::string what = std::string(c.name) + " from " + std::to_string(first);
            expectWrites(-777.0f, n, [&](float* o) { c.split(in, o, other.data(), n); },
                         [&](size_t i) { return c.expect(in[2 * i]); }, what + " left");
            expectWrites(-777.0f, n, [&](float* o) { c.split(in, other.data(), o, n); },
                         [&](size_t i) { return c.expect(in[2 * i + 1]); }, what + " right");
            expectWrites(-777.0f, n, [&](float* o) { c.mix(in, o, n); },
                         [&](size_t i) { return c.expectMix(in[2 * i], in[2 * i + 1]); }, what + " mix");
            expectWrites(-777.0f, 2 * n, [&](float* o) { c.mono(in, o, 2 * n); },
                         [&](size_t i) { return c.expect(in[i]); }, what + " mono");
        }
    }
}

// The probes on the left and reversed on the right: the short runs start with values anywhere
// in [-2, 2] on the left and any bit pattern on the right.
TEST_P(KernelValues, FloatToInt16) {
    const std::vector<float> x = probes();
    const std::vector<float> reversed(x.rbegin(), x.rend());
    for (const Output& c : {kClamped, kTruncated, kRounded}) {
        for (const auto& [first, n] : runs(static_cast<uint32_t>(x.size()))) {
            const float* l = x.data() + first;
            const float* r = reversed.data() + first;
            const std::string what = std::string(c.name) + " from " + std::to_string(first);
            expectWrites(int16_t{0x5a5a}, n, [&](int16_t* o) { c.mono(l, o, n); },
                         [&](size_t i) { return c.expect(l[i]); }, what + " mono");
            expectWrites(int16_t{0x5a5a}, 2 * n, [&](int16_t* o) { c.stereo(l, r, o, n); },
                         [&](size_t i) { return c.expect(i % 2 ? r[i / 2] : l[i / 2]); }, what + " stereo");
        }
    }
}

// Rounded follows the caller's rounding mode; truncated and clamped ignore it; scaled is the
// double product s * (1/32767) rounded to float in that mode. The caller's mode is still in
// force afterwards (a quotient that rounds differently each way shows the vector unit's mode).
TEST_P(KernelValues, RoundingModes) {
    const float x[8] = {0.5f, -0.5f, 0.25f, -0.25f, 0.75f, -0.75f, 1.5f, -1.5f};  // x * 32767 exact in float
    struct Mode { int mode; int16_t rounded[8]; };
    const Mode modes[] = {{FE_TONEAREST, {16384, -16384, 8192, -8192, 24575, -24575, 32767, -32768}},
                          {FE_UPWARD, {16384, -16383, 8192, -8191, 24576, -24575, 32767, -32768}},
                          {FE_DOWNWARD, {16383, -16384, 8191, -8192, 24575, -24576, 32767, -32768}},
                          {FE_TOWARDZERO, {16383, -16383, 8191, -8191, 24575, -24575, 32767, -32768}}};
    const int16_t truncated[8] = {16383, -16383, 8191, -8191, 24575, -24575, 32767, -32768};  // clamped: -1.5 -> -32767
    std::vector<float> tiled(40);  // long enough for every build's vector loop
    for (size_t i = 0; i < tiled.size(); ++i) tiled[i] = x[i % 8];
    std::vector<int16_t> all(65536);
    for (int i = 0; i < 65536; ++i) all[i] = static_cast<int16_t>(i - 32768);
    volatile float one = 1.0f, three = 3.0f;
    const int saved = std::fegetround();
    for (const Mode& m : modes) {
        SCOPED_TRACE("mode " + std::to_string(m.mode));
        std::vector<int16_t> r(40), t(40), c(40);
        std::vector<float> s(65536), sWant(65536);
        std::fesetround(m.mode);
        const float before = one / three;
        k::roundedMono(tiled.data(), r.data(), 40);
        k::truncatedMono(tiled.data(), t.data(), 40);
        k::clampedMono(tiled.data(), c.data(), 40);
        k::scaledMono(all.data(), s.data(), 65536);
        const float after = one / three;
        for (int i = 0; i < 65536; ++i) {
            volatile double product = all[i] * 3.051850947599719e-05;
            sWant[i] = static_cast<float>(product);
        }
        std::fesetround(saved);
        EXPECT_EQ(after, before);
        for (int i = 0; i < 40; ++i) {
            EXPECT_EQ(r[i], m.rounded[i % 8]) << "rounded index " << i;
            EXPECT_EQ(t[i], truncated[i % 8]) << "truncated index " << i;
            EXPECT_EQ(c[i], i % 8 == 7 ? -32767 : truncated[i % 8]) << "clamped index " << i;
        }
        const auto same = std::mismatch(s.begin(), s.end(), sWant.begin()).first - s.begin();
        EXPECT_EQ(same, 65536) << "scaled: values before the first difference";
    }
}

// Every float in [-1, 1] and a little beyond (by bit pattern, both signs) through the clamped
// kernel, against the exact double product truncated. Optimised builds visit every float for
// the AVX2 and AVX-512 builds (which form the product in single precision, rounded toward
// zero) and every 13th for the builds that form it in double; debug and sanitizer builds
// (GCC's, the only ones that build the tests) take an even sample.
TEST_P(KernelValues, ClampedTruncatesTheExactProductOfEveryFloatInRange) {
    const bool single = GetParam() >= Isa::Avx2;
#if defined(__OPTIMIZE__) && !defined(__SANITIZE_ADDRESS__)
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
            k::clampedMono(x.data(), got.data(), kBlock);
            for (uint32_t i = 0; i < kBlock; ++i) {
                const float c = x[i] < -1.0f ? -1.0f : x[i] > 1.0f ? 1.0f : x[i];
                want[i] = static_cast<int16_t>(static_cast<int32_t>(static_cast<double>(c) * 32767.0));
            }
            if (std::memcmp(got.data(), want.data(), kBlock * sizeof(int16_t)) != 0) {
                for (uint32_t i = 0; i < kBlock; ++i)
                    ASSERT_EQ(got[i], want[i]) << "x " << ::testing::PrintToString(x[i]) << " index " << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Convert, KernelValues, ::testing::Values(Isa::Portable, Isa::Sse2, Isa::Avx2, Isa::Avx512),
                         [](const auto& info) { return std::string(dsp::cpu::name(info.param)); });

}  // namespace
