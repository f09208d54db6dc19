// Audio files in and out for every command: 16-bit PCM WAVE through the library's own reader and
// writer, everything else through libsndfile when the build has it; "-" is stdin or stdout.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "dsp.h"

namespace dsptool {

// The library wants every call that allocates or frees (opening and closing effects, chains,
// readers and writers) serialised across threads: every such call of the tool holds this lock.
std::mutex& libraryLock();

// True when this build reads and writes other formats than 16-bit PCM WAVE (libsndfile).
bool haveSndfile();
// "libsndfile-1.2.0", or "no libsndfile: 16-bit PCM WAVE only".
std::string formatSupport();

// A local, seekable copy of an input: the file itself, or stdin ("-") spooled to a temporary
// file (the library's reader seeks), removed again with this object.
class InputPath {
public:
    InputPath() = default;
    ~InputPath();
    InputPath(const InputPath&) = delete;
    InputPath& operator=(const InputPath&) = delete;
    // False with `error` set when the file does not exist, is a directory or cannot be read.
    bool open(const std::string& name, std::string& error);
    const std::string& path() const { return path_; }  // what to open
    const std::string& name() const { return name_; }  // what to call it in messages

private:
    std::string name_, path_;
    bool temporary_ = false;
};

// An input read as interleaved 16-bit frames, mono or stereo. Sources of more than 16 bits are
// reduced with TPDF dither; more than two channels need mixTo.
class AudioInput {
public:
    AudioInput();
    ~AudioInput();
    AudioInput(const AudioInput&) = delete;
    AudioInput& operator=(const AudioInput&) = delete;

    // Opens `name` ("-" = stdin). mixTo 1 or 2 mixes the channels to that many as they are
    // read (odd-numbered channels to the left, even to the right); 0 keeps them (at most 2).
    bool open(const std::string& name, std::string& error, uint32_t mixTo = 0);
    uint32_t rate() const;
    uint32_t channels() const;        // as delivered
    uint32_t sourceChannels() const;  // as stored
    uint64_t frames() const;          // frames present in the file
    uint64_t declaredFrames() const;  // frames the header claims (more when the file is cut short)
    // "16-bit PCM WAVE", "24-bit FLAC", ...; dithered() when bits were dropped on the way in.
    const std::string& description() const;
    bool dithered() const;
    // Reads up to `frames` frames into `pcm`; frames read, 0 at the end, -1 on a read error.
    int64_t read(int16_t* pcm, uint32_t frames);
    // Samples clipped on the way to 16 bits (floating-point sources beyond full scale).
    uint64_t clipped() const;
    const std::string& name() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// mkdir with the default mode (as the umask allows); false when it fails.
bool makeDirectory(const std::string& path);

// True for the names of the formats the output side knows (.wav .flac .aiff/.aif .ogg).
bool hasAudioExtension(const std::string& name);

// Where an output named on the command line is written, for audio and text alike. "-" (stdout),
// a device, a FIFO and names under /dev/ or /proc/ are written in place; anything else under a
// temporary name beside its target (symbolic links followed, dangling ones too), which replace()
// renames over the target with an existing file's mode (and owner, where allowed). Without
// replace() the temporary file is removed again and the target keeps what it held.
class OutputPlace {
public:
    OutputPlace() = default;
    ~OutputPlace();
    OutputPlace(const OutputPlace&) = delete;
    OutputPlace& operator=(const OutputPlace&) = delete;

    // False with `error` set for a directory or a link that cannot be followed.
    bool resolve(const std::string& name, std::string& error);
    bool direct() const { return direct_; }
    // What to open for writing: the target itself when direct, else the temporary file.
    const std::string& writePath() const { return direct_ ? target_ : temporary_; }
    // Opening the temporary file failed: nothing to remove.
    void forget() { temporary_.clear(); }
    // Renames the temporary file (if any) over the target; false with errno set when that fails.
    bool replace();

private:
    std::string target_, temporary_;
    bool direct_ = false, exists_ = false;
    mode_t mode_ = 0;
    unsigned owner_ = 0, group_ = 0;  // uid and gid
};

// An output file of 16-bit frames, its format chosen by the name's extension (WAVE when it has
// none), written where OutputPlace says and completed by commit(); a WAVE stream written in
// place carries 0xFFFFFFFF as its sizes (unknown length) unless it can seek back to fix them.
class AudioOutput {
public:
    AudioOutput();
    ~AudioOutput();  // without commit(): the temporary file is removed, the target untouched
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // `bits`: 16, or 24/32 (libsndfile only; the samples padded).
    bool open(const std::string& name, uint32_t channels, uint32_t rate, std::string& error, uint32_t bits = 16);
    bool write(const int16_t* pcm, uint32_t frames, std::string& error);
    bool commit(std::string& error);
    // True when the output is this process's standard output (messages then go to stderr).
    bool isStdout() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// Checks an output name before any work is done: a known extension, libsndfile when needed.
bool checkOutputName(const std::string& name, uint32_t bits, std::string& error);

}  // namespace dsptool
