// dsptool as a user meets it: commands on generated files, and how every failure looks.
#include <gtest/gtest.h>

#include <cmath>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "support/tool_runner.h"
#include "wavefile/riff_builder.h"

using tooltest::listDir;
using tooltest::ToolRun;
using wavetest::chunk;
using wavetest::riff;

namespace {

ToolRun dsptool(const wavetest::TempDir& dir, const std::string& args) { return tooltest::runTool(dir.path(), args); }

// Raw samples of a WAVE file as sox decodes it (an independent reader).
std::vector<int16_t> soxSamples(const wavetest::TempDir& dir, const std::string& wav) {
    std::vector<int16_t> s = tooltest::soxDecode(dir.file(wav), dir.file("decoded.raw"));
    EXPECT_FALSE(s.empty()) << "sox cannot read " << wav;
    return s;
}

// A stereo input made by sox (a sweep on the left, noise on the right).
void makeInput(const wavetest::TempDir& dir, const char* seconds = "2") {
    ASSERT_TRUE(tooltest::shellIn(dir.path(), std::string("sox -V1 -n -r 44100 -c 2 -b 16 in.wav synth ") + seconds +
                                                  " sine 100-8000 whitenoise gain -8"));
}

// One run that writes no file: every failure (a non-zero exit, one line on stderr, nothing
// created, an existing output kept), and the commands that only print.
struct RunCase {
    const char* name;
    std::string args;
    bool ok;
    std::string err;               // part of the error line; for a success, of stderr (empty: silent)
    std::vector<std::string> out = {};  // parts of stdout; a leading '!' : absent
};
inline void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }  // case names in test logs

class DsptoolRuns : public ::testing::TestWithParam<RunCase> {};

TEST_P(DsptoolRuns, PrintOrFailCleanly) {
    const RunCase& c = GetParam();
    wavetest::TempDir dir;
    makeInput(dir, "0.1");
    wavetest::writeFile(dir.file("garbage.wav"), "this is not a wave file at all");
    wavetest::writeFile(dir.file("six.wav"), riff("WAVE", chunk("fmt ", wavetest::fmtPayload(1, 6, 8000, 16, true)) +
                                                                chunk("data", std::string(24, '\0'))));
    wavetest::writeFile(dir.file("x.wav"), riff("WAVE", chunk("fmt ", wavetest::fmtPayload(1, 2, 44100, 16, false)) +
                                                              chunk("LIST", "INFOISFTabc") +
                                                              chunk("data", std::string(4 * 441, '\1')) + chunk("id3 ", "t")));
    wavetest::writeFile(dir.file("keep.wav"), "previous contents");
    const std::vector<std::string> before = listDir(dir.path());
    const ToolRun r = dsptool(dir, c.args);
    if (c.ok) {
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(c.err.empty() ? r.err.empty() : r.err.find(c.err) != std::string::npos) << r.err;
    } else {
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(r.err.rfind("dsptool: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    for (const std::string& part : c.out) {
        const bool absent = part[0] == '!';
        EXPECT_EQ(r.out.find(part.substr(absent)) == std::string::npos, absent) << part << " in\n" << r.out;
    }
    EXPECT_EQ(listDir(dir.path()), before) << "no output or temporary file may stay behind";
    EXPECT_EQ(wavetest::readFile(dir.file("keep.wav")), "previous contents");
}

const char* const kEffectList = "effects (for process";

INSTANTIATE_TEST_SUITE_P(
    Cases, DsptoolRuns,
    ::testing::Values(
        RunCase{"missing_input", "process nothere.wav keep.wav", false, "cannot open 'nothere.wav'"},
        RunCase{"garbage_input", "process garbage.wav keep.wav", false, "not a readable"},
        RunCase{"six_channels", "process six.wav keep.wav fade", false, "put `channels 2` (or 1) first"},
        RunCase{"channels_not_first", "process in.wav keep.wav fade channels 2", false, "must come first"},
        RunCase{"output_is_an_effect", "process in.wav chorus", false, "'chorus' is an effect name"},
        RunCase{"unknown_extension", "process in.wav keep.mp3", false, "unknown extension"},
        RunCase{"device_full", "process in.wav /dev/full", false, "No space left on device"},
        RunCase{"pitch_hop_beyond_grain", "process in.wav keep.wav pitch 300 50 100", false, "no grain would sound"},
        RunCase{"stretch_factor", "process in.wav keep.wav stretch 8", false, "length factor from 0.125 to 4"},
        RunCase{"batch_without_inputs", "process -o out -- fade", false, "needs input files"},
        RunCase{"directory_input", "process . keep.wav", false, "directory"},
        RunCase{"unknown_effect", "process in.wav keep.wav fade gain -3 wobble 3", false, "'wobble' is no effect name"},
        RunCase{"bad_parameter", "process in.wav keep.wav fade gain loud", false, "fade"},
        RunCase{"missing_output", "process in.wav", false, "needs IN OUT"},
        RunCase{"output_directory_missing", "process in.wav no/such/out.wav", false, "cannot create"},
        RunCase{"unknown_command", "transmogrify in.wav", false, "unknown command"},
        RunCase{"info_garbage", "info garbage.wav", false, "not a readable"},
        // Effect arguments outside their ranges, and strtod's "nan".
        RunCase{"fade_gain_nan", "process in.wav keep.wav fade 0 0 gain nan", false, "fade"},
        RunCase{"fade_ramp_backwards", "process in.wav keep.wav fade ramp 2 1 -6", false, "fade"},
        RunCase{"chorus_voices", "process in.wav keep.wav chorus 2.5", false, "VOICES must be an integer"},
        RunCase{"chorus_depth", "process in.wav keep.wav chorus 3 5 6", false, "DEPTH_MS must not exceed DELAY_MS"},
        RunCase{"hqups_cutoff", "process in.wav keep.wav hqups 0.3 50 30000", false, "hqups"},
        RunCase{"stretch_length", "process in.wav keep.wav stretch len=8", false, "stretch"},
        RunCase{"pitch_cents", "process in.wav keep.wav pitch 1300", false, "pitch"},
        // Each effect is set up for the rate that reaches it along the list.
        RunCase{"lowpass_above_new_nyquist", "process in.wav keep.wav rate 8000 lowpass 5000", false, "lowpass"},
        RunCase{"analyze_fft_size", "analyze in.wav --fft 1000", false, "power of two"},
        RunCase{"analyze_rise", "analyze in.wav --rise -3", false, ""},
        RunCase{"info", "info x.wav", true, "",
                {"16-bit, 2 channels, 44100 Hz", "frames:    441 ", "duration:  0.010 s", "'fmt '", "'LIST'", "'data'",
                 "'id3 '", "form WAVE"}},
        // `--help` or `-h` after a command word, wherever it stands, prints that command's usage;
        // the effect list belongs to process only.
        RunCase{"help_process", "process in.wav out.wav -h", true, "", {"usage: dsptool [-q|-v] process ", kEffectList}},
        RunCase{"help_analyze", "analyze --help", true, "", {"usage: dsptool [-q|-v] analyze ", std::string("!") + kEffectList}},
        RunCase{"help_demo", "demo -o out --help", true, "", {"usage: dsptool [-q|-v] demo ", std::string("!") + kEffectList}},
        // 441 frames in hops of 256: 2 spectra, the chunk after the data taken for none.
        RunCase{"analyze_chunks_after_data", "-q analyze x.wav --fft 256 --block 256 --json - --all-spectra", true, "",
                {"\"frames\":441,\"spectrumCount\":2,", "{\"time\":0.005805,", "{\"time\":0.011610,", "!0.017415"}},
        RunCase{"version", "--version", true, "", {"dsptool "}},
        RunCase{"verbose_anywhere", "process -v in.wav -", true, "s of audio in"}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

// Dry only, then one voice alone at 10 ms (441 frames) with the sweep stopped: the chorus
// arguments reach the library in milliseconds and percent, and the channels stay apart.
TEST(Dsptool, ChorusVoiceDelaysByItsMilliseconds) {
    wavetest::TempDir dir;
    makeInput(dir, "1");
    for (const char* run : {"process in.wav dry.wav chorus 0 20 0 0 0 100", "process in.wav wet.wav chorus 1 10 0 0 100 0"})
        ASSERT_EQ(dsptool(dir, run).status, 0) << run;
    const std::vector<int16_t> dry = soxSamples(dir, "dry.wav"), wet = soxSamples(dir, "wet.wav");
    ASSERT_TRUE(dry.size() == 88200 && wet.size() == 88200) << dry.size() << ", " << wet.size() << " samples";
    for (size_t i = 0; i < wet.size(); ++i) ASSERT_EQ(wet[i], i < 882 ? 0 : dry[i - 882]) << "sample " << i;
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
    // Python's reader: 16-bit; the input lasts 6 s, the others (a stretch may change that) over 1 s.
    std::string failed;
    EXPECT_EQ(tooltest::runShell("cd '" + dir.file("out/demo") + "' && /usr/bin/python3 -c \"import wave,sys\n"
                                 "for f in sys.argv[1:]:\n w = wave.open(f); s = round(w.getnframes() / w.getframerate(), 1)\n"
                                 " assert w.getsampwidth() == 2 and (s == 6 if f == 'input.wav' else s > 1), (f, s)\" * 2>&1",
                                 failed), 0) << failed;
}

}  // namespace

// Where an output lands: a plain file, stdin/stdout, pipes, a FIFO and a symbolic link (its
// target replaced, keeping its mode), every route giving the input's samples back. Each route:
// a shell set-up run first, dsptool's arguments, the file that must hold the input's samples,
// and its header's data size (0xFFFFFFFF: a stream of unknown length).
TEST(Dsptool, OutputRoutes) {
    for (auto [name, setup, args, result, dataSize] : {
             std::tuple{"file", "true", "-q process in.wav out.wav", "out.wav", 352800u},
             {"stdin_to_file", "true", "-q process - out.wav < in.wav", "out.wav", 352800u},
             {"stdout_to_file", "true", "-q process in.wav - > out.wav", "out.wav", 352800u},
             {"stdout_to_pipe", "true", "process in.wav - -q | cat > out.wav", "out.wav", 0xFFFFFFFFu},
             {"dev_stdout_to_pipe", "true", "-q process in.wav /dev/stdout | cat > out.wav", "out.wav", 0xFFFFFFFFu},
             // The FIFO's reader lets go of popen's pipe, or runShell would wait for it.
             {"fifo", "mkfifo fifo.wav && { (cat fifo.wav > part && mv part out.wav) >/dev/null 2>&1 & }",
              "-q process in.wav fifo.wav", "out.wav", 0xFFFFFFFFu},
             {"symlink", "mkdir sub && echo old > sub/t.wav && chmod 640 sub/t.wav && ln -s sub/t.wav link.wav",
              "-q process in.wav link.wav", "sub/t.wav", 352800u}}) {
        wavetest::TempDir dir;
        makeInput(dir);
        ASSERT_TRUE(tooltest::shellIn(dir.path(), setup));
        const ToolRun r = dsptool(dir, args);
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        EXPECT_EQ(r.err, "") << name;
        // The FIFO's reader finishes.
        tooltest::shellIn(dir.path(), "for i in $(seq 100); do [ -e " + std::string(result) + " ] && break; sleep 0.1; done");
        const std::string bytes = wavetest::readFile(dir.file(result));
        EXPECT_EQ(bytes.substr(42, 4), wavetest::le32(dataSize)) << name;
        EXPECT_EQ(bytes.substr(4, 4), wavetest::le32(dataSize == 352800 ? 352838u : 0xFFFFFFFFu)) << name;
        EXPECT_TRUE(soxSamples(dir, "in.wav") == soxSamples(dir, result)) << name;
        for (const std::string& file : listDir(std::filesystem::path(dir.file(result)).parent_path()))
            EXPECT_NE(file[0], '.') << name << ": a temporary file stayed behind";
        if (std::string(name) == "symlink") {
            EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.wav"))) << "the link stays a link";
            EXPECT_EQ(std::filesystem::status(dir.file("sub/t.wav")).permissions(), std::filesystem::perms(0640))
                << "the replaced file keeps its mode";
        }
        if (dataSize == 0xFFFFFFFFu) {  // the tool reads its own streams back
            const ToolRun info = dsptool(dir, "info - < " + std::string(result));
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
    for (auto [file, soxFormat, dithered] : {std::tuple{"in24.flac", "-b 24", true}, {"inf.wav", "-e float -b 32", true},
                                             {"in8.wav", "-b 8", false}, {"in16.aiff", "-b 16", false},
                                             {"in24x.wav", "-b 24", true}}) {
        ASSERT_TRUE(tooltest::shellIn(dir.path(), std::string("sox -V1 -n -r 32000 -c 2 ") + soxFormat + " " + file +
                                                      " synth 0.5 sine 300 sine 5000 gain -3"));
        const ToolRun r = dsptool(dir, std::string("process ") + file + " out.wav");
        ASSERT_EQ(r.status, 0) << file << ": " << r.err;
        EXPECT_EQ(r.err.find("reduced to 16 bits with TPDF dither") != std::string::npos, dithered) << r.err;
        const std::vector<int16_t> got = soxSamples(dir, "out.wav");
        // The source as 32-bit samples, each read as two halves.
        const std::vector<int16_t> exact = tooltest::soxDecode(dir.file(file), dir.file("x.raw"), "-e signed -b 32");
        ASSERT_EQ(got.size() * 2, exact.size()) << file;
        double worst = 0, sum = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            const double reference = double(int32_t(uint16_t(exact[2 * i]) | uint32_t(uint16_t(exact[2 * i + 1])) << 16)) / 65536;
            worst = std::max(worst, std::fabs(got[i] - reference));
            sum += got[i] - reference;
        }
        EXPECT_LE(worst, dithered ? 1.5 : 0.0) << file;
        EXPECT_LT(std::fabs(sum / double(got.size())), 0.05) << file << ": the dither is unbiased";
    }
    for (const char* name : {"out.flac", "out.aiff", "out.ogg"}) {
        const ToolRun r = dsptool(dir, std::string("-q process in.wav ") + name);
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        const std::vector<int16_t> in = soxSamples(dir, "in.wav"), got = soxSamples(dir, name);
        EXPECT_TRUE(std::string(name) == "out.ogg" ? std::fabs(double(got.size()) - double(in.size())) < 4096 : got == in)
            << name << " (Ogg: lossy, the same length)";
        EXPECT_EQ(dsptool(dir, std::string("info ") + name).status, 0) << name;
    }
}

// Batch: every input into the folder, two at a time; a bad file reports and fails the run at
// the end without stopping the others, whose outputs match single runs. Full-scale output
// samples of a single run are counted on stderr as sox does.
TEST(Dsptool, BatchAndClipping) {
    wavetest::TempDir dir;
    makeInput(dir, "1");
    wavetest::writeFile(dir.file("bad.wav"), "not audio");
    ASSERT_TRUE(tooltest::shellIn(dir.path(), "cp in.wav a.wav && cp in.wav c.wav"));
    const ToolRun batch = dsptool(dir, "process -o outdir --jobs=2 a.wav bad.wav c.wav -- fade gain 20");
    EXPECT_EQ(batch.status, 1);
    EXPECT_NE(batch.err.find("dsptool: bad.wav: "), std::string::npos) << batch.err;
    EXPECT_NE(batch.err.find("1 of 3 files failed"), std::string::npos) << batch.err;
    const ToolRun single = dsptool(dir, "process in.wav loud.wav fade gain 20 -q");
    ASSERT_EQ(single.status, 0) << single.err;
    size_t clipped = 0;
    for (int16_t s : soxSamples(dir, "loud.wav")) clipped += s >= 32767 || s <= -32767;
    EXPECT_EQ(single.err, "dsptool: 'loud.wav': " + std::to_string(clipped) + " samples clipped\n");
    EXPECT_EQ(listDir(dir.file("outdir")), (std::vector<std::string>{"a.wav", "c.wav"}));
    for (const char* name : {"outdir/a.wav", "outdir/c.wav"})
        EXPECT_EQ(wavetest::readFile(dir.file(name)), wavetest::readFile(dir.file("loud.wav"))) << name;
}
