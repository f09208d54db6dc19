// Which frames of a call each variant converts with its vector formula and which with the
// reference, as chosen by the processor switches; plus the documented sample values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "convert/convert.h"
#include "convert/expected.h"
#include "convert/kernels.h"
#include "dsp.h"

namespace {

struct Switches {
    bool mmx, amd3dnow, sse;
};

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

// Frames [head, head + blocks) are vector frames; the others go through the reference.
struct Split {
    uint32_t head, end;
    bool vector(uint32_t i) const { return i >= head && i < end; }
};
Split split(uint32_t frames, uint32_t block, uint32_t head = 0) {
    if (block == 0) return {0, 0};
    head = std::min(head, frames);
    return {head, head + (frames - head) / block * block};
}

// Samples whose reference and widened values differ, so each output shows which rule made it.
constexpr int16_t kLeft = 12345, kRight = -20001;
constexpr float kSentinel = -777.0f;
constexpr int16_t kPcmSentinel = 0x5a5a;

bool same(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class Variants : public ::testing::TestWithParam<Layout> {};

TEST_P(Variants, Int16ToFloatSplitsVectorBlocksFromTheRemainder) {
    const Layout& v = GetParam();
    SwitchGuard guard(v.switches);
    for (uint32_t frames = 0; frames <= 19; ++frames) {
        for (uint32_t extra = 0; extra < 4; ++extra) {  // trailing partial frame is ignored
            SCOPED_TRACE("frames " + std::to_string(frames) + " extra bytes " + std::to_string(extra));
            std::vector<int16_t> stereo(2 * frames + 2), mono(frames + 2);
            for (uint32_t i = 0; i < frames + 1; ++i) {
                stereo[2 * i] = i % 2 ? int16_t{-3} : kLeft;
                stereo[2 * i + 1] = i % 2 ? int16_t{0} : kRight;
                mono[i] = kLeft;
            }
            std::vector<float> l(frames + 2, kSentinel), r(frames + 2, kSentinel);
            dsp::pcmToFloat(stereo.data(), 4 * frames + extra, l.data(), r.data(), 2);
            Split s = split(frames, v.inSplit);
            for (uint32_t i = 0; i < frames; ++i) {
                const int16_t a = stereo[2 * i], b = stereo[2 * i + 1];
                EXPECT_TRUE(same(l[i], s.vector(i) ? expected::widened(a) : expected::reference(a))) << "split L " << i;
                EXPECT_TRUE(same(r[i], s.vector(i) ? expected::widened(b) : expected::reference(b))) << "split R " << i;
            }
            EXPECT_EQ(l[frames], kSentinel);
            EXPECT_EQ(r[frames], kSentinel);

            std::fill(l.begin(), l.end(), kSentinel);
            std::fill(r.begin(), r.end(), kSentinel);
            dsp::pcmToFloat(stereo.data(), 4 * frames + extra, l.data(), nullptr, 2);
            s = split(frames, v.inMix);
            for (uint32_t i = 0; i < frames; ++i) {
                const int16_t a = stereo[2 * i], b = stereo[2 * i + 1];
                EXPECT_TRUE(same(l[i], s.vector(i) ? expected::summed(a, b) : expected::referenceMix(a, b))) << "mix " << i;
            }
            EXPECT_EQ(l[frames], kSentinel);
            EXPECT_EQ(r[0], kSentinel) << "a mono mix leaves the right buffer alone";

            std::fill(l.begin(), l.end(), kSentinel);
            dsp::pcmToFloat(mono.data(), 2 * frames + extra % 2, l.data(), r.data(), 1);
            s = split(frames, v.inMono);
            for (uint32_t i = 0; i < frames; ++i)
                EXPECT_TRUE(same(l[i], s.vector(i) ? expected::widened(kLeft) : expected::reference(kLeft))) << "mono " << i;
            EXPECT_EQ(l[frames], kSentinel);
            EXPECT_EQ(r[0], kSentinel) << "mono input leaves the right buffer alone";
        }
    }
}

// Inputs at a 0..3-float offset from a 16-byte boundary (inR at the same offset). Left -1.5
// gives -32767 through the reference and -32768 through any vector part; right, three quarters
// of a count, gives 0 truncated and 1 rounded, so it shows which vector rule ran.
TEST_P(Variants, FloatToInt16SplitsHeadVectorBlocksAndRemainder) {
    const Layout& v = GetParam();
    SwitchGuard guard(v.switches);
    alignas(16) float left[32], right[32];
    for (uint32_t offset = 0; offset < 4; ++offset) {
        for (uint32_t frames = 0; frames <= 21; ++frames) {
            SCOPED_TRACE("offset " + std::to_string(offset) + " frames " + std::to_string(frames));
            for (int i = 0; i < 32; ++i) {
                left[i] = -1.5f;
                right[i] = 0.75f / 32767;
            }
            auto want = [&](uint32_t sample, bool vector) {
                const float x = sample % 2 ? right[0] : left[0];
                return vector ? v.outFormula(x) : expected::reference(x);
            };
            const float* inL = left + offset;
            const float* inR = right + offset;
            const uint32_t head = v.alignedHead ? (4 - offset) % 4 : 0;
            std::vector<int16_t> pcm(2 * frames + 2, kPcmSentinel);

            dsp::floatToPcm(inL, inR, frames, pcm.data(), 2);
            Split s = split(frames, v.outStereo, head);
            for (uint32_t i = 0; i < 2 * frames; ++i) EXPECT_EQ(pcm[i], want(i, s.vector(i / 2))) << "stereo sample " << i;
            EXPECT_EQ(pcm[2 * frames], kPcmSentinel);

            std::fill(pcm.begin(), pcm.end(), kPcmSentinel);
            dsp::floatToPcm(inL, nullptr, frames, pcm.data(), 2);
            s = split(frames, v.outDuplicated);
            for (uint32_t i = 0; i < 2 * frames; ++i)
                EXPECT_EQ(pcm[i], s.vector(i / 2) ? -32768 : -32767) << "duplicated sample " << i;
            EXPECT_EQ(pcm[2 * frames], kPcmSentinel);

            std::fill(pcm.begin(), pcm.end(), kPcmSentinel);
            dsp::floatToPcm(inL, inR, frames, pcm.data(), 1);
            s = split(frames, v.outMono, head);
            for (uint32_t i = 0; i < frames; ++i) EXPECT_EQ(pcm[i], s.vector(i) ? -32768 : -32767) << "mono sample " << i;
            EXPECT_EQ(pcm[frames], kPcmSentinel);
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
    EXPECT_NEAR(out[1], -1.0000305, 1e-7);
    EXPECT_EQ(out[2], 0.0f);

    const int16_t mix[] = {-3, 0, 3, 0, -32768, -32768, 32767, 32767, -1, 0};
    dsp::pcmToFloat(mix, sizeof mix, out, nullptr, 2);
    EXPECT_EQ(out[0], static_cast<float>(-2 / 32767.0));  // halving rounds toward minus infinity
    EXPECT_EQ(out[1], static_cast<float>(1 / 32767.0));
    EXPECT_EQ(out[2], static_cast<float>(-32768 / 32767.0));
    EXPECT_EQ(out[3], 1.0f);
    EXPECT_EQ(out[4], static_cast<float>(-1 / 32767.0));

    const float x[] = {1.0f, 1.5f, -1.5f, 0.99999f, -0.5f, 0.75f / 32767, NAN, -1.0f};
    const int16_t want[] = {32767, 32767, -32767, 32766, -16383, 0, -32767, -32767};
    int16_t got[8];
    dsp::floatToPcm(x, nullptr, 8, got, 1);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(got[i], want[i]) << "index " << i;
}

// Step-by-step forward copy: a destination 16 or 32 bytes past the source repeats the first
// one or two blocks; one before the source moves the data down intact. Through the dispatch
// (any count, the rest below 16 untouched) and through every kernel build.
TEST(BlockCopy, CopiesForwardSixteenBytesPerStep) {
    using Copy = void (*)(const void*, void*, uint32_t);
    struct Build {
        const char* name;
        Copy copy;
        bool bytes;  // counts bytes (dispatch) rather than 16-byte blocks (kernels)
    };
    std::vector<Build> builds = {{"blockCopy", dsp::blockCopy, true}, {"portable", dsp::kernels::portable::copy16, false}};
#if DSP_X86_KERNELS
    builds.push_back({"sse2", dsp::kernels::sse2::copy16, false});
    if (dsp::cpu::detected() >= dsp::cpu::Isa::Avx2) builds.push_back({"avx2", dsp::kernels::avx2::copy16, false});
    if (dsp::cpu::detected() >= dsp::cpu::Isa::Avx512) builds.push_back({"avx512", dsp::kernels::avx512::copy16, false});
#endif
    for (const Build& build : builds) {
        for (int shift : {-16, 0, 16, 32, 48, 144}) {
            for (uint32_t bytes : {16u, 48u, 160u, 1024u}) {
                SCOPED_TRACE(std::string(build.name) + " shift " + std::to_string(shift) + " bytes " + std::to_string(bytes));
                std::vector<unsigned char> buf(2048);
                for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<unsigned char>(i * 7 + 1);
                const std::vector<unsigned char> before = buf;
                const size_t src = 512, dst = src + shift;
                build.copy(buf.data() + src, buf.data() + dst, build.bytes ? bytes + 15 : bytes / 16);
                for (size_t i = 0; i < bytes; ++i) {
                    size_t from = i;  // a step reads bytes an earlier step already wrote
                    while (shift > 0 && from >= static_cast<size_t>(shift)) from -= shift;
                    ASSERT_EQ(buf[dst + i], before[src + from]) << "byte " << i;
                }
                for (size_t i = 0; i < buf.size(); ++i) {
                    if (i < dst || i >= dst + bytes) {
                        ASSERT_EQ(buf[i], before[i]) << "outside byte " << i;
                    }
                }
            }
        }
    }
}

// copyBytes of any count and any overlap gives what the forward copy gives: 16-byte steps
// (each read whole before it is written) for the largest multiple of 16 when a switch is on,
// then single bytes; a destination inside the source repeats the bytes between the two starts.
TEST(CopyBytes, MatchesTheForwardCopyForEveryOverlap) {
    for (Switches s : {Switches{false, false, false}, Switches{true, false, false}, Switches{false, false, true}}) {
        SwitchGuard guard(s);
        const bool blocks = s.mmx || s.amd3dnow || s.sse;
        for (int shift : {-17, -1, 0, 3, 16, 17, 2000}) {
            for (uint32_t bytes : {0u, 15u, 16u, 33u, 1500u}) {
                SCOPED_TRACE("switches " + std::to_string(blocks) + " shift " + std::to_string(shift) + " bytes " +
                             std::to_string(bytes));
                std::vector<unsigned char> buf(8192), want;
                for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<unsigned char>(i * 13 + 5);
                want = buf;
                const size_t src = 1024, dst = src + shift;
                uint32_t done = 0;
                if (blocks) {
                    for (; done + 16 <= bytes; done += 16) {
                        unsigned char step[16];
                        for (int k = 0; k < 16; ++k) step[k] = want[src + done + k];
                        for (int k = 0; k < 16; ++k) want[dst + done + k] = step[k];
                    }
                }
                for (uint32_t i = done; i < bytes; ++i) want[dst + i] = want[src + i];
                dsp::copyBytes(buf.data() + src, buf.data() + dst, bytes);
                for (size_t i = 0; i < buf.size(); ++i) ASSERT_EQ(buf[i], want[i]) << "byte " << i;
            }
        }
    }
}

}  // namespace
