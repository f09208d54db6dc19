#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dsp.h"
#include "support/signals.h"
#include "support/tool_runner.h"
#include "wavefile/riff_builder.h"

using wavetest::le32;

const dsp_wave_format kStereo16 = {1, 2, 44100, 176400, 4, 16, 0};

// Data sizes around the pad rule: odd sizes get one zero byte, sizes are fixed at the close.
// The format goes out verbatim in an 18-byte chunk, even a cbSize with no extra bytes behind it.
class WavefileWriterSizes : public ::testing::TestWithParam<int32_t> {};

TEST_P(WavefileWriterSizes, SizesFixedAtClose) {
    const int32_t n = GetParam();
    wavetest::TempDir dir;
    const std::string path = dir.file("sized.wav");
    std::string payload(size_t(n), '\0');
    std::mt19937 rng(static_cast<uint32_t>(n));
    for (char& c : payload) c = char(rng() | 1);  // never zero, so the pad byte is visible
    const dsp_wave_format odd = {0xFFFE, 2, 22050, 12345, 4, 16, 22};
    dsp_wavefile_out* out = initWavefileOut(path.c_str(), &odd);
    ASSERT_EQ(std::memcmp(getFormatWavefileOut(out), &odd, 18), 0);
    // Written in uneven pieces through the 128 KiB buffer.
    for (int32_t at = 0; at < n;) {
        const int32_t piece = std::min<int32_t>(n - at, 1 + int32_t(rng() % 70000));
        ASSERT_EQ(writeWavefileOut(out, payload.data() + at, piece), piece);
        at += piece;
    }
    EXPECT_EQ(termWavefileOut(out), n);
    const std::string file = wavetest::readFile(path);
    const std::string fmt = wavetest::chunk("fmt ", std::string(reinterpret_cast<const char*>(&odd), 18));
    const std::string pad(size_t(n & 1), '\0');
    EXPECT_TRUE(file == "RIFF" + le32(38 + uint32_t(n) + (n & 1)) + "WAVE" + fmt + "data" + le32(n) + payload + pad);
}

INSTANTIATE_TEST_SUITE_P(DataSizes, WavefileWriterSizes, ::testing::Values(0, 1, 307201));

TEST(WavefileWriter, FlushKeepsPlaceholders) {
    wavetest::TempDir dir;
    const std::string path = dir.file("flushed.wav");
    dsp_wavefile_out* out = initWavefileOut(path.c_str(), &kStereo16);
    const std::vector<int16_t> pcm = dsptest::pcmNoise(500, 7);
    ASSERT_EQ(writeWavefileOut(out, pcm.data(), 1000), 1000);
#if !defined(_WIN32)  // on Windows the system's buffered I/O decides when bytes reach the disk
    EXPECT_EQ(wavetest::readFile(path), "") << "the header and data stay in the buffer until a flush";
#endif
    EXPECT_TRUE(flushWavefileOut(out));
    const std::string mid = wavetest::readFile(path);
    ASSERT_EQ(mid.size(), 1046u);
    EXPECT_EQ(mid.substr(4, 4) + mid.substr(42, 4), le32(0) + le32(307200)) << "RIFF and data sizes";
    EXPECT_EQ(termWavefileOut(out), 1000);
    const std::string done = wavetest::readFile(path);
    EXPECT_EQ(done.substr(4, 4) + done.substr(42, 4), le32(1038) + le32(1000));
}

// Handles that could not open do nothing.
TEST(WavefileWriter, ClosedHandles) {
    wavetest::TempDir dir;
    const char bytes[4] = {1, 2, 3, 4};
    dsp_wavefile_out* unopened = initWavefileOut((dir.path() + "/no/such/dir/x.wav").c_str(), &kStereo16);
    ASSERT_NE(unopened, nullptr);
    EXPECT_EQ(writeWavefileOut(unopened, bytes, 4), 0);
    EXPECT_FALSE(flushWavefileOut(unopened));
    EXPECT_EQ(termWavefileOut(unopened), 0);

    dsp_wavefile_out* noFormat = initWavefileOut(dir.file("none.wav").c_str(), nullptr);
    EXPECT_EQ(writeWavefileOut(noFormat, bytes, 4), 0);
    EXPECT_EQ(termWavefileOut(noFormat), 0);
    EXPECT_EQ(wavetest::readFile(dir.file("none.wav")), "") << "no file is created without a format";

    dsp_wavefile_out* out = initWavefileOut(dir.file("neg.wav").c_str(), &kStereo16);
    EXPECT_EQ(writeWavefileOut(out, bytes, -4), 0);
    EXPECT_EQ(writeWavefileOut(out, nullptr, 4), 0);
    EXPECT_EQ(termWavefileOut(out), 0);
}

// Files the writer makes are read back exactly by an independent reader, Python's wave module
// (sox reads them in the dsptool tests).
struct ForeignCase { uint16_t channels; uint32_t rate, frames; };

class WavefileWriterForeignReaders : public ::testing::TestWithParam<ForeignCase> {};

TEST_P(WavefileWriterForeignReaders, ReadBackExactly) {
#if defined(_WIN32)
    GTEST_SKIP() << "the independent readers are Linux programs";
#endif
    const ForeignCase c = GetParam();
    wavetest::TempDir dir;
    const std::string wav = dir.file("ours.wav");
    const dsp_wave_format format = {1, c.channels, c.rate, c.rate * c.channels * 2u, uint16_t(c.channels * 2), 16, 0};
    const std::vector<int16_t> pcm = dsptest::pcmNoise(size_t{c.frames} * c.channels, c.frames);
    const std::string raw(reinterpret_cast<const char*>(pcm.data()), pcm.size() * 2);
    dsp_wavefile_out* out = initWavefileOut(wav.c_str(), &format);
    ASSERT_EQ(writeWavefileOut(out, raw.data(), int32_t(raw.size())), int32_t(raw.size()));
    ASSERT_EQ(termWavefileOut(out), int32_t(raw.size()));
    std::string py;
    ASSERT_EQ(tooltest::runShell("/usr/bin/python3 -c \"import wave,sys; w=wave.open(sys.argv[1]); "
                                 "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()); "
                                 "open(sys.argv[2],'wb').write(w.readframes(w.getnframes()))\" " +
                                     wav + " " + dir.file("py.raw"),
                                 py),
              0)
        << py;
    EXPECT_EQ(py, std::to_string(c.channels) + " 2 " + std::to_string(c.rate) + " " + std::to_string(c.frames) + "\n");
    EXPECT_TRUE(wavetest::readFile(dir.file("py.raw")) == raw) << "python's samples differ";
}

INSTANTIATE_TEST_SUITE_P(Formats, WavefileWriterForeignReaders,
                         ::testing::Values(ForeignCase{1, 8000, 8001}, ForeignCase{2, 48000, 1}));
