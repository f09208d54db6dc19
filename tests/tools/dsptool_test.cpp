// dsptool as a user meets it: commands on generated files, and how every failure looks.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <cmath>

#include <algorithm>
#include <string>
#include <vector>

#include "support/tool_runner.h"
#include "wavefile/riff_builder.h"

using wavetest::chunk;
using wavetest::riff;

namespace {

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

// A stereo input made by sox (a sweep on the left, noise on the right).
void makeInput(const wavetest::TempDir& dir, const char* seconds = "2") {
    std::string made;
    ASSERT_EQ(tooltest::runShell("sox -V1 -n -r 44100 -c 2 -b 16 '" + dir.file("in.wav") + "' synth " + seconds +
                                     " sine 100-8000 whitenoise gain -8 2>&1",
                                 made),
              0)
        << made;
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

// Dry only, then one voice alone at 10 ms (441 frames) with the sweep stopped: the chorus
// arguments reach the library in milliseconds and percent, and the channels stay apart.
TEST(Dsptool, ChorusVoiceDelaysByItsMilliseconds) {
    wavetest::TempDir dir;
    makeInput(dir, "1");
    for (const char* run : {"process in.wav dry.wav chorus 0 20 0 0 0 100", "process in.wav wet.wav chorus 1 10 0 0 100 0"}) {
        const ToolRun r = dsptool(dir, std::string("-q ") + run);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    const std::vector<int16_t> dry = soxSamples(dir, "dry.wav"), wet = soxSamples(dir, "wet.wav");
    ASSERT_EQ(dry.size(), 88200u);
    ASSERT_EQ(wet.size(), dry.size());
    for (size_t i = 0; i < wet.size(); ++i) ASSERT_EQ(wet[i], i < 882 ? 0 : dry[i - 882]) << "sample " << i;
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
    makeInput(dir, "0.1");
    wavetest::writeFile(dir.file("garbage.wav"), "this is not a wave file at all");
    wavetest::writeFile(dir.file("six.wav"), riff("WAVE", chunk("fmt ", wavetest::fmtPayload(1, 6, 8000, 16, true)) +
                                                                chunk("data", std::string(24, '\0'))));
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
                      ErrorCase{"garbage_input", "process garbage.wav keep.wav", "not a readable"},
                      ErrorCase{"six_channels", "process six.wav keep.wav fade", "put `channels 2` (or 1) first"},
                      ErrorCase{"channels_not_first", "process in.wav keep.wav fade channels 2", "must come first"},
                      ErrorCase{"output_is_an_effect", "process in.wav chorus", "'chorus' is an effect name"},
                      ErrorCase{"unknown_extension", "process in.wav keep.mp3", "unknown extension"},
                      ErrorCase{"device_full", "process in.wav /dev/full", "No space left on device"},
                      ErrorCase{"pitch_hop_beyond_grain", "process in.wav keep.wav pitch 300 50 100", "no grain would sound"},
                      ErrorCase{"stretch_factor", "process in.wav keep.wav stretch 8", "length factor from 0.125 to 4"},
                      ErrorCase{"batch_without_inputs", "process -o out -- fade", "needs input files"},
                      ErrorCase{"directory_input", "process . keep.wav", "directory"},
                      ErrorCase{"unknown_effect", "process in.wav keep.wav fade gain -3 wobble 3", "'wobble' is no effect name"},
                      ErrorCase{"bad_parameter", "process in.wav keep.wav fade gain loud", "fade"},
                      ErrorCase{"missing_output", "process in.wav", "needs IN OUT"},
                      ErrorCase{"output_directory_missing", "process in.wav no/such/out.wav", "cannot create"},
                      ErrorCase{"unknown_command", "transmogrify in.wav", "unknown command"},
                      ErrorCase{"info_garbage", "info garbage.wav", "not a readable"},
                      // Effect arguments outside their ranges, and strtod's "nan".
                      ErrorCase{"fade_gain_nan", "process in.wav keep.wav fade 0 0 gain nan", "fade"},
                      ErrorCase{"fade_ramp_backwards", "process in.wav keep.wav fade ramp 2 1 -6", "fade"},
                      ErrorCase{"chorus_voices", "process in.wav keep.wav chorus 2.5", "VOICES must be an integer"},
                      ErrorCase{"chorus_depth", "process in.wav keep.wav chorus 3 5 6", "DEPTH_MS must not exceed DELAY_MS"},
                      ErrorCase{"hqups_cutoff", "process in.wav keep.wav hqups 0.3 50 30000", "hqups"},
                      ErrorCase{"stretch_length", "process in.wav keep.wav stretch len=8", "stretch"},
                      ErrorCase{"pitch_cents", "process in.wav keep.wav pitch 1300", "pitch"},
                      // Each effect is set up for the rate that reaches it along the list.
                      ErrorCase{"lowpass_above_new_nyquist", "process in.wav keep.wav rate 8000 lowpass 5000", "lowpass"},
                      ErrorCase{"analyze_fft_size", "analyze in.wav --fft 1000", "power of two"},
                      ErrorCase{"analyze_rise", "analyze in.wav --rise -3", ""}),
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

// `--help` or `-h` after a command word, wherever it stands, prints that command's usage on
// stdout and exits 0, touching no file; the effect list belongs to process only.
TEST(Dsptool, HelpAfterTheCommandWord) {
    for (auto [command, args] : {std::pair{"process", "in.wav out.wav -h"}, {"analyze", "--help"}, {"demo", "-o out --help"}}) {
        wavetest::TempDir dir;
        const ToolRun r = dsptool(dir, std::string(command) + " " + args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.rfind(std::string("usage: dsptool [-q|-v] ") + command + " ", 0), 0u) << r.out;
        EXPECT_TRUE(listDir(dir.path()).empty()) << command << ": files appeared";
        EXPECT_EQ(r.out.find("effects (for process") != std::string::npos, std::string(command) == "process");
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
    EXPECT_EQ(files.size(), size_t(std::stoul(last)) + 1) << r.out;
    for (const std::string& name : files) {
        std::string got;
        EXPECT_EQ(tooltest::runShell("/usr/bin/python3 -c \"import wave,sys; w=wave.open(sys.argv[1]); "
                                     "print(w.getsampwidth(), round(w.getnframes()/w.getframerate(), 1))\" '" +
                                         dir.file("out/demo/" + name) + "' 2>&1",
                                     got),
                  0)
            << name << ": " << got;
        // 16-bit; the input lasts 6 s, effects such as a stretch may change that.
        EXPECT_EQ(got.substr(0, 2), "2 ") << name;
        if (name == "input.wav") {
            EXPECT_EQ(got, "2 6.0\n");
        } else {
            EXPECT_GT(std::stod(got.substr(2)), 1.0) << name;
        }
    }
}

namespace {

uint32_t le32At(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | uint8_t(bytes.at(at + size_t(i)));
    return v;
}

// Where an output lands: through stdin/stdout, pipes, a FIFO and a symbolic link (its target
// replaced, keeping its mode), every route giving the input's samples back.
struct RouteCase {
    const char* name;
    std::string setup;   // shell, run in the directory first
    std::string args;    // dsptool's arguments (shell text)
    std::string result;  // the file that must hold the input's samples
    uint32_t dataSize;   // the header's data size: 352800 for fixed sizes, 0xFFFFFFFF for a stream
};

}  // namespace

TEST(Dsptool, OutputRoutes) {
    const RouteCase cases[] = {
        {"stdin_to_file", "", "-q process - out.wav < in.wav", "out.wav", 352800},
        {"stdout_to_file", "", "-q process in.wav - > out.wav", "out.wav", 352800},
        {"stdout_to_pipe", "", "process in.wav - -q | cat > out.wav", "out.wav", 0xFFFFFFFFu},
        {"dev_stdout_to_pipe", "", "-q process in.wav /dev/stdout | cat > out.wav", "out.wav", 0xFFFFFFFFu},
        // The FIFO's reader lets go of popen's pipe, or runShell would wait for it.
        {"fifo", "mkfifo fifo.wav && { (cat fifo.wav > part && mv part out.wav) >/dev/null 2>&1 & }",
         "-q process in.wav fifo.wav", "out.wav", 0xFFFFFFFFu},
        {"symlink", "mkdir sub && echo old > sub/t.wav && chmod 640 sub/t.wav && ln -s sub/t.wav link.wav",
         "-q process in.wav link.wav", "sub/t.wav", 352800},
    };
    for (const RouteCase& c : cases) {
        wavetest::TempDir dir;
        makeInput(dir);
        std::string out;
        ASSERT_EQ(tooltest::runShell("cd '" + dir.path() + "' && " + (c.setup.empty() ? "true" : c.setup), out), 0) << c.name;
        const ToolRun r = dsptool(dir, c.args);
        ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
        tooltest::runShell("cd '" + dir.path() + "' && for i in $(seq 100); do [ -e " + c.result + " ] && break; sleep 0.1; done",
                           out);  // the FIFO's reader finishes
        const std::string bytes = wavetest::readFile(dir.file(c.result));
        ASSERT_GT(bytes.size(), 46u) << c.name;
        EXPECT_EQ(le32At(bytes, 42), c.dataSize) << c.name;
        EXPECT_EQ(le32At(bytes, 4), c.dataSize == 352800 ? 352838u : 0xFFFFFFFFu) << c.name;
        EXPECT_TRUE(soxSamples(dir, "in.wav") == soxSamples(dir, c.result)) << c.name;
        if (std::string(c.name) == "symlink") {
            struct stat st {};
            ASSERT_EQ(lstat(dir.file("link.wav").c_str(), &st), 0);
            EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
            ASSERT_EQ(stat(dir.file("sub/t.wav").c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0640u) << "the replaced file keeps its mode";
            EXPECT_EQ(listDir(dir.file("sub")), std::vector<std::string>{"t.wav"});
        }
        if (c.dataSize == 0xFFFFFFFFu) {  // the tool reads its own streams back
            const ToolRun info = dsptool(dir, "info - < " + c.result);
            EXPECT_NE(info.out.find("frames:    88200 (data chunk of unknown size"), std::string::npos) << info.out;
        }
    }
}

// Other formats in (converted to 16 bits, with TPDF dither when bits are dropped) and out (by
// extension), compared with sox's decoding of the same files.
TEST(Dsptool, FormatsInAndOut) {
    wavetest::TempDir dir;
    if (dsptool(dir, "--version").out.find("libsndfile") == std::string::npos) GTEST_SKIP() << "built without libsndfile";
    makeInput(dir);
    struct In {
        const char* file;
        const char* soxFormat;
        bool dithered;
    };
    for (const In& c : {In{"in24.flac", "-b 24", true}, In{"inf.wav", "-e float -b 32", true},
                        In{"in8.wav", "-b 8", false}, In{"in16.aiff", "-b 16", false}, In{"in24x.wav", "-b 24", true}}) {
        std::string out;
        ASSERT_EQ(tooltest::runShell("cd '" + dir.path() + "' && sox -V1 -n -r 32000 -c 2 " + c.soxFormat + " " + c.file +
                                         " synth 0.5 sine 300 sine 5000 gain -3 2>&1",
                                     out),
                  0)
            << out;
        const ToolRun r = dsptool(dir, std::string("process ") + c.file + " out.wav");
        ASSERT_EQ(r.status, 0) << c.file << ": " << r.err;
        EXPECT_EQ(r.err.find("reduced to 16 bits with TPDF dither") != std::string::npos, c.dithered) << r.err;
        const std::vector<int16_t> got = soxSamples(dir, "out.wav");
        const std::vector<int16_t> exact =
            tooltest::soxDecode(dir.file(c.file), dir.file("x.raw"), "-e signed -b 32 {raw}") ;  // 32-bit
        ASSERT_EQ(got.size() * 2, exact.size()) << c.file;
        double worst = 0, sum = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            const double reference = double(int32_t(uint16_t(exact[2 * i]) | uint32_t(uint16_t(exact[2 * i + 1])) << 16)) / 65536;
            worst = std::max(worst, std::fabs(got[i] - reference));
            sum += got[i] - reference;
        }
        EXPECT_LE(worst, c.dithered ? 1.5 : 0.0) << c.file;
        EXPECT_LT(std::fabs(sum / double(got.size())), 0.05) << c.file << ": the dither is unbiased";
    }
    for (const char* name : {"out.flac", "out.aiff", "out.ogg"}) {
        const ToolRun r = dsptool(dir, std::string("-q process in.wav ") + name);
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        const std::vector<int16_t> in = soxSamples(dir, "in.wav"), got = soxSamples(dir, name);
        if (std::string(name) == "out.ogg") {
            EXPECT_NEAR(double(got.size()), double(in.size()), 4096) << "lossy, same length";
        } else {
            EXPECT_TRUE(got == in) << name;
        }
        EXPECT_EQ(dsptool(dir, std::string("info ") + name).status, 0) << name;
    }
}

// Batch: every input into the folder, two at a time; a bad file reports and fails the run at
// the end without stopping the others, whose outputs match single runs.
TEST(Dsptool, BatchWritesEveryGoodFile) {
    wavetest::TempDir dir;
    makeInput(dir, "1");
    wavetest::writeFile(dir.file("bad.wav"), "not audio");
    std::string out;
    ASSERT_EQ(tooltest::runShell("cd '" + dir.path() + "' && cp in.wav a.wav && cp in.wav c.wav", out), 0);
    const ToolRun batch = dsptool(dir, "process -o outdir --jobs=2 a.wav bad.wav c.wav -- fade gain -6");
    EXPECT_EQ(batch.status, 1);
    EXPECT_NE(batch.err.find("dsptool: bad.wav: "), std::string::npos) << batch.err;
    EXPECT_NE(batch.err.find("1 of 3 files failed"), std::string::npos) << batch.err;
    const ToolRun single = dsptool(dir, "-q process in.wav one.wav fade gain -6");
    ASSERT_EQ(single.status, 0) << single.err;
    EXPECT_EQ(listDir(dir.file("outdir")), (std::vector<std::string>{"a.wav", "c.wav"}));
    for (const char* name : {"outdir/a.wav", "outdir/c.wav"})
        EXPECT_EQ(wavetest::readFile(dir.file(name)), wavetest::readFile(dir.file("one.wav"))) << name;
}

// Full-scale output samples are counted on stderr as sox does; -q and -v anywhere; --version.
TEST(Dsptool, ClippingAndConventions) {
    wavetest::TempDir dir;
    makeInput(dir, "1");
    const ToolRun r = dsptool(dir, "process in.wav loud.wav fade gain 20 -q");
    ASSERT_EQ(r.status, 0) << r.err;
    size_t clipped = 0;
    for (int16_t s : soxSamples(dir, "loud.wav")) clipped += s >= 32767 || s <= -32767;
    ASSERT_GT(clipped, 0u);
    EXPECT_EQ(r.err, "dsptool: 'loud.wav': " + std::to_string(clipped) + " samples clipped\n");
    const ToolRun v = dsptool(dir, "process -v in.wav out.wav");
    EXPECT_NE(v.err.find("s of audio in"), std::string::npos) << v.err;
    EXPECT_EQ(dsptool(dir, "--version").out.rfind("dsptool ", 0), 0u);
}
