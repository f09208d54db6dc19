// dsptool as a user meets it: end-to-end runs on generated files, and the error paths.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "support/tool_runner.h"
#include "wavefile/riff_builder.h"

using wavetest::chunk;
using wavetest::riff;

namespace {

const std::string kTool = DSPTOOL_PATH;

using tooltest::ToolRun;

ToolRun dsptool(const wavetest::TempDir& dir, const std::string& args) { return tooltest::runTool(dir.path(), args); }

// Raw samples of a WAVE file as sox decodes it (an independent reader).
std::vector<int16_t> soxSamples(const wavetest::TempDir& dir, const std::string& wav) {
    std::vector<int16_t> s = tooltest::soxDecode(dir.file(wav), dir.file("decoded.raw"));
    EXPECT_FALSE(s.empty()) << "sox cannot read " << wav;
    return s;
}

std::vector<std::string> listDir(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A two-second stereo input made by sox (a sweep on the left, noise on the right).
void makeInput(const wavetest::TempDir& dir) {
    int status = 0;
    const std::string made = wavetest::run("sox -V1 -n -r 44100 -c 2 -b 16 '" + dir.file("in.wav") +
                                               "' synth 2 sine 100-8000 whitenoise gain -8 2>&1",
                                           status);
    ASSERT_EQ(status, 0) << made;
}

}  // namespace

TEST(Dsptool, ProcessWithoutEffectsCopiesTheSamples) {
    wavetest::TempDir dir;
    makeInput(dir);
    const ToolRun r = dsptool(dir, "-q process in.wav out.wav");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<int16_t> in = soxSamples(dir, "in.wav");
    const std::vector<int16_t> out = soxSamples(dir, "out.wav");
    ASSERT_EQ(in.size(), 2u * 88200u);
    EXPECT_TRUE(in == out);
    EXPECT_EQ(listDir(dir.path()), (std::vector<std::string>{"decoded.raw", "in.wav", "out.wav"})) << "no leftovers";
}

// Two fades of -6 dB each in one list: both apply, in one pass, as 10^(-12/20) of the input.
TEST(Dsptool, ProcessChainsEffectsInOrder) {
    wavetest::TempDir dir;
    makeInput(dir);
    const ToolRun r = dsptool(dir, "process in.wav out.wav fade gain -6 fade gain -6");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("88200 frames"), std::string::npos) << r.out;
    const std::vector<int16_t> in = soxSamples(dir, "in.wav");
    const std::vector<int16_t> out = soxSamples(dir, "out.wav");
    ASSERT_EQ(out.size(), in.size());
    const double gain = std::pow(10.0, -12.0 / 20.0);
    int worst = 0;
    size_t worstAt = 0;
    for (size_t i = 2; i < in.size(); ++i) {  // the fader holds its level from the second frame on
        const int diff = std::abs(out[i] - int(std::lround(in[i] * gain)));
        if (diff > worst) {
            worst = diff;
            worstAt = i;
        }
    }
    EXPECT_LE(worst, 2) << "at sample " << worstAt << ": input " << in[worstAt] << ", expected about "
                        << in[worstAt] * gain << ", got " << out[worstAt];
}

// Every failure: a non-zero exit, one line on stderr, nothing created, an existing output kept.
struct ErrorCase {
    const char* name;
    std::string args;
    std::string message;  // part of the error line
};
inline void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }  // case names in test logs

class DsptoolErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(DsptoolErrors, FailCleanly) {
    const ErrorCase& c = GetParam();
    wavetest::TempDir dir;
    makeInput(dir);
    wavetest::writeFile(dir.file("garbage.wav"), "this is not a wave file at all");
    wavetest::writeFile(dir.file("datafirst.wav"),
                        riff("WAVE", chunk("data", "abcd") + chunk("fmt ", wavetest::fmtPayload(1, 2, 44100, 16, true))));
    wavetest::writeFile(dir.file("mono8.wav"), riff("WAVE", chunk("fmt ", wavetest::fmtPayload(1, 1, 8000, 8, true)) +
                                                                  chunk("data", "abcd")));
    wavetest::writeFile(dir.file("keep.wav"), "previous contents");
    const std::vector<std::string> before = listDir(dir.path());
    const ToolRun r = dsptool(dir, c.args);
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.err.rfind("dsptool: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(listDir(dir.path()), before) << "no output or temporary file may stay behind";
    EXPECT_EQ(wavetest::readFile(dir.file("keep.wav")), "previous contents");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DsptoolErrors,
    ::testing::Values(ErrorCase{"missing_input", "process nothere.wav keep.wav", "cannot open 'nothere.wav'"},
                      ErrorCase{"garbage_input", "process garbage.wav keep.wav", "not a readable WAVE file"},
                      ErrorCase{"data_before_fmt", "process datafirst.wav keep.wav", "not a readable WAVE file"},
                      ErrorCase{"eight_bit", "process mono8.wav keep.wav fade", "unsupported format"},
                      ErrorCase{"directory_input", "process . keep.wav", "directory"},
                      ErrorCase{"unknown_effect", "process in.wav keep.wav fade gain -3 wobble 3", "'wobble' is no effect name"},
                      ErrorCase{"unknown_first_effect", "process in.wav keep.wav wobble 3 fade", "unknown effect 'wobble'"},
                      ErrorCase{"bad_parameter", "process in.wav keep.wav fade gain loud", "fade"},
                      ErrorCase{"arguments_before_effect", "process in.wav keep.wav 3000", "unknown effect '3000'"},
                      ErrorCase{"missing_output", "process in.wav", "needs IN.wav OUT.wav"},
                      ErrorCase{"output_directory_missing", "process in.wav no/such/out.wav", "cannot create"},
                      ErrorCase{"unknown_command", "transmogrify in.wav", "unknown command"},
                      ErrorCase{"info_garbage", "info garbage.wav", "not a readable WAVE file"},
                      ErrorCase{"info_missing", "info nothere.wav", "cannot open"}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

TEST(Dsptool, InfoListsFormatAndChunks) {
    wavetest::TempDir dir;
    std::string samples(4 * 441, '\x01');
    wavetest::writeFile(dir.file("x.wav"),
                        riff("WAVE", chunk("fmt ", wavetest::fmtPayload(1, 2, 44100, 16, false)) +
                                         chunk("LIST", "INFOISFTabc") + chunk("data", samples) + chunk("id3 ", "t")));
    const ToolRun r = dsptool(dir, "info x.wav");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* expected : {"16-bit, 2 channels, 44100 Hz", "frames:    441 ", "duration:  0.010 s", "'fmt '",
                                 "'LIST'", "'data'", "'id3 '", "form WAVE"}) {
        EXPECT_NE(r.out.find(expected), std::string::npos) << "missing '" << expected << "' in\n" << r.out;
    }
}

// The demo writes its input and one file per demo effect, all readable by Python's wave module,
// and an analysis report; its last line says how many files it wrote and where they all went.
TEST(Dsptool, DemoWritesReadableFiles) {
    wavetest::TempDir dir;
    const ToolRun r = dsptool(dir, "demo -o out/demo");
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    const std::vector<std::string> files = listDir(dir.file("out/demo"));
    ASSERT_NE(std::find(files.begin(), files.end(), "input.wav"), files.end());
    const std::string last = r.out.substr(r.out.rfind("\n", r.out.size() - 2) + 1);
    EXPECT_NE(last.find("out/demo/"), std::string::npos) << last;
    EXPECT_NE(last.find("out/demo-analysis.html"), std::string::npos) << last;
    EXPECT_NE(wavetest::readFile(dir.file("out/demo-analysis.html")).find("<html"), std::string::npos);
    const size_t claimed = size_t(std::stoul(last));
    EXPECT_EQ(files.size(), claimed + 1) << r.out;
    for (const std::string& name : files) {
        int status = 0;
        const std::string got = wavetest::run(
            "/usr/bin/python3 -c \"import wave,sys; w=wave.open(sys.argv[1]); "
            "print(w.getsampwidth(), round(w.getnframes()/w.getframerate(), 1))\" '" + dir.file("out/demo/" + name) + "' 2>&1",
            status);
        EXPECT_EQ(status, 0) << name << ": " << got;
        // 16-bit; the input lasts 6 s, effects such as a stretch may change that.
        EXPECT_EQ(got.substr(0, 2), "2 ") << name;
        if (name == "input.wav") {
            EXPECT_EQ(got, "2 6.0\n");
        } else {
            EXPECT_GT(std::stod(got.substr(2)), 1.0) << name;
        }
    }
}
