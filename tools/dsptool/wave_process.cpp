#include "wave_process.h"

#include "audio_io.h"

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

// Set by SIGINT/SIGTERM so a long run stops between blocks and removes its temporary file.
volatile std::sig_atomic_t interruptFlag = 0;

extern "C" void onSignal(int) { interruptFlag = 1; }


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

namespace {
std::mutex& guardLock() {
    static std::mutex m;
    return m;
}
int guardDepth = 0;
void (*oldInt)(int) = SIG_DFL;
void (*oldTerm)(int) = SIG_DFL;
}  // namespace

InterruptGuard::InterruptGuard() {
    std::lock_guard<std::mutex> hold(guardLock());
    if (guardDepth++ > 0) return;
    interruptFlag = 0;
    oldInt = std::signal(SIGINT, onSignal);
    oldTerm = std::signal(SIGTERM, onSignal);
}

InterruptGuard::~InterruptGuard() {
    std::lock_guard<std::mutex> hold(guardLock());
    if (--guardDepth > 0) return;
    std::signal(SIGINT, oldInt);
    std::signal(SIGTERM, oldTerm);
}

bool InterruptGuard::interrupted() { return interruptFlag != 0; }

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
                 const ProcessSettings& settings, ProcessReport& report, std::string& error) {
    // A leading `channels N` is done by the reader, which mixes any number of channels.
    uint32_t mixTo = 0;
    if (!effects.empty() && effects.front().effect->mixesInputTo() != 0) {
        mixTo = effects.front().effect->mixesInputTo();
        effects.erase(effects.begin());
    }
    if (!checkOutputName(outPath, settings.bits, error)) return false;
    AudioInput in;
    if (!in.open(inPath, error, mixTo)) return false;
    report.inChannels = in.channels();
    report.inRate = in.rate();
    report.inFrames = in.frames();
    report.declaredFrames = in.declaredFrames();
    report.inDescription = in.description();
    report.dithered = in.dithered();

    StreamFormat format;
    format.rate = in.rate();
    format.channels = in.channels();
    format.blockFrames = kBlockFrames;
    format.lengthKnown = true;
    format.totalFrames = report.inFrames;
    const uint32_t blockFrames = chooseBlockFrames(effects, format);
    format.blockFrames = blockFrames;

    struct ChainCloser {
        dsp_chain* chain = nullptr;
        ~ChainCloser() {
            std::lock_guard<std::mutex> hold(libraryLock());
            dspDestroy(chain);
        }
    } chain;
    uint64_t maxFrames = blockFrames;
    {
        std::lock_guard<std::mutex> hold(libraryLock());
        chain.chain = dspCreate(blockFrames, in.channels(), in.rate());
        if (chain.chain == nullptr) {
            error = "out of memory";
            return false;
        }
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
    }
    const uint32_t outChannels = dspGetDstChannels(chain.chain);
    const uint32_t outRate = dspGetDstRate(chain.chain);
    if (outChannels < 1 || outChannels > 2 || outRate < 1) {
        error = "the effect list produces no audio (an analyser only?)";
        return false;
    }
    maxFrames = std::max<uint64_t>(maxFrames, dspGetDstSize(chain.chain, blockFrames));
    std::vector<int16_t> inBlock(size_t{blockFrames} * in.channels());
    std::vector<int16_t> outBlock(size_t(maxFrames) * outChannels + 2 * outChannels);

    AudioOutput out;
    if (!out.open(outPath, outChannels, outRate, error, settings.bits)) return false;
    report.toStdout = out.isStdout();

    InterruptGuard signals;
    Progress meter(settings.progress, "processing " + in.name(), report.inFrames);
    const uint32_t inFrameBytes = in.channels() * 2u;
    uint64_t done = 0;
    for (;;) {
        if (interruptFlag != 0) {
            meter.finish();
            error = "interrupted";
            return false;
        }
        const int64_t frames = in.read(inBlock.data(), blockFrames);
        if (frames < 0) {
            meter.finish();
            error = "read error in '" + in.name() + "'";
            return false;
        }
        if (frames == 0) break;
        const uint32_t outBytes = dspSend(chain.chain, inBlock.data(), outBlock.data(), uint32_t(frames) * inFrameBytes);
        if (outBytes > outBlock.size() * 2) {
            meter.finish();
            error = "internal error: the chain produced more than it announced";
            return false;
        }
        const uint32_t outFrames = outBytes / (outChannels * 2u);
        for (size_t i = 0, n = size_t(outFrames) * outChannels; i < n; ++i)
            report.clipped += outBlock[i] >= 32767 || outBlock[i] <= -32767;
        if (!out.write(outBlock.data(), outFrames, error)) {
            meter.finish();
            return false;
        }
        report.outFrames += outFrames;
        done += uint64_t(frames);
        meter.update(done);
        if (settings.onFrames) settings.onFrames(uint64_t(frames));
    }
    meter.finish();
    report.inFrames = done;
    report.inputClipped = in.clipped();
    report.outChannels = outChannels;
    report.outRate = outRate;
    return out.commit(error);
}

bool writeWaveFile(const std::string& path, const std::vector<int16_t>& pcm, uint32_t channels, uint32_t rate,
                   std::string& error) {
    AudioOutput out;
    return out.open(path, channels, rate, error) && out.write(pcm.data(), uint32_t(pcm.size() / channels), error) &&
           out.commit(error);
}

}  // namespace dsptool
