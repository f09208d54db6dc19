#include "audio_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef DSPTOOL_HAVE_SNDFILE
#include <sndfile.h>
#endif

#ifdef _WIN32  // no symbolic links to follow, no descriptors inherited by children
#include <direct.h>
#include <io.h>
#define O_CLOEXEC 0
#define S_ISLNK(mode) false
static char* realpath(const char* path, char*) { return _fullpath(nullptr, path, 0); }
static int lstat(const char* path, struct stat* st) { return stat(path, st); }
static ssize_t readlink(const char*, char*, size_t) { return -1; }
static ssize_t pwrite(int fd, const void* data, size_t bytes, off_t at) {
    return lseek(fd, at, SEEK_SET) == at ? write(fd, data, unsigned(bytes)) : -1;
}
#endif

namespace dsptool {
namespace {

constexpr uint32_t kMaxRate = 768000;
constexpr uint32_t kReadFrames = 4096;
constexpr uint32_t kUnknownSize = 0xFFFFFFFFu;  // a WAVE stream's sizes when its length is unknown
const char* const kWaveOnly = "this dsptool was built without libsndfile: it reads and writes 16-bit PCM WAVE only";

std::string lowerExtension(const std::string& name) {
    const size_t slash = name.find_last_of('/');
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

enum class FileKind { Wave, Flac, Aiff, Ogg, Unknown };

FileKind kindOf(const std::string& name) {
    const std::string ext = lowerExtension(name);
    if (ext.empty() || ext == "wav" || ext == "wave") return FileKind::Wave;
    if (ext == "flac") return FileKind::Flac;
    if (ext == "aiff" || ext == "aif") return FileKind::Aiff;
    if (ext == "ogg" || ext == "oga") return FileKind::Ogg;
    return FileKind::Unknown;
}

std::string systemError(const std::string& what, const std::string& name) {
    return what + " '" + name + "': " + std::strerror(errno);
}

bool writeAll(int fd, const void* data, size_t bytes) {
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::write(fd, p, bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        bytes -= size_t(n);
    }
    return true;
}

// The library's reader and writer allocate when opened and free when closed: those calls hold
// the library lock (batch threads open files while others create effects).
dsp_wavefile_in* openReader(const char* path, uint32_t frames) {
    std::lock_guard<std::mutex> hold(libraryLock());
    return initWavefileIn(path, frames);
}
void closeReader(dsp_wavefile_in* reader) {
    std::lock_guard<std::mutex> hold(libraryLock());
    termWavefileIn(reader);
}
dsp_wavefile_out* openWriter(const char* path, const dsp_wave_format* format) {
    std::lock_guard<std::mutex> hold(libraryLock());
    return initWavefileOut(path, format);
}
void closeWriter(dsp_wavefile_out* writer) {
    std::lock_guard<std::mutex> hold(libraryLock());
    termWavefileOut(writer);
}

// Reproducible triangular noise of +-1 LSB: the sum of two uniform variables in [-0.5, 0.5).
class TpdfDither {
public:
    double next() { return uniform() + uniform(); }

private:
    double uniform() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return double(state_ >> 11) * (1.0 / 9007199254740992.0) - 0.5;
    }
    uint64_t state_ = 0x9E3779B97F4A7C15ull;
};

// Mixes `frames` frames of `from` channels to `to` channels (1: the mean of all; 2 from mono:
// copied; 2 from more: odd-numbered channels to the left, even-numbered to the right).
template <typename T>
void mixFrames(const T* in, uint32_t from, double* out, uint32_t to, uint32_t frames) {
    for (uint32_t f = 0; f < frames; ++f, in += from) {
        for (uint32_t c = 0; c < to; ++c) {
            double sum = 0;
            uint32_t n = 0;
            for (uint32_t s = (to == 1 || from == 1) ? 0 : c; s < from; s += (to == 1 || from == 1) ? 1 : 2, ++n)
                sum += double(in[s]);
            out[f * to + c] = sum / n;
        }
    }
}

}  // namespace

std::mutex& libraryLock() {
    static std::mutex lock;
    return lock;
}

bool haveSndfile() {
#ifdef DSPTOOL_HAVE_SNDFILE
    return true;
#else
    return false;
#endif
}

std::string formatSupport() {
#ifdef DSPTOOL_HAVE_SNDFILE
    return sf_version_string();
#else
    return "no libsndfile: 16-bit PCM WAVE only";
#endif
}

bool makeDirectory(const std::string& path) {
#ifdef _WIN32
    return ::_mkdir(path.c_str()) == 0;
#else
    return ::mkdir(path.c_str(), 0777) == 0;
#endif
}

bool hasAudioExtension(const std::string& name) {
    return !lowerExtension(name).empty() && kindOf(name) != FileKind::Unknown;
}

// ---- input --------------------------------------------------------------------------------

InputPath::~InputPath() {
    if (temporary_) ::unlink(path_.c_str());
}

bool InputPath::open(const std::string& name, std::string& error) {
    name_ = name == "-" ? "(stdin)" : name;
    if (name != "-") {
        struct stat st {};
        if (::stat(name.c_str(), &st) != 0 || ::access(name.c_str(), R_OK) != 0) {
            error = systemError("cannot open", name);
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            error = "cannot open '" + name + "': it is a directory";
            return false;
        }
        path_ = name;
        return true;
    }
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/dsptool-stdin-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = ::mkstemp(buffer.data());
    if (fd < 0) {
        error = systemError("cannot spool stdin to", pattern);
        return false;
    }
    path_ = buffer.data();
    temporary_ = true;
#ifdef _WIN32
    _setmode(STDIN_FILENO, _O_BINARY);
#endif
    std::vector<char> chunk(1 << 16);
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = systemError("cannot read", "(stdin)");
            break;
        }
        if (n == 0) break;
        if (!writeAll(fd, chunk.data(), size_t(n))) {
            error = systemError("cannot spool stdin to", path_);
            break;
        }
    }
    ::close(fd);
    return error.empty();
}

struct AudioInput::Impl {
    InputPath file;
    std::string description;
    uint32_t rate = 0, channels = 0, sourceChannels = 0;
    uint64_t frames = 0, declared = 0, done = 0, clipped = 0;
    bool dithered = false;
    dsp_wavefile_in* wave = nullptr;  // 16-bit PCM WAVE: the library's reader
#ifdef DSPTOOL_HAVE_SNDFILE
    SNDFILE* sound = nullptr;  // anything else
    bool shortReads = false;   // the source has no more than 16 bits: read them as they are
#endif
    std::vector<int16_t> raw;
    std::vector<double> wide, mixed;
    TpdfDither dither;

    ~Impl() {
        if (wave != nullptr) closeReader(wave);
#ifdef DSPTOOL_HAVE_SNDFILE
        if (sound != nullptr) sf_close(sound);
#endif
    }

    // To 16 bits: rounded, with dither when the source had more bits; clipped at full scale.
    void toPcm(const double* in, int16_t* out, size_t count, bool addDither) {
        for (size_t i = 0; i < count; ++i) {
            const double v = std::nearbyint(in[i] + (addDither ? dither.next() : 0.0));
            if (v > 32767.0 || v < -32768.0) ++clipped;
            out[i] = int16_t(std::min(32767.0, std::max(-32768.0, v)));
        }
    }

    bool openWave(std::string& error) {
        wave = openReader(file.path().c_str(), kReadFrames);
        if (wave == nullptr) {
            error = "out of memory";
            return false;
        }
        const dsp_wave_format& f = *getFormatWavefileIn(wave);
        if (getHeaderWavefileIn(wave)->lpData == nullptr) return false;  // not a WAVE file
        const bool pcm16 = (f.wFormatTag == 1 || f.wFormatTag == 0xFFFE) && f.wBitsPerSample == 16;
        if (!pcm16 || f.nChannels == 0) {
            if (!haveSndfile()) {
                char text[160];
                std::snprintf(text, sizeof text, "'%s': unsupported format (tag 0x%04X, %u-bit, %u channels); ",
                              file.name().c_str(), unsigned(f.wFormatTag), unsigned(f.wBitsPerSample),
                              unsigned(f.nChannels));
                error = text + std::string(kWaveOnly);
            }
            return false;
        }
        rate = f.nSamplesPerSec;
        sourceChannels = f.nChannels;
        const uint64_t frameBytes = uint64_t{f.nChannels} * 2;
        const uint32_t dataBytes = getHeaderWavefileIn(wave)->dwBufferLength;
        declared = dataBytes / frameBytes;
        frames = declared;
        struct stat st {};
        const int32_t dataStart = seekWavefileIn(wave, 0, 1);
        if (dataStart >= 0 && ::stat(file.path().c_str(), &st) == 0)
            frames = std::min<uint64_t>(frames, uint64_t(std::max<int64_t>(0, int64_t(st.st_size) - dataStart)) / frameBytes);
        // A stream (sizes 0xFFFFFFFF, or the largest a writer could give): the data runs to the end.
        if (dataBytes >= 0x7FFF0000u) declared = frames;
        description = "16-bit PCM WAVE";
        return true;
    }

#ifdef DSPTOOL_HAVE_SNDFILE
    bool openSndfile(std::string& error) {
        SF_INFO info{};
        sound = sf_open(file.path().c_str(), SFM_READ, &info);
        if (sound == nullptr) {
            error = "'" + file.name() + "' is not a readable audio file (" + sf_strerror(nullptr) + ")";
            return false;
        }
        rate = uint32_t(info.samplerate);
        sourceChannels = uint32_t(info.channels);
        frames = declared = info.frames < 0 ? 0 : uint64_t(info.frames);
        const int sub = info.format & SF_FORMAT_SUBMASK;
        static const int kShort[] = {SF_FORMAT_PCM_S8, SF_FORMAT_PCM_U8, SF_FORMAT_PCM_16, SF_FORMAT_ULAW,
                                     SF_FORMAT_ALAW, SF_FORMAT_IMA_ADPCM, SF_FORMAT_MS_ADPCM, SF_FORMAT_GSM610,
                                     SF_FORMAT_ALAC_16, SF_FORMAT_DWVW_12, SF_FORMAT_DWVW_16};
        shortReads = std::find(std::begin(kShort), std::end(kShort), sub) != std::end(kShort);
        dithered = !shortReads;
        SF_FORMAT_INFO major{}, minor{};
        major.format = info.format & SF_FORMAT_TYPEMASK;
        minor.format = sub;
        sf_command(nullptr, SFC_GET_FORMAT_INFO, &major, sizeof major);
        sf_command(nullptr, SFC_GET_FORMAT_INFO, &minor, sizeof minor);
        description = std::string(major.name != nullptr ? major.name : "?") + ", " + (minor.name != nullptr ? minor.name : "?");
        return true;
    }
#endif

    int64_t read(int16_t* pcm, uint32_t want) {
        if (done >= frames) return 0;
        want = uint32_t(std::min<uint64_t>(want, frames - done));
        const bool direct = sourceChannels == channels;
        int64_t got = 0;
        if (wave != nullptr || sndShort()) {
            int16_t* target = pcm;
            if (!direct) {
                raw.resize(size_t(want) * sourceChannels);
                target = raw.data();
            }
            if (wave != nullptr) {
                const int32_t bytes = readWavefileIn(wave, target, want);
                if (bytes < 0) return -1;
                got = bytes / int32_t(2 * sourceChannels);
            } else {
#ifdef DSPTOOL_HAVE_SNDFILE
                got = sf_readf_short(sound, target, want);
                if (got == 0 && sf_error(sound) != SF_ERR_NO_ERROR) return -1;
#endif
            }
            if (!direct) {
                mixed.resize(size_t(got) * channels);
                mixFrames(raw.data(), sourceChannels, mixed.data(), channels, uint32_t(got));
                toPcm(mixed.data(), pcm, mixed.size(), false);
            }
        } else {
#ifdef DSPTOOL_HAVE_SNDFILE
            wide.resize(size_t(want) * sourceChannels);
            got = sf_readf_double(sound, wide.data(), want);
            if (got == 0 && sf_error(sound) != SF_ERR_NO_ERROR) return -1;
            for (double& v : wide) v *= 32768.0;  // full scale of a normalised read
            const double* from = wide.data();
            if (!direct) {
                mixed.resize(size_t(got) * channels);
                mixFrames(wide.data(), sourceChannels, mixed.data(), channels, uint32_t(got));
                from = mixed.data();
            }
            toPcm(from, pcm, size_t(got) * channels, true);
#endif
        }
        done += uint64_t(got);
        if (got == 0) frames = done;  // cut short
        return got;
    }

    bool sndShort() const {
#ifdef DSPTOOL_HAVE_SNDFILE
        return sound != nullptr && shortReads;
#else
        return false;
#endif
    }
};

AudioInput::AudioInput() : impl_(new Impl) {}
AudioInput::~AudioInput() = default;

bool AudioInput::open(const std::string& name, std::string& error, uint32_t mixTo) {
    Impl& d = *impl_;
    if (!d.file.open(name, error)) return false;
    if (!d.openWave(error)) {
        if (!error.empty()) return false;
        if (d.wave != nullptr) closeReader(d.wave), d.wave = nullptr;
#ifdef DSPTOOL_HAVE_SNDFILE
        if (!d.openSndfile(error)) return false;
#else
        error = "'" + d.file.name() + "' is not a readable WAVE file (needs a RIFF form WAVE with a \"fmt \" chunk before its \"data\" chunk; " + kWaveOnly + ")";
        return false;
#endif
    }
    if (d.rate < 1 || d.rate > kMaxRate) {
        error = "'" + d.file.name() + "': unsupported rate " + std::to_string(d.rate) + " Hz (1.." + std::to_string(kMaxRate) + ")";
        return false;
    }
    d.channels = mixTo != 0 ? mixTo : d.sourceChannels;
    if (d.channels > 2) {
        error = "'" + d.file.name() + "' has " + std::to_string(d.sourceChannels) +
                " channels; effects take mono or stereo: put `channels 2` (or 1) first in the effect list to mix it down";
        return false;
    }
    return true;
}

uint32_t AudioInput::rate() const { return impl_->rate; }
uint32_t AudioInput::channels() const { return impl_->channels; }
uint32_t AudioInput::sourceChannels() const { return impl_->sourceChannels; }
uint64_t AudioInput::frames() const { return impl_->frames; }
uint64_t AudioInput::declaredFrames() const { return impl_->declared; }
const std::string& AudioInput::description() const { return impl_->description; }
bool AudioInput::dithered() const { return impl_->dithered; }
int64_t AudioInput::read(int16_t* pcm, uint32_t frames) { return impl_->read(pcm, frames); }
uint64_t AudioInput::clipped() const { return impl_->clipped; }
const std::string& AudioInput::name() const { return impl_->file.name(); }

// ---- output -------------------------------------------------------------------------------

namespace {

std::atomic<unsigned> temporaryCount{0};

// Beside `path`, hidden, and unique within this process (two outputs may name one file).
std::string temporaryName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return dir + "." + base + ".part" + std::to_string(getpid()) + "-" + std::to_string(++temporaryCount);
}

// The 46-byte header the library's writer produces, with the sizes given.
std::vector<unsigned char> waveHeader(const dsp_wave_format& f, uint32_t riffSize, uint32_t dataSize) {
    std::vector<unsigned char> h;
    auto text = [&](const char* s) { h.insert(h.end(), s, s + 4); };
    auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) h.push_back((v >> (8 * i)) & 0xFF); };
    auto u16 = [&](uint16_t v) { h.push_back(v & 0xFF), h.push_back(v >> 8); };
    text("RIFF"), u32(riffSize), text("WAVE"), text("fmt "), u32(18);
    u16(f.wFormatTag), u16(f.nChannels), u32(f.nSamplesPerSec), u32(f.nAvgBytesPerSec), u16(f.nBlockAlign);
    u16(f.wBitsPerSample), u16(f.cbSize), text("data"), u32(dataSize);
    return h;
}

}  // namespace

OutputPlace::~OutputPlace() {
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

bool OutputPlace::resolve(const std::string& name, std::string& error) {
    target_ = name;
    if (name == "-") {
        direct_ = true;
        return true;
    }
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            error = "cannot write '" + name + "': it is a directory";
            return false;
        }
        // Devices, FIFOs and whatever /dev/stdout or /proc/self/fd/N lead to are written in place.
        direct_ = !S_ISREG(st.st_mode) || name.rfind("/dev/", 0) == 0 || name.rfind("/proc/", 0) == 0;
        exists_ = true;
        mode_ = st.st_mode & 07777;
        owner_ = st.st_uid;
        group_ = st.st_gid;
        if (!direct_) {
            char* real = ::realpath(name.c_str(), nullptr);
            if (real == nullptr) {
                error = systemError("cannot resolve", name);
                return false;
            }
            target_ = real;
            std::free(real);
        }
    } else {
        // A new file, or the missing target of a dangling link: follow the links by hand.
        int hops = 0;
        for (; hops < 40 && ::lstat(target_.c_str(), &st) == 0 && S_ISLNK(st.st_mode); ++hops) {
            std::vector<char> link(PATH_MAX + 1);
            const ssize_t n = ::readlink(target_.c_str(), link.data(), PATH_MAX);
            if (n <= 0) break;
            const std::string to(link.data(), size_t(n));
            const size_t slash = target_.find_last_of('/');
            target_ = (to[0] == '/' || slash == std::string::npos) ? to : target_.substr(0, slash + 1) + to;
        }
        if (::lstat(target_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            error = systemError("cannot follow", name);
            return false;
        }
    }
    if (!direct_) {
        temporary_ = temporaryName(target_);
        ::unlink(temporary_.c_str());
    }
    return true;
}

bool OutputPlace::replace() {
    if (temporary_.empty()) return true;
    if (exists_) {
#ifndef _WIN32
        // The owner carries over where we may give it (as root); the mode always.
        if (::chown(temporary_.c_str(), owner_, group_) != 0) {}
#endif
        ::chmod(temporary_.c_str(), mode_);
    }
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) return false;
    temporary_.clear();
    return true;
}

struct AudioOutput::Impl {
    std::string name;
    OutputPlace place;  // destroyed after the body below has closed the file
    uint32_t channels = 0;
    uint64_t dataBytes = 0;
    dsp_wavefile_out* wave = nullptr;  // 16-bit WAVE file: the library's writer
    int fd = -1;                       // 16-bit WAVE written directly
    bool ownFd = false;
    off_t headerAt = -1;  // where a direct stream's header starts, when it can seek back
    dsp_wave_format format{};
#ifdef DSPTOOL_HAVE_SNDFILE
    SNDFILE* sound = nullptr;
#endif

    ~Impl() {
        if (wave != nullptr) closeWriter(wave);
#ifdef DSPTOOL_HAVE_SNDFILE
        if (sound != nullptr) sf_close(sound);
#endif
        if (ownFd && fd >= 0) ::close(fd);
    }

    bool openDirect(std::string& error) {
        if (name == "-") {
            fd = STDOUT_FILENO;
#ifdef _WIN32
            _setmode(fd, _O_BINARY);
#endif
        } else {
            fd = ::open(place.writePath().c_str(), O_WRONLY | O_CLOEXEC | O_TRUNC);
            if (fd < 0) {
                error = systemError("cannot write", name);
                return false;
            }
            ownFd = true;
        }
        return true;
    }

    bool writeBytes(const void* data, size_t bytes, std::string& error) {
        if (wave != nullptr) {
            if (bytes == 0 || writeWavefileOut(wave, data, int32_t(bytes)) == int32_t(bytes)) return true;
            error = "cannot write '" + name + "': write error (disk full?)";
            return false;
        }
        if (writeAll(fd, data, bytes)) return true;
        error = systemError("cannot write", name);
        return false;
    }
};

AudioOutput::AudioOutput() : impl_(new Impl) {}
AudioOutput::~AudioOutput() = default;

bool checkOutputName(const std::string& name, uint32_t bits, std::string& error) {
    const FileKind kind = name == "-" ? FileKind::Wave : kindOf(name);
    if (kind == FileKind::Unknown) {
        error = "cannot write '" + name + "': unknown extension (outputs are .wav, .flac, .aiff or .ogg)";
        return false;
    }
    if ((kind != FileKind::Wave || bits != 16) && !haveSndfile()) {
        error = "cannot write '" + name + "': " + kWaveOnly;
        return false;
    }
    if (bits != 16 && bits != 24 && bits != 32) {
        error = "output bits must be 16, 24 or 32";
        return false;
    }
    return true;
}

bool AudioOutput::open(const std::string& name, uint32_t channels, uint32_t rate, std::string& error, uint32_t bits) {
    Impl& d = *impl_;
    d.name = name;
    d.channels = channels;
    if (!checkOutputName(name, bits, error) || !d.place.resolve(name, error)) return false;
    const FileKind kind = name == "-" ? FileKind::Wave : kindOf(name);
    d.format = {1, uint16_t(channels), rate, rate * channels * 2, uint16_t(channels * 2), 16, 0};
    if (kind == FileKind::Wave && bits == 16) {
        if (d.place.direct()) {
            if (!d.openDirect(error)) return false;
            struct stat st {};
            if (::fstat(d.fd, &st) == 0 && S_ISREG(st.st_mode)) d.headerAt = ::lseek(d.fd, 0, SEEK_CUR);
            const std::vector<unsigned char> h = waveHeader(d.format, kUnknownSize, kUnknownSize);
            return d.writeBytes(h.data(), h.size(), error);
        }
        errno = 0;
        d.wave = openWriter(d.place.writePath().c_str(), &d.format);
        if (d.wave == nullptr || !flushWavefileOut(d.wave)) {  // a closed writer refuses flushes
            const int saved = errno ? errno : EACCES;
            if (d.wave != nullptr) closeWriter(d.wave), d.wave = nullptr;
            errno = saved;
            error = systemError("cannot create", name);
            d.place.forget();  // nothing was created
            return false;
        }
        return true;
    }
#ifdef DSPTOOL_HAVE_SNDFILE
    SF_INFO info{};
    info.samplerate = int(rate);
    info.channels = int(channels);
    const int major = kind == FileKind::Flac ? SF_FORMAT_FLAC : kind == FileKind::Aiff ? SF_FORMAT_AIFF
                      : kind == FileKind::Ogg ? SF_FORMAT_OGG : SF_FORMAT_WAV;
    const int sub = kind == FileKind::Ogg ? SF_FORMAT_VORBIS
                    : bits == 24 ? SF_FORMAT_PCM_24 : bits == 32 ? SF_FORMAT_PCM_32 : SF_FORMAT_PCM_16;
    info.format = major | sub;
    if (!sf_format_check(&info)) {
        error = "cannot write '" + name + "': that format does not take " + std::to_string(bits) + "-bit samples";
        return false;
    }
    if (d.place.direct()) {
        if (!d.openDirect(error)) return false;
        d.sound = sf_open_fd(d.fd, SFM_WRITE, &info, 0);
    } else {
        d.sound = sf_open(d.place.writePath().c_str(), SFM_WRITE, &info);
    }
    if (d.sound == nullptr) {
        error = "cannot create '" + name + "': " + sf_strerror(nullptr);
        return false;
    }
    return true;
#else
    error = "cannot write '" + name + "': " + kWaveOnly;
    return false;
#endif
}

bool AudioOutput::write(const int16_t* pcm, uint32_t frames, std::string& error) {
    Impl& d = *impl_;
    const size_t bytes = size_t(frames) * d.channels * 2;
#ifdef DSPTOOL_HAVE_SNDFILE
    if (d.sound != nullptr) {
        if (sf_writef_short(d.sound, pcm, frames) == sf_count_t(frames)) return true;
        error = "cannot write '" + d.name + "': " + sf_strerror(d.sound);
        return false;
    }
#endif
    if (!d.writeBytes(pcm, bytes, error)) return false;
    d.dataBytes += bytes;
    return true;
}

bool AudioOutput::commit(std::string& error) {
    Impl& d = *impl_;
    if (d.wave != nullptr) {
        closeWriter(d.wave);
        d.wave = nullptr;
        // The writer reports no error on its last flush: the file's size tells.
        struct stat st {};
        if (::stat(d.place.writePath().c_str(), &st) != 0 || uint64_t(st.st_size) != 46 + d.dataBytes) {
            error = "cannot write '" + d.name + "': the file came out short (disk full?)";
            return false;
        }
    }
#ifdef DSPTOOL_HAVE_SNDFILE
    if (d.sound != nullptr) {
        const int status = sf_close(d.sound);
        d.sound = nullptr;
        if (status != 0) {
            error = "cannot write '" + d.name + "': " + sf_error_number(status);
            return false;
        }
    }
#endif
    if (d.headerAt >= 0) {  // a direct stream into a regular file: fix the sizes after all
        const uint64_t riff = 38 + d.dataBytes;
        if (riff <= 0xFFFFFFFFull) {
            const std::vector<unsigned char> h = waveHeader(d.format, uint32_t(riff), uint32_t(d.dataBytes));
            if (::pwrite(d.fd, h.data(), h.size(), d.headerAt) != ssize_t(h.size())) {
                error = systemError("cannot write", d.name);
                return false;
            }
        }
    }
    if (d.fd >= 0 && d.ownFd) {
        const int status = ::close(d.fd);
        d.fd = -1;
        if (status != 0) {
            error = systemError("cannot write", d.name);
            return false;
        }
    }
    if (!d.place.replace()) {
        error = systemError("cannot write", d.name);
        return false;
    }
    return true;
}

bool AudioOutput::isStdout() const {
    const Impl& d = *impl_;
    if (d.name == "-") return true;
    struct stat a {}, b {};
    return d.place.direct() && ::stat(d.place.writePath().c_str(), &a) == 0 && ::fstat(STDOUT_FILENO, &b) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace dsptool
