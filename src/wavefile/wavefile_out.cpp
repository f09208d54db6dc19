#include "wavefile/wavefile_out.h"

#include <cstring>

namespace dsp {

using namespace platform;

#if defined(_WIN32)
namespace {

// Windows registers nothing under the "WAV " I/O-procedure code the writer opens through, and
// an open through an unregistered code fails: ours is the system's plain-file procedure.
LRESULT CALLBACK waveFileProcedure(LPSTR info, UINT message, LPARAM param1, LPARAM param2) {
    static const LPMMIOPROC dos = mmioInstallIOProcA(FOURCC_DOS, nullptr, MMIO_FINDPROC);
    return dos != nullptr ? dos(info, message, param1, param2) : MMIOERR_CANNOTOPEN;
}

// Installed on the first open and removed when the library unloads.
struct WaveProcedureInstall {
    bool installed = false;
    void ensure() {
        if (!installed)
            installed = mmioInstallIOProcA(mmioFOURCC('W', 'A', 'V', ' '), waveFileProcedure,
                                           MMIO_INSTALLPROC | MMIO_GLOBALPROC) != nullptr;
    }
    ~WaveProcedureInstall() {
        if (installed) mmioInstallIOProcA(mmioFOURCC('W', 'A', 'V', ' '), waveFileProcedure, MMIO_REMOVEPROC);
    }
} waveProcedure;

}  // namespace
#endif

WavefileOut::~WavefileOut() { close(); }

bool WavefileOut::open(const char* fileName, const WAVEFORMATEX& format) {
    close();
    if (fileName == nullptr) return false;
    std::memset(&openInfo_, 0, sizeof(openInfo_));
#if defined(_WIN32)
    waveProcedure.ensure();
#endif
    openInfo_.fccIOProc = mmioStringToFOURCCA("WAV ", 0);
    file_ = mmioOpenA(const_cast<LPSTR>(fileName), &openInfo_, MMIO_ALLOCBUF | MMIO_CREATE | MMIO_WRITE);
    if (file_ == nullptr) return false;
    format_ = format;
    mmioSetBuffer(file_, nullptr, kIoBufferBytes, 0);
    mmioSeek(file_, 0, SEEK_SET);

    riffChunk_ = MMCKINFO{};
    riffChunk_.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    riffChunk_.cksize = 0;
    mmioCreateChunk(file_, &riffChunk_, MMIO_CREATERIFF);

    chunk_ = MMCKINFO{};
    chunk_.ckid = mmioStringToFOURCCA("fmt ", 0);
    chunk_.cksize = sizeof(WAVEFORMATEX);
    mmioCreateChunk(file_, &chunk_, 0);
    mmioWrite(file_, reinterpret_cast<const char*>(&format_), sizeof(WAVEFORMATEX));
    mmioAscend(file_, &chunk_, 0);

    chunk_ = MMCKINFO{};
    chunk_.ckid = mmioStringToFOURCCA("data", 0);
    chunk_.cksize = kDataSizePlaceholder;
    mmioCreateChunk(file_, &chunk_, 0);
    isOpen_ = 1;
    return true;
}

int32_t WavefileOut::write(const void* data, int32_t bytes) {
    if (!isOpen()) return 0;
    // Nothing to write (no data or a count below 1) writes nothing.
    if (data == nullptr || bytes <= 0) return 0;
    return mmioWrite(file_, static_cast<const char*>(data), bytes);
}

bool WavefileOut::flush() {
    if (!isOpen()) return false;
    mmioFlush(file_, 0);
    return true;
}

int32_t WavefileOut::close() {
    if (!isOpen()) return 0;
    mmioAscend(file_, &chunk_, 0);
    mmioAscend(file_, &riffChunk_, 0);
    mmioFlush(file_, 0);
    mmioClose(file_, 0);
    file_ = nullptr;
    isOpen_ = 0;
    return int32_t(chunk_.cksize);
}

}  // namespace dsp
