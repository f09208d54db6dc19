#include <cstddef>
#include <new>

#include "dsp.h"
#include "platform/fp_scope.h"
#include "wavefile/wavefile_in.h"
#include "wavefile/wavefile_out.h"

using dsp::WavefileIn;
using dsp::WavefileOut;

static_assert(sizeof(dsp_wave_format) == sizeof(dsp::platform::WAVEFORMATEX), "format record layout");
static_assert(offsetof(dsp_wave_format, nSamplesPerSec) == offsetof(dsp::platform::WAVEFORMATEX, nSamplesPerSec),
              "format record layout");
static_assert(offsetof(dsp_wave_format, cbSize) == offsetof(dsp::platform::WAVEFORMATEX, cbSize), "format record layout");
static_assert(sizeof(dsp_wave_header) == sizeof(dsp::platform::WAVEHDR), "header record layout");
static_assert(offsetof(dsp_wave_header, dwUser) == offsetof(dsp::platform::WAVEHDR, dwUser), "header record layout");
static_assert(offsetof(dsp_wave_header, lpNext) == offsetof(dsp::platform::WAVEHDR, lpNext), "header record layout");

namespace {

// The reader or writer behind a handle, or nullptr for NULL and for a handle of the other kind.
WavefileIn* reader(dsp_wavefile_in* handle) {
    auto* in = reinterpret_cast<WavefileIn*>(handle);
    return in != nullptr && in->tag == WavefileIn::kTag ? in : nullptr;
}

WavefileOut* writer(dsp_wavefile_out* handle) {
    auto* out = reinterpret_cast<WavefileOut*>(handle);
    return out != nullptr && out->tag == WavefileOut::kTag ? out : nullptr;
}

}  // namespace

extern "C" {

DSP_API dsp_wavefile_in* initWavefileIn(const char* fileName, uint32_t frames) {
    const dsp::FpScope fpScope;
    auto* in = new (std::nothrow) WavefileIn;
    if (in != nullptr) in->open(fileName, frames);
    return reinterpret_cast<dsp_wavefile_in*>(in);
}

DSP_API void termWavefileIn(dsp_wavefile_in* handle) { delete reader(handle); }

DSP_API int32_t readWavefileIn(dsp_wavefile_in* handle, void* buffer, uint32_t frames) {
    const dsp::FpScope fpScope;
    WavefileIn* in = reader(handle);
    return in != nullptr ? in->read(buffer, frames) : 0;
}

DSP_API int32_t seekWavefileIn(dsp_wavefile_in* handle, int32_t offset, int32_t mode) {
    const dsp::FpScope fpScope;
    WavefileIn* in = reader(handle);
    return in != nullptr ? in->seek(offset, mode) : 0;
}

DSP_API int32_t timeSeekWavefileIn(dsp_wavefile_in* handle, float seconds, int32_t mode) {
    const dsp::FpScope fpScope;
    WavefileIn* in = reader(handle);
    return in != nullptr ? in->timeSeek(seconds, mode) : 0;
}

DSP_API void* bufSizeExtendWavefileIn(dsp_wavefile_in* handle, uint32_t frames) {
    const dsp::FpScope fpScope;
    WavefileIn* in = reader(handle);
    return in != nullptr ? in->extendBuffer(frames) : nullptr;
}

DSP_API dsp_wave_format* getFormatWavefileIn(dsp_wavefile_in* handle) {
    const dsp::FpScope fpScope;
    WavefileIn* in = reader(handle);
    return in != nullptr ? reinterpret_cast<dsp_wave_format*>(in->format()) : nullptr;
}

DSP_API dsp_wave_header* getHeaderWavefileIn(dsp_wavefile_in* handle) {
    const dsp::FpScope fpScope;
    WavefileIn* in = reader(handle);
    return in != nullptr ? reinterpret_cast<dsp_wave_header*>(in->header()) : nullptr;
}

DSP_API dsp_wavefile_out* initWavefileOut(const char* fileName, const dsp_wave_format* format) {
    const dsp::FpScope fpScope;
    auto* out = new (std::nothrow) WavefileOut;
    // Without a format record nothing is created: the handle stays closed.
    if (out != nullptr && format != nullptr) {
        out->open(fileName, *reinterpret_cast<const dsp::platform::WAVEFORMATEX*>(format));
    }
    return reinterpret_cast<dsp_wavefile_out*>(out);
}

DSP_API int32_t writeWavefileOut(dsp_wavefile_out* handle, const void* data, int32_t bytes) {
    const dsp::FpScope fpScope;
    WavefileOut* out = writer(handle);
    return out != nullptr ? out->write(data, bytes) : 0;
}

DSP_API bool flushWavefileOut(dsp_wavefile_out* handle) {
    const dsp::FpScope fpScope;
    WavefileOut* out = writer(handle);
    return out != nullptr && out->flush();
}

DSP_API int32_t termWavefileOut(dsp_wavefile_out* handle) {
    const dsp::FpScope fpScope;
    WavefileOut* out = writer(handle);
    if (out == nullptr) return 0;
    const int32_t dataBytes = out->close();
    delete out;
    return dataBytes;
}

DSP_API dsp_wave_format* getFormatWavefileOut(dsp_wavefile_out* handle) {
    const dsp::FpScope fpScope;
    WavefileOut* out = writer(handle);
    return out != nullptr ? reinterpret_cast<dsp_wave_format*>(out->format()) : nullptr;
}

}  // extern "C"
