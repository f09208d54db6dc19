#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "dsp.h"
#include "support/tool_runner.h"
#include "wavefile/riff_builder.h"

using wavetest::chunk;
using wavetest::fmtPayload;
using wavetest::riff;

const std::string kStereoFmt = fmtPayload(1, 2, 44100, 16, true);
const std::string kSamples = "abcdefghijklmnopqrstuvwx";  // 6 stereo frames

// Files read back exactly as sox wrote them, through reads of several block sizes.
class WavefileReaderSox : public ::testing::TestWithParam<uint32_t> {};

TEST_P(WavefileReaderSox, ReadsWhatSoxWrote) {
#if defined(_WIN32)
    GTEST_SKIP() << "the independent readers are Linux programs";
#endif
    const uint32_t frames = GetParam();
    wavetest::TempDir dir;
    const std::string wav = dir.file("sox.wav");
    std::string made;
    ASSERT_EQ(tooltest::runShell("sox -V1 -n -r 22050 -c 2 -b 16 " + wav + " synth 0.73 sine 440 sine 3000 gain -3 2>&1 && sox -V1 " +
                                     wav + " -t raw " + dir.file("ref.raw") + " 2>&1",
                                 made),
              0)
        << made;
    const std::string reference = wavetest::readFile(dir.file("ref.raw"));
    ASSERT_GT(reference.size(), 60000u);

    dsp_wavefile_in* in = initWavefileIn(wav.c_str(), frames);
    ASSERT_NE(in, nullptr);
    const std::string format(reinterpret_cast<const char*>(getFormatWavefileIn(in)), 16);
    EXPECT_EQ(format, fmtPayload(1, 2, 22050, 16, false)) << "PCM, 2 channels, 22050 Hz, 16 bits";
    EXPECT_EQ(getHeaderWavefileIn(in)->dwBufferLength, reference.size());
    std::string got;
    for (;;) {
        const int32_t n = readWavefileIn(in, nullptr, frames);
        ASSERT_GE(n, 0);
        if (n == 0) break;
        EXPECT_EQ(getHeaderWavefileIn(in)->dwBytesRecorded, uint32_t(n));
        got.append(getHeaderWavefileIn(in)->lpData, size_t(n));
    }
    termWavefileIn(in);
    EXPECT_TRUE(got == reference) << got.size() << " bytes read, " << reference.size() << " decoded by sox";
}

INSTANTIATE_TEST_SUITE_P(BlockFrames, WavefileReaderSox, ::testing::Values(1u, 4096u));

// The chunk walk over hand-built files: what opens, and the format and data it finds. A file
// that is missing (no bytes) or not named at all gives a closed handle like a refused one.
struct WalkCase {
    const char* name;
    std::string bytes;
    bool opens;
    uint16_t cbSize;
    std::string firstRead;  // what a read of 8 frames returns (stereo 16-bit: 32 bytes asked)
};
inline void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.name; }  // case names in test logs

class WavefileReaderWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(WavefileReaderWalk, OpensOrRefuses) {
    const WalkCase& c = GetParam();
    wavetest::TempDir dir;
    const std::string path = dir.file("walk.wav");
    if (!c.bytes.empty()) wavetest::writeFile(path, c.bytes);
    dsp_wavefile_in* in = initWavefileIn(std::string(c.name) == "unnamed" ? nullptr : path.c_str(), 8);
    ASSERT_NE(in, nullptr);
    std::vector<char> buffer(64, '#');
    const int32_t n = readWavefileIn(in, buffer.data(), 8);
    if (c.opens) {
        EXPECT_EQ(getFormatWavefileIn(in)->nChannels, 2);
        EXPECT_EQ(getFormatWavefileIn(in)->nSamplesPerSec, 44100u);
        EXPECT_EQ(getFormatWavefileIn(in)->cbSize, c.cbSize);
        EXPECT_EQ(std::string(buffer.data(), size_t(std::max(n, 0))), c.firstRead);
    } else {
        EXPECT_EQ(n, 0);
        EXPECT_EQ(seekWavefileIn(in, 4, 1), 0);
        EXPECT_EQ(timeSeekWavefileIn(in, 0.5f, 0), 0);
        EXPECT_EQ(bufSizeExtendWavefileIn(in, 16), nullptr);
        EXPECT_EQ(readWavefileIn(in, nullptr, 8), 0);
        EXPECT_EQ(getFormatWavefileIn(in)->nChannels, 0);
        EXPECT_EQ(getHeaderWavefileIn(in)->lpData, nullptr);
    }
    termWavefileIn(in);
}

const std::string kData = chunk("data", kSamples);
const std::string kFmt = chunk("fmt ", kStereoFmt);

INSTANTIATE_TEST_SUITE_P(
    Files, WavefileReaderWalk,
    ::testing::Values(
        WalkCase{"plain", riff("WAVE", kFmt + kData), true, 0, kSamples},
        WalkCase{"chunks_around", riff("WAVE", chunk("JUNK", "odd") + kFmt + chunk("LIST", "INFOxx") + kData + chunk("id3 ", "tag")),
                 true, 0, kSamples + "id3 " + wavetest::le32(3)},
        WalkCase{"fmt_40_bytes", riff("WAVE", chunk("fmt ", fmtPayload(0xFFFE, 2, 44100, 16, true, 22) + std::string(22, 'e')) + kData),
                 true, 22, kSamples},
        WalkCase{"odd_data_then_chunk", riff("WAVE", kFmt + chunk("data", "abcde") + chunk("smpl", "")), true, 0,
                 std::string("abcde\0smpl", 10) + wavetest::le32(0)},
        WalkCase{"data_before_fmt", riff("WAVE", kData + kFmt), false, 0, ""},
        WalkCase{"form_not_wave", riff("AVI ", kFmt + kData), false, 0, ""},
        WalkCase{"wave_after_another_form", riff("AVI ", chunk("late", "1")) + riff("WAVE", kFmt + kData), true, 0, kSamples},
        WalkCase{"no_data", riff("WAVE", kFmt + chunk("LIST", "INFO")), false, 0, ""},
        WalkCase{"data_beyond_riff_end", chunk("RIFF", "WAVE" + kFmt) + kData, false, 0, ""},
        WalkCase{"fmt_cut_short", riff("WAVE", kFmt + kData).substr(0, 30), false, 0, ""},
        WalkCase{"fmt_claims_4_gib", riff("WAVE", chunk("fmt ", kStereoFmt, 0xFFFFFFF0) + kData), false, 0, ""},
        WalkCase{"header_cut_short", riff("WAVE", kFmt + kData).substr(0, 11), false, 0, ""},
        WalkCase{"riff_size_zero", "RIFF" + wavetest::le32(0) + "WAVE" + kFmt + kData, false, 0, ""},
        WalkCase{"missing", "", false, 0, ""}, WalkCase{"unnamed", "", false, 0, ""}),
    [](const ::testing::TestParamInfo<WalkCase>& info) { return std::string(info.param.name); });

// Time and byte seeks on a 44.1 kHz stereo file whose data starts at byte 58 (a JUNK chunk
// before "fmt "): positions are counted from the file start.
TEST(WavefileReader, Seeks) {
    wavetest::TempDir dir;
    const std::string path = dir.file("seek.wav");
    std::string samples(44100 * 4 * 2, '\0');
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = char(i * 7 + i / 251);
    wavetest::writeFile(path, riff("WAVE", chunk("JUNK", "1234") + chunk("fmt ", kStereoFmt) + chunk("data", samples)));
    const int32_t start = 12 + 12 + 26 + 8;
    dsp_wavefile_in* in = initWavefileIn(path.c_str(), 4);
    ASSERT_EQ(seekWavefileIn(in, 0, 1), start) << "the open leaves the position on the first sample byte";

    struct TimeSeek { float seconds; int32_t mode, expected; };
    const TimeSeek timeSeeks[] = {
        {1.5f, 0, start + 264600},    // 66150 frames of 4 bytes
        {0.0000126f, 0, start},       // 0.556 frames truncate to 0
        {0.5f, 1, start + 88200},     // onward from the position
        {-0.25f, 1, start + 44100},   // and back
        {-1.0f, 1, -1},               // before the file start
        {std::numeric_limits<float>::quiet_NaN(), 0, -1},
        {1e9f, 1, -1},                // beyond what a byte offset can count
    };
    for (const TimeSeek& t : timeSeeks)
        EXPECT_EQ(timeSeekWavefileIn(in, t.seconds, t.mode), t.expected) << t.seconds << " s, mode " << t.mode;

    // Mode 0 of the byte seek counts from the first sample byte too; then a read sees the bytes there.
    EXPECT_EQ(seekWavefileIn(in, 1000, 0), start + 1000);
    char four[4];
    ASSERT_EQ(readWavefileIn(in, four, 1), 4);
    EXPECT_EQ(std::string(four, 4), samples.substr(1000, 4));
    EXPECT_EQ(seekWavefileIn(in, -4, 1), start + 1000);
    EXPECT_EQ(seekWavefileIn(in, -(start + 1001), 1), -1);
    EXPECT_EQ(seekWavefileIn(in, int32_t(samples.size()), 0), start + int32_t(samples.size()));
    EXPECT_EQ(readWavefileIn(in, four, 1), 0) << "nothing after the data";
    termWavefileIn(in);
}

// Reads alternate between the caller's buffer and the reader's own block; only the reader's
// own blocks are ever freed (the ASan build catches a double or foreign free).
TEST(WavefileReader, CallerBufferAndOwnBlock) {
    wavetest::TempDir dir;
    const std::string path = dir.file("own.wav");
    std::string samples(400, '\0');
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = char(i);
    wavetest::writeFile(path, riff("WAVE", kFmt + chunk("data", samples)));
    dsp_wavefile_in* in = initWavefileIn(path.c_str(), 10);  // own block: 40 bytes
    dsp_wave_header* header = getHeaderWavefileIn(in);
    char* own = header->lpData;
    ASSERT_NE(own, nullptr);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(own[i], 0) << "the block starts silent, byte " << i;
    header->dwUser = 77;  // the host's field

    std::vector<char>* caller = new std::vector<char>(80);
    EXPECT_EQ(readWavefileIn(in, caller->data(), 20), 80);
    EXPECT_EQ(header->lpData, caller->data());
    EXPECT_EQ(header->dwBytesRecorded, 80u);
    EXPECT_EQ(std::string(caller->data(), 80), samples.substr(0, 80));
    delete caller;  // the host frees its buffer; the reader must not touch it again

    EXPECT_EQ(readWavefileIn(in, nullptr, 10), 40);
    EXPECT_EQ(header->lpData, own) << "a null buffer reads into the reader's own block";
    EXPECT_EQ(std::string(own, 40), samples.substr(80, 40));
    EXPECT_EQ(readWavefileIn(in, nullptr, 1000), 40) << "clamped to the own block";

    char* bigger = static_cast<char*>(bufSizeExtendWavefileIn(in, 50));
    ASSERT_NE(bigger, nullptr);
    EXPECT_EQ(header->lpData, bigger);
    EXPECT_EQ(seekWavefileIn(in, 0, 1), 46 + 160) << "extending neither reads nor moves";
    EXPECT_EQ(header->dwBufferLength, 400u) << "the data chunk's size stays";
    EXPECT_EQ(readWavefileIn(in, nullptr, 50), 200);
    EXPECT_EQ(std::string(bigger, 200), samples.substr(160, 200));
    EXPECT_EQ(readWavefileIn(in, nullptr, 50), 40) << "the rest";
    EXPECT_EQ(readWavefileIn(in, nullptr, 50), 0);
    EXPECT_EQ(header->dwBytesRecorded, 0u);
    EXPECT_EQ(header->dwUser, 77u);
    EXPECT_EQ(header->lpNext, nullptr);

    std::vector<char> last(8);
    EXPECT_EQ(seekWavefileIn(in, 0, 0), 46);
    EXPECT_EQ(readWavefileIn(in, last.data(), 2), 8);
    termWavefileIn(in);  // frees `bigger`, not `last`
}
