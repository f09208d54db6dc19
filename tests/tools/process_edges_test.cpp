// dsptool at its edges: empty inputs, help requested after a command word, the slicer's band as
// the analyze help states it, non-finite numbers, and converter output lengths over long files.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "support/tool_runner.h"
#include "wavefile/riff_builder.h"

namespace {

class ToolTest {
protected:
    static void skipWithoutTool() {
        if (!tooltest::toolBuilt()) GTEST_SKIP() << "dsptool is not built";
    }
};

// Frame count, rate and channel count of a WAVE file as sox reports them; false when sox cannot
// read it.
bool soxInfo(const std::string& path, uint64_t& frames, uint32_t& rate, uint32_t& channels) {
    std::string out;
    if (tooltest::runShell("soxi -s '" + path + "' && soxi -r '" + path + "' && soxi -c '" + path + "'", out) != 0)
        return false;
    std::istringstream fields(out);
    return bool(fields >> frames >> rate >> channels);
}

struct EmptyCase {
    const char* effects;
    uint32_t channels;
    uint32_t outRate;
};

std::ostream& operator<<(std::ostream& os, const EmptyCase& c) {
    return os << "'" << c.effects << "' " << c.channels << " ch";
}

class EmptyInput : public testing::TestWithParam<EmptyCase>, protected ToolTest {};

// A file with no frames has a known length of zero: every effect list, a fade-out included,
// writes a valid empty file at the rate and channel count the list ends with.
TEST_P(EmptyInput, GivesAValidEmptyOutput) {
    skipWithoutTool();
    const EmptyCase& c = GetParam();
    wavetest::TempDir dir;
    tooltest::writeWave(dir.file("empty.wav"), {}, uint16_t(c.channels), 44100);
    const tooltest::ToolRun r = tooltest::runTool(dir.path(), std::string("-q process empty.wav out.wav ") + c.effects);
    ASSERT_EQ(r.status, 0) << r.err;
    uint64_t frames = 1;
    uint32_t rate = 0, channels = 0;
    ASSERT_TRUE(soxInfo(dir.file("out.wav"), frames, rate, channels)) << "sox cannot read the output";
    EXPECT_EQ(frames, 0u);
    EXPECT_EQ(rate, c.outRate);
    EXPECT_EQ(channels, c.channels);
}

INSTANTIATE_TEST_SUITE_P(EffectLists, EmptyInput,
                         testing::Values(EmptyCase{"fade 1 1", 2, 44100}, EmptyCase{"fade 0 2 gain -3", 1, 44100},
                                         EmptyCase{"", 2, 44100}, EmptyCase{"pitch 300 stretch 1000", 1, 44100},
                                         EmptyCase{"rate 48000 fade 1 1", 2, 48000}, EmptyCase{"hqups", 1, 48000}));

struct HelpCase {
    const char* command;
    const char* args;
};

std::ostream& operator<<(std::ostream& os, const HelpCase& c) { return os << c.command << " " << c.args; }

class CommandHelp : public testing::TestWithParam<HelpCase>, protected ToolTest {};

// `--help` or `-h` after a command word, wherever it stands, prints that command's usage on
// stdout and exits 0, touching no file.
TEST_P(CommandHelp, PrintsTheCommandsUsage) {
    skipWithoutTool();
    const HelpCase& c = GetParam();
    wavetest::TempDir dir;
    const tooltest::ToolRun r = tooltest::runTool(dir.path(), std::string(c.command) + " " + c.args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind(std::string("usage: dsptool [-q] ") + c.command + " ", 0), 0u) << r.out;
    std::string listing;
    tooltest::runShell("ls -A '" + dir.path() + "'", listing);
    EXPECT_EQ(listing, "") << "files appeared";
    // The effect list belongs to process only.
    EXPECT_EQ(r.out.find("effects (for process") != std::string::npos, std::string(c.command) == "process");
}

INSTANTIATE_TEST_SUITE_P(Commands, CommandHelp,
                         testing::Values(HelpCase{"process", "--help"}, HelpCase{"process", "in.wav out.wav -h"},
                                         HelpCase{"analyze", "--help"}, HelpCase{"info", "-h"},
                                         HelpCase{"demo", "-o out --help"}));

// A mono file at 48 kHz with `bursts` Hann-shaped bursts of `hz` (0.2 s every 0.5 s from
// 0.25 s): smooth edges, so nothing outside the tone's own band reaches the slicer.
std::vector<int16_t> hannBursts(double hz, int bursts) {
    constexpr uint32_t kRate = 48000;
    std::vector<int16_t> pcm(size_t{kRate} * size_t(bursts) / 2 + kRate / 2);
    for (size_t i = 0; i < pcm.size(); ++i) {
        const double t = double(i) / kRate, into = std::fmod(t - 0.25, 0.5);
        if (t < 0.25 || into >= 0.2 || t >= 0.25 + 0.5 * bursts) continue;
        const double envelope = 0.5 - 0.5 * std::cos(2.0 * M_PI * into / 0.2);
        pcm[i] = int16_t(std::lround(20000.0 * envelope * std::sin(2.0 * M_PI * hz * t)));
    }
    return pcm;
}

// Rows of four numbers: the slice table analyze prints.
int sliceRows(const std::string& out) {
    std::istringstream lines(out);
    std::string line;
    int rows = 0;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        double value;
        int n = 0;
        while (fields >> value) ++n;
        rows += n == 4;
    }
    return rows;
}

class AnalyzeBand : public testing::Test, protected ToolTest {};

// The help says the slicer listens to 2-20 kHz only; bursts below that band start no slice,
// the same bursts inside it one slice each.
TEST_F(AnalyzeBand, HelpStatesTheBandTheSlicerListensTo) {
    skipWithoutTool();
    wavetest::TempDir dir;
    const tooltest::ToolRun help = tooltest::runTool(dir.path(), "analyze --help");
    EXPECT_NE(help.out.find("2-20 kHz"), std::string::npos) << help.out;
    const struct {
        double hz;
        int slices;
    } cases[] = {{500.0, 0}, {1000.0, 0}, {6000.0, 4}, {15000.0, 4}};
    for (const auto& c : cases) {
        tooltest::writeWave(dir.file("bursts.wav"), hannBursts(c.hz, 4), 1, 48000);
        const tooltest::ToolRun r = tooltest::runTool(dir.path(), "-q analyze bursts.wav --csv spectrum.csv -o r.html");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(sliceRows(r.out), c.slices) << c.hz << " Hz bursts:\n" << r.out;
    }
}

class NonFiniteNumbers : public testing::TestWithParam<const char*>, protected ToolTest {};

// strtod reads "nan" and "inf"; no effect may take them as a value.
TEST_P(NonFiniteNumbers, AreRefusedByEveryEffect) {
    skipWithoutTool();
    wavetest::TempDir dir;
    tooltest::writeWave(dir.file("in.wav"), std::vector<int16_t>(200), 2, 44100);
    const tooltest::ToolRun r = tooltest::runTool(dir.path(), std::string("-q process in.wav out.wav ") + GetParam());
    EXPECT_EQ(r.status, 1) << GetParam();
    EXPECT_EQ(r.err.rfind("dsptool: ", 0), 0u) << r.err;
    std::string listing;
    tooltest::runShell("ls '" + dir.path() + "'", listing);
    EXPECT_EQ(listing, "in.wav\n");
}

INSTANTIATE_TEST_SUITE_P(EffectWords, NonFiniteNumbers,
                         testing::Values("hqups nan", "hqups 0.3 inf", "pitch nan", "stretch 100 nan", "chorus 3 inf",
                                         "lowpass nan", "rate 48000 nan", "fade nan", "fade 0 0 gain nan"));

struct RateCase {
    const char* effects;
    uint32_t inRate;
    uint32_t channels;
    uint32_t outRate;
};

std::ostream& operator<<(std::ostream& os, const RateCase& c) { return os << c.inRate << " Hz '" << c.effects << "'"; }

class ConvertedLength : public testing::TestWithParam<RateCase>, protected ToolTest {};

// Blocks are cut so that each converts to whole output frames: over a long file the output
// is round(frames x out / in) long within one frame (a per-block truncation would lose about
// half a frame per 4096 input frames: hundreds here).
TEST_P(ConvertedLength, IsTheInputLengthTimesTheRateRatio) {
    skipWithoutTool();
    const RateCase& c = GetParam();
    wavetest::TempDir dir;
    std::string made;
    ASSERT_EQ(tooltest::runShell("sox -V1 -n -r " + std::to_string(c.inRate) + " -c " + std::to_string(c.channels) +
                                     " -b 16 '" + dir.file("in.wav") + "' synth 47.3 sine 440 gain -6 2>&1",
                                 made),
              0)
        << made;
    const tooltest::ToolRun r = tooltest::runTool(dir.path(), std::string("-q process in.wav out.wav ") + c.effects);
    ASSERT_EQ(r.status, 0) << r.err;
    uint64_t inFrames = 0, outFrames = 0;
    uint32_t rate = 0, channels = 0;
    ASSERT_TRUE(soxInfo(dir.file("in.wav"), inFrames, rate, channels));
    ASSERT_TRUE(soxInfo(dir.file("out.wav"), outFrames, rate, channels));
    EXPECT_EQ(rate, c.outRate);
    EXPECT_EQ(channels, c.channels);
    const double expected = std::round(double(inFrames) * c.outRate / c.inRate);
    EXPECT_LE(std::fabs(double(outFrames) - expected), 1.0) << inFrames << " frames in";
}

INSTANTIATE_TEST_SUITE_P(LongFiles, ConvertedLength,
                         testing::Values(RateCase{"rate 48000", 44100, 2, 48000}, RateCase{"rate 32000", 48000, 1, 32000},
                                         RateCase{"rate 44100", 22050, 1, 44100},
                                         RateCase{"rate 48000 linear nofilter", 11025, 1, 48000},
                                         RateCase{"rate 48000 rate 32000", 44100, 1, 32000},
                                         RateCase{"lowpass 3000 rate 48001", 44100, 1, 48001},
                                         RateCase{"hqups", 22050, 2, 48000}));

}  // namespace
