// IIR filter effect: type selection, history across chain reconfiguration, handle checks.
// (Responses and stereo lane independence are covered on the cascade itself.)
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp.h"
#include "support/helpers.h"

namespace {

TEST(IirFilterEffect, OnlyTypeOneIsHighpass) {
    // A constant input settles to the DC gain: 0 for the highpass, -1 dB for an even-order lowpass.
    const std::vector<int16_t> dc(8192, 16000);
    for (int32_t type : {0, 1, 2, -1, 1000}) {
        dsp_effect* e = initIirFilter(8192, 1, 44100, 4, 1000.0f, type);
        ASSERT_NE(e, nullptr);
        std::vector<int16_t> out(dc.size());
        ASSERT_TRUE(doIirFilter(e, dc.data(), out.data(), 8192 * 2));
        const double expected = type == 1 ? 0.0 : 16000.0 * std::pow(10.0, -1.0 / 20.0);
        EXPECT_NEAR(out.back(), expected, 2.0) << "type " << type;
        EXPECT_TRUE(termIirFilter(e));
    }
}

TEST(IirFilterEffect, ChainKeepsHistoryOnNewBlockSizeAndResetsOnNewRate) {
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> dist(-20000, 20000);
    std::vector<int16_t> a(2048), b(1024), c(1024);
    for (auto* v : {&a, &b, &c})
        for (int16_t& x : *v) x = static_cast<int16_t>(dist(gen));

    dsp_chain* chain = dspCreate(1024, 2, 44100);
    ASSERT_EQ(dspAdd(chain, initIirFilter(1024, 2, 44100, 6, 3000.0f, 0), 1), 1u);
    dsp_effect* ref = initIirFilter(1024, 2, 44100, 6, 3000.0f, 0);
    std::vector<int16_t> got(2048), want(2048);

    ASSERT_EQ(dspSend(chain, a.data(), got.data(), 2048 * 2), 2048u * 2);
    doIirFilter(ref, a.data(), want.data(), 2048 * 2);
    ASSERT_EQ(got, want);

    dspAdjust(chain, 512, 2, 44100);  // smaller blocks, same rate: history continues
    ASSERT_EQ(dspSend(chain, b.data(), got.data(), 1024 * 2), 1024u * 2);
    doIirFilter(ref, b.data(), want.data(), 1024 * 2);
    for (size_t i = 0; i < b.size(); ++i) ASSERT_EQ(got[i], want[i]) << "sample " << i;
    termIirFilter(ref);

    dspAdjust(chain, 512, 2, 48000);  // new rate: redesigned, history cleared
    EXPECT_EQ(dspGetDstRate(chain), 48000u);
    dsp_effect* fresh = initIirFilter(512, 2, 48000, 6, 3000.0f, 0);
    dspSend(chain, c.data(), got.data(), 1024 * 2);
    doIirFilter(fresh, c.data(), want.data(), 1024 * 2);
    for (size_t i = 0; i < c.size(); ++i) ASSERT_EQ(got[i], want[i]) << "sample " << i;
    termIirFilter(fresh);
    dspDestroy(chain);
}

TEST(IirFilterEffect, RejectsOtherKindsAndNull) {
    std::vector<int16_t> pcm(64, 1000), out(64, 0);
    dsptest::ForeignEffect other(dsp::kKindChorus);
    for (dsp_effect* h : other.handles()) EXPECT_FALSE(doIirFilter(h, pcm.data(), out.data(), 128) || termIirFilter(h));
    EXPECT_EQ(out, std::vector<int16_t>(64, 0));
}

}  // namespace
