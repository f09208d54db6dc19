// Reader of RIFF WAVE files: finds "fmt " and "data" and hands out raw blocks of the data
// chunk, one per read, with byte and time seeks. Sizes assume 16-bit samples.
#pragma once
#include <cstdint>

#include "platform/heap.h"
#include "platform/winmm.h"

namespace dsp {

class WavefileIn {
public:
    static constexpr uint32_t kTag = 0x4E495657;  // "WVIN": marks a live reader handle

    WavefileIn() = default;
    WavefileIn(const WavefileIn&) = delete;
    WavefileIn& operator=(const WavefileIn&) = delete;
    ~WavefileIn();

    // Opens `fileName` with a sample block of `frames` frames; false leaves the reader closed.
    bool open(const char* fileName, uint32_t frames);
    // Reads nChannels * frames * 2 bytes into `buffer`, or into the reader's own block when
    // null: bytes read, 0 at the end or when closed, -1 on a platform error.
    int32_t read(void* buffer, uint32_t frames);
    // Byte seek: mode 0 from the start of the sample data, otherwise from the current position.
    int32_t seek(int32_t offset, int32_t mode);
    // Time seek: mode 0 from the start of the sample data, otherwise from the current position.
    int32_t timeSeek(float seconds, int32_t mode);
    // Replaces the reader's own block by a zero-filled one of `frames` frames.
    void* extendBuffer(uint32_t frames);

    bool isOpen() const { return isOpen_ != 0; }
    platform::WAVEFORMATEX* format() { return &format_; }
    platform::WAVEHDR* header() { return &header_; }
    uint32_t bufferBytes() const { return bufferBytes_; }

    const uint32_t tag = kTag;

private:
    // Puts the position on the first sample byte by searching the file again from its start.
    bool rewindToData();
    void close();
    // nChannels * frames * 2, computed without overflow.
    uint64_t blockBytes(uint32_t frames) const;

    platform::HMMIO file_ = nullptr;
    platform::MMCKINFO riffChunk_{};
    platform::MMCKINFO chunk_{};
    uint8_t isOpen_ = 0;
    uint32_t bufferBytes_ = 0;
    alignas(8) platform::WAVEFORMATEX format_{};  // aligned so a host can bind to its fields
    platform::WAVEHDR header_{};
    // The block this reader allocated: lpData may name a caller's buffer instead.
    char* ownBlock_ = nullptr;
};

}  // namespace dsp
