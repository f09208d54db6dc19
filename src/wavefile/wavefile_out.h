// Writer of RIFF WAVE files: a fixed 46-byte header (18-byte "fmt " chunk) with placeholder
// sizes, the host's bytes as the data chunk, and the sizes fixed when it is closed.
#pragma once
#include <cstdint>

#include "platform/winmm.h"

namespace dsp {

class WavefileOut {
public:
    static constexpr uint32_t kTag = 0x54554F57;           // "WOUT": marks a live writer handle
    static constexpr uint32_t kDataSizePlaceholder = 307200;  // the data size until the close
    static constexpr int32_t kIoBufferBytes = 131072;

    WavefileOut() = default;
    WavefileOut(const WavefileOut&) = delete;
    WavefileOut& operator=(const WavefileOut&) = delete;
    ~WavefileOut();

    // Creates `fileName` and writes the header for `format`; false leaves the writer closed.
    bool open(const char* fileName, const platform::WAVEFORMATEX& format);
    // Appends `bytes` bytes: the count written, -1 on a platform error, 0 when closed.
    int32_t write(const void* data, int32_t bytes);
    bool flush();
    // Fixes the chunk sizes and closes: the data chunk's size (0 when closed).
    int32_t close();

    bool isOpen() const { return isOpen_ != 0; }
    platform::WAVEFORMATEX* format() { return &format_; }

    const uint32_t tag = kTag;

private:
    platform::HMMIO file_ = nullptr;
    platform::MMCKINFO riffChunk_{};
    platform::MMCKINFO chunk_{};
    platform::MMIOINFO openInfo_{};
    uint8_t isOpen_ = 0;
    alignas(8) platform::WAVEFORMATEX format_{};  // aligned so a host can bind to its fields
};

}  // namespace dsp
