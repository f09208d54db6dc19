// Which frames of a call each variant converts with its vector formula and which with the
// reference, as chosen by the processor switches; the documented sample values; the copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "convert/convert.h"
#include "convert/expected.h"
#include "dsp.h"
#include "support/levels.h"

namespace {

struct Switches { bool mmx, amd3dnow, sse; };

class SwitchGuard {
public:
    explicit SwitchGuard(Switches s) { set(s); }
    ~SwitchGuard() { set({false, false, false}); }
    static void set(Switches s) {
        dspEnableMmx(s.mmx);
        dspEnable3dnow(s.amd3dnow);
        dspEnableSse(s.sse);
    }
};

// Vector block sizes of one variant, in frames (0: that path is reference only).
struct Layout {
    const char* name;
    Switches switches;
    uint32_t inSplit, inMix, inMono;
    uint32_t outStereo, outDuplicated, outMono;
    bool alignedHead;                  // frames before inL's first 16-byte boundary go first
    int16_t (*outFormula)(float);      // the vector part's float-to-int16 rule
};
inline void PrintTo(const Layout& c, std::ostream* os) { *os << c.name; }  // case names in test logs

const Layout kReference{"reference", {false, false, false}, 0, 0, 0, 0, 0, 0, false, expected::reference};
const Layout k3dnow{"amd3dnow", {false, true, false}, 2, 4, 4, 2, 4, 4, false, expected::truncated};
const Layout kSse{"sse", {false, false, true}, 4, 4, 8, 4, 0, 8, true, expected::rounded};
const Layout kBoth{"amd3dnow_and_sse", {true, true, true}, 2, 4, 4, 2, 4, 4, false, expected::truncated};

// Whether frame i of `frames` is a vector frame: after `head` reference frames come whole
// blocks, then the reference again.
bool isVector(uint32_t i, uint32_t frames, uint32_t block, uint32_t head = 0) {
    if (block == 0) return false;
    head = std::min(head, frames);
    return i >= head && i < head + (frames - head) / block * block;
}

class Variants : public ::testing::TestWithParam<Layout> {};

// Each call shape both ways: interleaved stereo split into two buffers and back; stereo mixed
// into one buffer, and one buffer duplicated into stereo; mono.
struct Shape {
    const char* name;
    uint32_t channels;
    bool withRight;
    uint32_t Layout::*inBlock;
    uint32_t Layout::*outBlock;
    bool headFirst;  // out: if the variant puts the frames before a 16-byte boundary first
};
const Shape kShapes[] = {{"stereo", 2, true, &Layout::inSplit, &Layout::outStereo, true},
                         {"mix/duplicated", 2, false, &Layout::inMix, &Layout::outDuplicated, false},
                         {"mono", 1, true, &Layout::inMono, &Layout::outMono, true}};

// In: values whose reference and widened forms differ and whose halved sum rounds down, so each
// output shows which rule made it (mono reads the same samples one by one); a trailing partial
// frame (`k` extra bytes) is ignored and an unused right buffer left alone. Out: inputs at a
// k-float offset from a 16-byte boundary (inR at the same offset); left -1.5 gives -32767
// through the reference and -32768 through any vector part; right, three quarters of a count,
// gives 0 truncated and 1 rounded, so it shows which vector rule ran.
TEST_P(Variants, SplitVectorBlocksFromTheRemainder) {
    const Layout& v = GetParam();
    SwitchGuard guard(v.switches);
    std::vector<int16_t> pcm(46);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = (i / 2) % 2 ? (i % 2 ? 2 : -3) : (i % 2 ? -20001 : 12345);
    alignas(16) float left[32], right[32];
    std::fill(left, left + 32, -1.5f);
    std::fill(right, right + 32, 0.75f / 32767);
    auto one = [](bool vector, int s) { return vector ? expected::widened(s) : expected::reference(s); };
    for (dsp::cpu::Isa level : dsptest::levels()) {
        const dsp::cpu::ForceLevel force(level);
        for (uint32_t frames = 0; frames <= 21; ++frames) {
            for (uint32_t k = 0; k < 4; ++k) {
                for (const Shape& s : kShapes) {
                    SCOPED_TRACE(::testing::Message() << dsp::cpu::name(level) << " " << s.name << " frames "
                                                      << frames << " k " << k);
                    const bool split = s.channels == 2 && s.withRight;
                    std::vector<float> l(frames + 1, -777.0f), r(frames + 1, -777.0f);
                    dsp::pcmToFloat(pcm.data(), 2 * s.channels * frames + k % (2 * s.channels), l.data(),
                                    s.withRight ? r.data() : nullptr, s.channels);
                    for (uint32_t i = 0; i < frames; ++i) {
                        const bool vec = isVector(i, frames, v.*s.inBlock);
                        const int a = pcm[s.channels * i], b = pcm[s.channels * i + 1];
                        const float mixed = vec ? expected::summed(a, b) : expected::referenceMix(a, b);
                        EXPECT_EQ(l[i], s.channels == 2 && !split ? mixed : one(vec, a)) << "in, left " << i;
                        EXPECT_EQ(r[i], split ? one(vec, b) : -777.0f) << "in, right " << i;
                    }
                    EXPECT_EQ(l[frames], -777.0f);
                    EXPECT_EQ(r[frames], -777.0f);

                    const uint32_t head = s.headFirst && v.alignedHead ? (4 - k) % 4 : 0, samples = s.channels * frames;
                    std::vector<int16_t> out(samples + 1, 0x5a5a);
                    dsp::floatToPcm(left + k, s.withRight ? right + k : nullptr, frames, out.data(), s.channels);
                    for (uint32_t i = 0; i < samples; ++i) {
                        const float x = i % 2 && split ? right[0] : left[0];
                        const bool vec = isVector(i / s.channels, frames, v.*s.outBlock, head);
                        EXPECT_EQ(out[i], vec ? v.outFormula(x) : expected::reference(x)) << "out, sample " << i;
                    }
                    EXPECT_EQ(out[samples], 0x5a5a);
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Convert, Variants, ::testing::Values(kReference, k3dnow, kSse, kBoth),
                         [](const auto& info) { return std::string(info.param.name); });

// The documented values of the reference conversions.
TEST(ConvertReference, DocumentedValues) {
    const int16_t pcm[] = {32767, -32768, 0, 1};
    float out[5];
    dsp::pcmToFloat(pcm, sizeof pcm, out, nullptr, 1);
    EXPECT_EQ(out[0], 1.0f);
    EXPECT_EQ(out[1], static_cast<float>(-32768.0 / 32767.0));
    EXPECT_EQ(out[2], 0.0f);

    const int16_t mix[] = {-3, 0, 3, 0, -32768, -32768, 32767, 32767, -1, 0};
    const float mixWant[] = {-2 / 32767.0f, 1 / 32767.0f, -32768 / 32767.0f, 1.0f, -1 / 32767.0f};
    dsp::pcmToFloat(mix, sizeof mix, out, nullptr, 2);  // halving rounds toward minus infinity
    for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i], mixWant[i]) << "mix index " << i;

    const float x[] = {1.0f, 1.5f, -1.5f, 0.99999f, -0.5f, 0.75f / 32767, NAN, -1.0f};
    const int16_t want[] = {32767, 32767, -32767, 32766, -16383, 0, -32767, -32767};
    int16_t got[8];
    dsp::floatToPcm(x, nullptr, 8, got, 1);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(got[i], want[i]) << "index " << i;
}

// Every copy against a step-by-step forward model: 16-byte steps, each read whole before it is
// written (so a destination 16 or 32 bytes past the source repeats the first block or two),
// then single bytes. blockCopy leaves any rest below 16 alone; copyBytes steps by 16 only when
// a switch is on, and copies the rest byte by byte. At every processor level.
TEST(Copies, MatchTheStepByStepForwardCopyForEveryOverlap) {
    struct Copier { const char* name; void (*copy)(const void*, void*, uint32_t); Switches switches; };
    const Copier copiers[] = {{"blockCopy", dsp::blockCopy, {false, false, false}},
                              {"copyBytes", dsp::copyBytes, {false, false, false}},
                              {"copyBytes mmx", dsp::copyBytes, {true, false, false}},
                              {"copyBytes sse", dsp::copyBytes, {false, false, true}}};
    auto step = [](std::vector<unsigned char>& b, size_t src, size_t dst, uint32_t from, uint32_t to, uint32_t n) {
        for (uint32_t at = from; at + n <= to; at += n) {
            unsigned char held[16];
            std::copy_n(&b[src + at], n, held);
            std::copy_n(held, n, &b[dst + at]);
        }
    };
    for (dsp::cpu::Isa level : dsptest::levels()) {
        const dsp::cpu::ForceLevel force(level);
        for (const Copier& c : copiers) {
            SwitchGuard guard(c.switches);
            for (int shift : {-17, -16, -1, 0, 3, 16, 17, 32, 48, 144, 2000}) {
                for (uint32_t bytes : {0u, 15u, 16u, 33u, 48u, 160u, 1024u, 1500u}) {
                    SCOPED_TRACE(::testing::Message() << dsp::cpu::name(level) << " " << c.name << " shift "
                                                      << shift << " bytes " << bytes);
                    std::vector<unsigned char> buf(8192);
                    for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<unsigned char>(i * 13 + 5);
                    std::vector<unsigned char> want = buf;
                    const size_t src = 1024, dst = src + shift;
                    const bool rest = c.copy == dsp::copyBytes, blocks = !rest || c.switches.mmx || c.switches.sse;
                    const uint32_t blocked = blocks ? bytes & ~15u : 0;
                    step(want, src, dst, 0, blocked, 16);
                    if (rest) step(want, src, dst, blocked, bytes, 1);
                    c.copy(buf.data() + src, buf.data() + dst, bytes);
                    const auto same = std::mismatch(buf.begin(), buf.end(), want.begin()).first - buf.begin();
                    ASSERT_EQ(same, 8192) << "bytes before the first difference";
                }
            }
        }
    }
}

}  // namespace
