#include "wave_process.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <numeric>

namespace dsptool {
namespace {

constexpr uint32_t kBlockFrames = 4096;
// Largest block taken to honour the effects' block quanta; beyond it blocks stay kBlockFrames
// and a converter may drop a fraction of an output frame per block.
constexpr uint64_t kMaxQuantumFrames = 65536;
constexpr uint32_t kMaxRate = 768000;

// Set by SIGINT/SIGTERM so a long run stops between blocks and removes its temporary file.
volatile std::sig_atomic_t interrupted = 0;

extern "C" void onSignal(int) { interrupted = 1; }

class SignalGuard {
public:
    SignalGuard() {
        interrupted = 0;
        oldInt_ = std::signal(SIGINT, onSignal);
        oldTerm_ = std::signal(SIGTERM, onSignal);
    }
    ~SignalGuard() {
        std::signal(SIGINT, oldInt_);
        std::signal(SIGTERM, oldTerm_);
    }
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

private:
    void (*oldInt_)(int);
    void (*oldTerm_)(int);
};

// The temporary name of an output: same directory, so the final rename stays on one file system.
std::string temporaryName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return dir + "." + base + ".part" + std::to_string(getpid());
}

// A writer on a temporary file that becomes `path` only when committed, and is removed otherwise.
class PendingOutput {
public:
    PendingOutput(const std::string& path, const dsp_wave_format& format) : path_(path), temp_(temporaryName(path)) {
        errno = 0;
        writer_ = initWavefileOut(temp_.c_str(), &format);
        // A closed writer (file not creatable) refuses flushes.
        if (writer_ != nullptr && !flushWavefileOut(writer_)) {
            const int saved = errno;
            termWavefileOut(writer_);
            writer_ = nullptr;
            errno = saved;
        }
    }
    ~PendingOutput() {
        if (writer_ != nullptr) {
            termWavefileOut(writer_);
            std::remove(temp_.c_str());
        }
    }
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    bool ok() const { return writer_ != nullptr; }
    bool write(const void* data, uint32_t bytes) {
        return bytes == 0 || writeWavefileOut(writer_, data, int32_t(bytes)) == int32_t(bytes);
    }
    bool commit(std::string& error) {
        termWavefileOut(writer_);
        writer_ = nullptr;
        if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
            error = "cannot write '" + path_ + "': " + std::strerror(errno);
            std::remove(temp_.c_str());
            return false;
        }
        return true;
    }

private:
    std::string path_;
    std::string temp_;
    dsp_wavefile_out* writer_ = nullptr;
};

// Opens `path` with the library's reader and checks it is 16-bit PCM, mono or stereo.
dsp_wavefile_in* openInput(const std::string& path, uint32_t blockFrames, std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = "cannot open '" + path + "': " + std::strerror(errno);
        return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
        error = "cannot open '" + path + "': it is a directory";
        return nullptr;
    }
    if (::access(path.c_str(), R_OK) != 0) {
        error = "cannot open '" + path + "': " + std::strerror(errno);
        return nullptr;
    }
    dsp_wavefile_in* in = initWavefileIn(path.c_str(), blockFrames);
    if (in == nullptr) {
        error = "out of memory";
        return nullptr;
    }
    if (getHeaderWavefileIn(in)->lpData == nullptr) {
        termWavefileIn(in);
        error = "'" + path + "' is not a readable WAVE file (needs a RIFF form WAVE with a \"fmt \" chunk before "
                "its \"data\" chunk)";
        return nullptr;
    }
    const dsp_wave_format f = *getFormatWavefileIn(in);
    const bool pcm = f.wFormatTag == 1 || f.wFormatTag == 0xFFFE;
    if (!pcm || f.wBitsPerSample != 16 || f.nChannels < 1 || f.nChannels > 2 || f.nSamplesPerSec < 1 ||
        f.nSamplesPerSec > kMaxRate) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "'%s': unsupported format (tag %u, %u-bit, %u channels, %u Hz); dsptool processes 16-bit PCM, "
                      "mono or stereo, 1..%u Hz",
                      path.c_str(), unsigned(f.wFormatTag), unsigned(f.wBitsPerSample), unsigned(f.nChannels),
                      unsigned(f.nSamplesPerSec), unsigned(kMaxRate));
        termWavefileIn(in);
        error = text;
        return nullptr;
    }
    return in;
}

// Frames of sample data actually present: the data chunk's size, cut to what the file holds.
uint64_t framesPresent(const std::string& path, dsp_wavefile_in* in) {
    const dsp_wave_format& f = *getFormatWavefileIn(in);
    uint64_t bytes = getHeaderWavefileIn(in)->dwBufferLength;
    const int32_t dataStart = seekWavefileIn(in, 0, 1);
    struct stat st {};
    if (dataStart >= 0 && ::stat(path.c_str(), &st) == 0) {
        bytes = std::min<uint64_t>(bytes, uint64_t(std::max<int64_t>(0, int64_t(st.st_size) - dataStart)));
    }
    return bytes / (uint64_t{f.nChannels} * 2);
}

class Progress {
public:
    Progress(bool enabled, const std::string& label, uint64_t total)
        : enabled_(enabled && total > 0 && ::isatty(STDERR_FILENO) != 0), label_(label), total_(total) {}
    void update(uint64_t done) {
        if (!enabled_) return;
        const int percent = int(done * 100 / total_);
        if (percent == shown_) return;
        shown_ = percent;
        std::fprintf(stderr, "\r%s: %3d%%", label_.c_str(), percent);
        std::fflush(stderr);
    }
    void finish() {
        if (enabled_ && shown_ >= 0) std::fprintf(stderr, "\r%*s\r", int(label_.size()) + 6, "");
    }

private:
    bool enabled_;
    std::string label_;
    uint64_t total_;
    int shown_ = -1;
};

// Frames per block sent into the chain: a multiple of every effect's block quantum as counted
// at the chain's input (a converter earlier in the list scales the frames that reach the next
// one by rate ratio), as close to kBlockFrames as allows.
uint32_t chooseBlockFrames(const std::vector<ListedEffect>& effects, StreamFormat format) {
    const uint64_t inRate = format.rate;
    uint64_t quantum = 1;
    for (const ListedEffect& listed : effects) {
        // Blocks of B input frames bring B x rate / inRate frames here: a multiple of q when B
        // is a multiple of q x inRate / gcd(q x inRate, rate).
        const uint64_t q = listed.effect->blockQuantum(format) * inRate;
        const uint64_t needed = q / std::gcd(q, uint64_t{format.rate});
        quantum = std::lcm(quantum, needed);
        if (quantum > kMaxQuantumFrames) return kBlockFrames;
        format = listed.effect->output(format);
    }
    return quantum >= kBlockFrames ? uint32_t(quantum) : uint32_t(kBlockFrames / quantum * quantum);
}

}  // namespace

bool parseEffectList(const std::vector<std::string>& words, std::vector<ListedEffect>& effects, std::string& error) {
    effects.clear();
    for (size_t i = 0; i < words.size();) {
        const EffectInfo* info = findEffect(words[i]);
        if (info == nullptr) {
            error = "unknown effect '" + words[i] + "' (see dsptool --help for the effect list)";
            return false;
        }
        ListedEffect listed;
        listed.name = words[i++];
        while (i < words.size() && findEffect(words[i]) == nullptr) listed.args.push_back(words[i++]);
        listed.effect = info->parse(listed.args, error);
        if (listed.effect == nullptr) {
            if (error.empty()) error = listed.name + ": bad arguments";
            // An argument the effect rejects may be a misspelt effect name: say so.
            for (const std::string& arg : listed.args) {
                const bool word = !arg.empty() && std::all_of(arg.begin(), arg.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; });
                if (word && error.find("'" + arg + "'") != std::string::npos) {
                    error += "; '" + arg + "' is no effect name either (see dsptool --help)";
                    break;
                }
            }
            return false;
        }
        effects.push_back(std::move(listed));
    }
    return true;
}

bool processFile(const std::string& inPath, const std::string& outPath, std::vector<ListedEffect>& effects,
                 bool progress, ProcessReport& report, std::string& error) {
    dsp_wavefile_in* in = openInput(inPath, kBlockFrames, error);  // reads go to our own buffer
    if (in == nullptr) return false;
    struct ReaderCloser {
        dsp_wavefile_in* in;
        ~ReaderCloser() { termWavefileIn(in); }
    } closeReader{in};
    const dsp_wave_format inFormat = *getFormatWavefileIn(in);
    report.inChannels = inFormat.nChannels;
    report.inRate = inFormat.nSamplesPerSec;
    report.inFrames = framesPresent(inPath, in);
    report.declaredFrames = getHeaderWavefileIn(in)->dwBufferLength / (uint64_t{inFormat.nChannels} * 2);

    StreamFormat format;
    format.rate = inFormat.nSamplesPerSec;
    format.channels = inFormat.nChannels;
    format.blockFrames = kBlockFrames;
    format.lengthKnown = true;
    format.totalFrames = report.inFrames;
    const uint32_t blockFrames = chooseBlockFrames(effects, format);
    format.blockFrames = blockFrames;

    struct ChainCloser {
        dsp_chain* chain;
        ~ChainCloser() { dspDestroy(chain); }
    } chain{dspCreate(blockFrames, inFormat.nChannels, inFormat.nSamplesPerSec)};
    if (chain.chain == nullptr) {
        error = "out of memory";
        return false;
    }
    uint64_t maxFrames = blockFrames;
    uint32_t priority = 0;
    for (ListedEffect& listed : effects) {
        dsp_effect* effect = listed.effect->create(format, error);
        if (effect == nullptr) {
            if (error.empty()) error = listed.name + ": cannot be created for this input";
            return false;
        }
        priority += 10;
        if (dspAdd(chain.chain, effect, priority) == 0) {
            error = listed.name + ": the chain refused the effect";
            return false;
        }
        format = listed.effect->output(format);
        maxFrames = listed.effect->maxOutputFrames(maxFrames);
    }
    const uint32_t outChannels = dspGetDstChannels(chain.chain);
    const uint32_t outRate = dspGetDstRate(chain.chain);
    if (outChannels < 1 || outChannels > 2 || outRate < 1) {
        error = "the effect list produces no audio (an analyser only?)";
        return false;
    }
    maxFrames = std::max<uint64_t>(maxFrames, dspGetDstSize(chain.chain, blockFrames));
    std::vector<int16_t> inBlock(size_t{blockFrames} * inFormat.nChannels);
    std::vector<int16_t> outBlock(size_t(maxFrames) * outChannels + 2 * outChannels);

    const dsp_wave_format outFormat = {1,  uint16_t(outChannels), outRate, outRate * outChannels * 2,
                                       uint16_t(outChannels * 2), 16, 0};
    PendingOutput out(outPath, outFormat);
    if (!out.ok()) {
        error = "cannot create '" + outPath + "': " + std::strerror(errno ? errno : EACCES);
        return false;
    }

    SignalGuard signals;
    Progress meter(progress, "processing " + inPath, report.inFrames);
    const uint32_t inFrameBytes = inFormat.nChannels * 2u;
    uint64_t done = 0;
    while (done < report.inFrames) {
        if (interrupted != 0) {
            meter.finish();
            error = "interrupted";
            return false;
        }
        const uint32_t want = uint32_t(std::min<uint64_t>(blockFrames, report.inFrames - done));
        const int32_t got = readWavefileIn(in, inBlock.data(), want);
        if (got < 0) {
            meter.finish();
            error = "read error in '" + inPath + "'";
            return false;
        }
        const uint32_t frames = uint32_t(got) / inFrameBytes;
        if (frames == 0) break;  // the file ended early
        const uint32_t outBytes = dspSend(chain.chain, inBlock.data(), outBlock.data(), frames * inFrameBytes);
        if (outBytes > outBlock.size() * 2) {
            meter.finish();
            error = "internal error: the chain produced more than it announced";
            return false;
        }
        if (!out.write(outBlock.data(), outBytes)) {
            meter.finish();
            error = "write error on '" + outPath + "' (disk full, or output over 2 GiB?)";
            return false;
        }
        report.outFrames += outBytes / (outChannels * 2u);
        done += frames;
        meter.update(done);
    }
    meter.finish();
    report.outChannels = outChannels;
    report.outRate = outRate;
    return out.commit(error);
}

bool writeWaveFile(const std::string& path, const std::vector<int16_t>& pcm, uint32_t channels, uint32_t rate,
                   std::string& error) {
    const dsp_wave_format format = {1, uint16_t(channels), rate, rate * channels * 2, uint16_t(channels * 2), 16, 0};
    PendingOutput out(path, format);
    if (!out.ok()) {
        error = "cannot create '" + path + "': " + std::strerror(errno ? errno : EACCES);
        return false;
    }
    if (!out.write(pcm.data(), uint32_t(pcm.size() * 2))) {
        error = "write error on '" + path + "'";
        return false;
    }
    return out.commit(error);
}

}  // namespace dsptool
