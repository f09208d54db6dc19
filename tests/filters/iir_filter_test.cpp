// IIR filter effect: type selection. (Responses and stereo lane independence are covered on the
// cascade itself, the chain behaviour with the other effects.)
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp.h"

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

}  // namespace
