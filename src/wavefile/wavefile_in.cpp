#include "wavefile/wavefile_in.h"

#include <cmath>
#include <cstring>

namespace dsp {

using namespace platform;

namespace {

const FOURCC kWave = mmioFOURCC('W', 'A', 'V', 'E');
const FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
const FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');
constexpr uint64_t kMaxBlockBytes = INT32_MAX;  // a read's count must fit its signed result

}  // namespace

WavefileIn::~WavefileIn() { close(); }

uint64_t WavefileIn::blockBytes(uint32_t frames) const { return uint64_t{format_.nChannels} * frames * 2; }

bool WavefileIn::open(const char* fileName, uint32_t frames) {
    close();
    if (fileName == nullptr) return false;
    file_ = mmioOpenA(const_cast<LPSTR>(fileName), nullptr, MMIO_ALLOCBUF);
    if (file_ == nullptr) return false;
    // Whatever fails from here on closes the file again.
    auto fail = [this](void* formatBlock) {
        if (formatBlock != nullptr) HeapFree(GetProcessHeap(), 0, formatBlock);
        close();
        return false;
    };
    mmioSeek(file_, 0, SEEK_SET);
    riffChunk_.fccType = kWave;
    if (mmioDescend(file_, &riffChunk_, nullptr, MMIO_FINDRIFF) != MMSYSERR_NOERROR) return fail(nullptr);
    chunk_.ckid = kFmt;
    if (mmioDescend(file_, &chunk_, &riffChunk_, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) return fail(nullptr);

    // A "fmt " chunk claiming more bytes than the file holds cannot be read whole: refuse it
    // before allocating its size.
    const LONG here = mmioSeek(file_, 0, SEEK_CUR);
    const LONG fileEnd = mmioSeek(file_, 0, SEEK_END);
    if (here < 0 || fileEnd < 0 || mmioSeek(file_, here, SEEK_SET) != here) return fail(nullptr);
    const uint32_t formatBytes = chunk_.cksize;
    if (formatBytes > uint32_t(fileEnd - here)) return fail(nullptr);
    void* formatBlock = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, formatBytes);
    if (formatBlock == nullptr) return fail(nullptr);
    if (mmioRead(file_, static_cast<HPSTR>(formatBlock), LONG(formatBytes)) != LONG(formatBytes)) return fail(formatBlock);
    mmioAscend(file_, &chunk_, 0);

    chunk_.ckid = kData;
    if (mmioDescend(file_, &chunk_, &riffChunk_, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) return fail(formatBlock);

    // Fields beyond the end of a short "fmt " chunk stay 0.
    format_ = WAVEFORMATEX{};
    std::memcpy(&format_, formatBlock, formatBytes < sizeof(format_) ? formatBytes : sizeof(format_));

    // A block that cannot be had (or whose size overflows a read's count) fails the open.
    const uint64_t bytes = blockBytes(frames);
    if (bytes > kMaxBlockBytes) return fail(formatBlock);
    ownBlock_ = static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, SIZE_T(bytes)));
    if (ownBlock_ == nullptr) return fail(formatBlock);
    bufferBytes_ = uint32_t(bytes);
    header_.lpData = ownBlock_;
    header_.dwBufferLength = chunk_.cksize;
    header_.dwBytesRecorded = 0;
    header_.dwFlags = 0;
    header_.dwLoops = 0;

    HeapFree(GetProcessHeap(), 0, formatBlock);
    isOpen_ = 1;
    return true;
}

void WavefileIn::close() {
    if (file_ != nullptr) mmioClose(file_, 0);
    file_ = nullptr;
    if (ownBlock_ != nullptr) HeapFree(GetProcessHeap(), 0, ownBlock_);
    ownBlock_ = nullptr;
    isOpen_ = 0;
}

int32_t WavefileIn::read(void* buffer, uint32_t frames) {
    if (!isOpen()) return 0;
    uint64_t bytes = blockBytes(frames);
    char* target = static_cast<char*>(buffer);
    if (target == nullptr) {
        // A null buffer always means the reader's own block, clamped to its size, even after
        // lpData was pointed at a caller's buffer.
        target = ownBlock_;
        if (bytes > bufferBytes_) bytes = bufferBytes_;
    } else if (bytes > kMaxBlockBytes) {
        bytes = kMaxBlockBytes;
    }
    header_.lpData = target;
    const LONG got = mmioRead(file_, target, LONG(bytes));
    header_.dwBytesRecorded = DWORD(got);
    return got;
}

bool WavefileIn::rewindToData() {
    mmioSeek(file_, 0, SEEK_SET);
    riffChunk_.fccType = kWave;
    if (mmioDescend(file_, &riffChunk_, nullptr, MMIO_FINDRIFF) != MMSYSERR_NOERROR) return false;
    chunk_.ckid = kData;
    return mmioDescend(file_, &chunk_, &riffChunk_, MMIO_FINDCHUNK) == MMSYSERR_NOERROR;
}

int32_t WavefileIn::seek(int32_t offset, int32_t mode) {
    if (!isOpen()) return 0;
    // Mode 0 counts from the first sample byte, like the time seek's mode 0.
    if (mode == 0 && !rewindToData()) return 0;
    return mmioSeek(file_, offset, SEEK_CUR);
}

int32_t WavefileIn::timeSeek(float seconds, int32_t mode) {
    if (!isOpen()) return 0;
    const long double frames = std::trunc(static_cast<long double>(format_.nSamplesPerSec) * seconds);
    const long double bytes = frames * format_.nChannels * 2;
    // A time whose byte offset cannot be a LONG (or is not a number) is a failed seek.
    if (!(std::fabs(bytes) <= static_cast<long double>(INT32_MAX))) return -1;
    if (mode == 0 && !rewindToData()) return 0;
    return mmioSeek(file_, static_cast<LONG>(bytes), SEEK_CUR);
}

void* WavefileIn::extendBuffer(uint32_t frames) {
    if (!isOpen()) return nullptr;
    const uint64_t bytes = blockBytes(frames);
    if (bytes > kMaxBlockBytes) return nullptr;
    // The new block is had before the old one goes, so a failure keeps the reader usable.
    char* fresh = static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, SIZE_T(bytes)));
    if (fresh == nullptr) return nullptr;
    HeapFree(GetProcessHeap(), 0, ownBlock_);
    ownBlock_ = fresh;
    bufferBytes_ = uint32_t(bytes);
    header_.lpData = fresh;
    return fresh;
}

}  // namespace dsp
