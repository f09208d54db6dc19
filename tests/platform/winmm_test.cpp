// The file stand-in the wave reader and writer sit on, held to a plain byte array; its chunk
// walking and writing are checked through the reader and writer themselves.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/winmm.h"
#include "wavefile/riff_builder.h"

using namespace dsp::platform;

// Random reads, writes and seeks through buffers of several sizes behave like a plain byte
// array: every read returns what the array holds, and the file ends up equal to the array.
class MmioBuffering : public ::testing::TestWithParam<LONG> {};

TEST_P(MmioBuffering, MatchesAByteArrayModel) {
    wavetest::TempDir dir;
    const std::string path = dir.file("model.bin");
    HMMIO file = mmioOpenA(const_cast<char*>(path.c_str()), nullptr, MMIO_CREATE | MMIO_READWRITE);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(mmioSetBuffer(file, nullptr, GetParam(), 0), MMSYSERR_NOERROR);
    std::vector<char> model;
    LONG position = 0;
    std::mt19937 rng(1234);
    const int weights[] = {0, 0, 0, 1, 1, 1, 2, 3, 3, 3, 4};  // write, read, seek, hop, end
    for (int step = 0; step < 20000; ++step) {
        const int op = weights[rng() % 11];
        const LONG count = LONG(rng() % 3 == 0 ? rng() % 20000 : rng() % 40);
        if (op == 0) {  // write
            std::vector<char> data(static_cast<size_t>(count));
            for (char& c : data) c = char(rng());
            ASSERT_EQ(mmioWrite(file, data.data(), count), count) << "step " << step;
            if (count > 0 && model.size() < size_t(position + count)) model.resize(size_t(position + count));
            if (count > 0) std::memcpy(model.data() + position, data.data(), data.size());
            position += count;
        } else if (op == 1) {  // read
            std::vector<char> data(static_cast<size_t>(count));
            const LONG expected = std::max<LONG>(0, std::min<LONG>(count, LONG(model.size()) - position));
            ASSERT_EQ(mmioRead(file, data.data(), count), expected) << "step " << step;
            for (LONG i = 0; i < expected; ++i)
                ASSERT_EQ(data[size_t(i)], model[size_t(position + i)]) << "step " << step << " byte " << i;
            position += expected;
        } else if (op == 2) {  // seek from the start, sometimes a little past the end
            const LONG target = LONG(rng() % (model.size() + 10));
            ASSERT_EQ(mmioSeek(file, target, SEEK_SET), target);
            position = target;
        } else if (op == 3) {  // short hops around the position, as chunk fix-ups do
            const LONG target = std::max<LONG>(0, position + LONG(rng() % 101) - 50);
            ASSERT_EQ(mmioSeek(file, target - position, SEEK_CUR), target);
            position = target;
        } else {
            ASSERT_EQ(mmioSeek(file, 0, SEEK_END), LONG(model.size())) << "step " << step;
            ASSERT_EQ(mmioSeek(file, position, SEEK_SET), position);
            if (rng() % 8 == 0) {
                ASSERT_EQ(mmioFlush(file, MMIO_EMPTYBUF), MMSYSERR_NOERROR);
            }
        }
    }
    ASSERT_EQ(mmioClose(file, 0), MMSYSERR_NOERROR);
    EXPECT_TRUE(wavetest::readFile(path) == std::string(model.begin(), model.end())) << "the file differs from the model";
}

INSTANTIATE_TEST_SUITE_P(BufferSizes, MmioBuffering, ::testing::Values(0, 7, 4096, 131072));
