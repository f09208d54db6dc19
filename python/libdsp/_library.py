"""Loads the shared library through cffi's ABI mode: no compiler is needed to install."""
import ctypes.util
import os
import threading

from cffi import FFI

# The declarations of dsp.h, as cffi reads them (a test checks they match the header).
_TYPES = """
typedef struct dsp_chain dsp_chain;
typedef struct dsp_effect dsp_effect;
typedef struct dsp_wavefile_in dsp_wavefile_in;
typedef struct dsp_wavefile_out dsp_wavefile_out;
typedef struct DspSliceRecord {
    struct DspSliceRecord* next;
    struct DspSliceRecord* prev;
    float startTime;
    float endTime;
} DspSliceRecord;
typedef struct dsp_wave_header {
    char* lpData;
    uint32_t dwBufferLength;
    uint32_t dwBytesRecorded;
    uintptr_t dwUser;
    uint32_t dwFlags;
    uint32_t dwLoops;
    struct dsp_wave_header* lpNext;
    uintptr_t reserved;
} dsp_wave_header;
"""
# The format record is packed (18 bytes), so it gets a cdef of its own.
_PACKED = """
typedef struct dsp_wave_format {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
} dsp_wave_format;
"""
FUNCTIONS = """
dsp_chain* dspCreate(uint32_t size, uint32_t channels, uint32_t rate);
uint32_t dspAdd(dsp_chain* chain, dsp_effect* effect, uint32_t priority);
void dspClear(dsp_chain* chain);
void dspDestroy(dsp_chain* chain);
void dspAdjust(dsp_chain* chain, uint32_t size, uint32_t channels, uint32_t rate);
dsp_effect* dspGetHandle(dsp_chain* chain, uint32_t index);
uint32_t dspGetDstSize(dsp_chain* chain, uint32_t srcSize);
uint32_t dspGetDstChannels(dsp_chain* chain);
uint32_t dspGetDstRate(dsp_chain* chain);
uint32_t dspSend(dsp_chain* chain, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);
void dspEnableMmx(bool flag);
void dspEnable3dnow(bool flag);
void dspEnableSse(bool flag);
void* fastmemAlloc(uint32_t size);
void fastmemFree(void* ptr);
uint32_t fastmemGetAllocatedSize(void);
dsp_effect* initFader(uint32_t size, uint32_t channels, uint32_t rate, float crossInitial, float fader0Initial, float fader1Initial);
bool doFade(dsp_effect* fader, uint32_t index, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);
bool doCrossFade(dsp_effect* fader, const int16_t* pcmA, const int16_t* pcmB, int16_t* pcmOut, uint32_t bytes);
bool setFaderAction(dsp_effect* fader, uint32_t index, float start, float end, float targetDb);
bool setCrossFaderAction(dsp_effect* fader, float start, float end, float targetPosition);
bool delFaderAction(dsp_effect* fader, uint32_t index, float start, float end);
bool delCrossFaderAction(dsp_effect* fader, float start, float end);
bool setCrossFaderCurve(dsp_effect* fader, float centreDb, float edgeDb, float unityWidth, float fadeWidth);
bool termFader(dsp_effect* fader);
dsp_effect* initFft(uint32_t size, uint32_t channels, uint32_t analysedChannels, uint32_t floorDb);
uint32_t doFft(dsp_effect* handle, const int16_t* pcmIn, float* out, uint32_t bytes);
bool termFft(dsp_effect* handle);
dsp_effect* initFftAnalyze(uint32_t size, uint32_t channels, uint32_t fftSize, uint32_t historyLen);
bool doFftAnalyze(dsp_effect* handle, const int16_t* pcmIn, float* out, uint32_t bytes);
bool termFftAnalyze(dsp_effect* handle);
dsp_effect* initEnvAnalyze(uint32_t size, uint32_t channels, uint32_t rate);
bool doEnvAnalyze(dsp_effect* handle, const int16_t* pcmIn, float* out, uint32_t bytes);
bool termEnvAnalyze(dsp_effect* handle);
dsp_effect* initWaveSlice(uint32_t size, uint32_t channels, uint32_t rate, float onDb, float offDb, float risePercent, float minLengthSec);
bool doWaveSlice(dsp_effect* handle, const int16_t* pcmIn, uint32_t bytes);
const DspSliceRecord* getWaveSlice(dsp_effect* handle, uint32_t index);
bool termWaveSlice(dsp_effect* handle);
dsp_effect* initResampler(uint32_t size, uint32_t inChannels, uint32_t outChannels, uint32_t srcRate, uint32_t dstRate, uint32_t interpolation, float stopbandDb, float slopeDbPerOctave, bool filterOn);
uint32_t doResampler(dsp_effect* handle, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);
uint32_t getResamplerDstSize(dsp_effect* handle, uint32_t srcFrames);
bool termResampler(dsp_effect* handle);
dsp_effect* initHqups(uint32_t dstFrames, uint32_t inChannels, uint32_t outChannels, uint32_t srcRate, float harmonics, float mix, uint32_t cutoff, uint32_t interpolation, float stopbandDb, float slopeDbPerOctave, uint32_t activeMode, bool filterOn);
dsp_effect* initHqupsBySrcsize(uint32_t srcFrames, uint32_t inChannels, uint32_t outChannels, uint32_t srcRate, float harmonics, float mix, uint32_t cutoff, uint32_t interpolation, float stopbandDb, float slopeDbPerOctave, uint32_t activeMode, bool filterOn);
uint32_t doHqups(dsp_effect* handle, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);
uint32_t getHqupsSrcSize(dsp_effect* handle, uint32_t dstFrames);
uint32_t getHqupsDstSize(dsp_effect* handle, uint32_t srcFrames);
bool setHqupsActiveMode(dsp_effect* handle, uint32_t activeMode);
bool setHqupsMix(dsp_effect* handle, float mix);
bool setHqupsHarmonics(dsp_effect* handle, float harmonics);
bool termHqups(dsp_effect* handle);
dsp_effect* initChorus(uint32_t size, uint32_t channels, uint32_t rate, uint32_t voices, float delayTime, float depth, float speed, float mix, float orgMix);
bool doChorus(dsp_effect* chorus, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);
bool setChorusDelaytime(dsp_effect* chorus, float delayTime);
bool setChorusDepth(dsp_effect* chorus, float depth);
bool setChorusSpeed(dsp_effect* chorus, float speed);
bool setChorusMix(dsp_effect* chorus, int32_t voice, float mix);
bool setChorusOrgMix(dsp_effect* chorus, float orgMix);
bool termChorus(dsp_effect* chorus);
dsp_effect* initIirFilter(uint32_t size, uint32_t channels, uint32_t rate, int32_t order, float cutoff, int32_t type);
bool doIirFilter(dsp_effect* handle, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);
bool termIirFilter(dsp_effect* handle);
dsp_effect* initPitchShift(uint32_t size, uint32_t channels, uint32_t rate, float pitch, float outLevel, float grainTime, float hopTime);
bool doPitchShift(dsp_effect* handle, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);
bool setPitchShiftPitch(dsp_effect* handle, float pitch);
bool setPitchShiftOutLevel(dsp_effect* handle, float outLevel);
bool termPitchShift(dsp_effect* handle);
dsp_effect* initStretch(uint32_t size, uint32_t channels, uint32_t rate, float scale, float outLevel, float grainTime, float hopTime);
uint32_t doStretch(dsp_effect* handle, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);
bool setStretchScale(dsp_effect* handle, float scale);
bool setStretchOutLevel(dsp_effect* handle, float outLevel);
uint32_t getStretchDstSize(dsp_effect* handle, uint32_t srcSize);
bool termStretch(dsp_effect* handle);
dsp_wavefile_in* initWavefileIn(const char* fileName, uint32_t frames);
void termWavefileIn(dsp_wavefile_in* reader);
int32_t readWavefileIn(dsp_wavefile_in* reader, void* buffer, uint32_t frames);
int32_t seekWavefileIn(dsp_wavefile_in* reader, int32_t offset, int32_t mode);
int32_t timeSeekWavefileIn(dsp_wavefile_in* reader, float seconds, int32_t mode);
void* bufSizeExtendWavefileIn(dsp_wavefile_in* reader, uint32_t frames);
dsp_wave_format* getFormatWavefileIn(dsp_wavefile_in* reader);
dsp_wave_header* getHeaderWavefileIn(dsp_wavefile_in* reader);
dsp_wavefile_out* initWavefileOut(const char* fileName, const dsp_wave_format* format);
int32_t writeWavefileOut(dsp_wavefile_out* writer, const void* data, int32_t bytes);
bool flushWavefileOut(dsp_wavefile_out* writer);
int32_t termWavefileOut(dsp_wavefile_out* writer);
dsp_wave_format* getFormatWavefileOut(dsp_wavefile_out* writer);
"""

ffi = FFI()
ffi.cdef(_PACKED, packed=True)
ffi.cdef(_TYPES + FUNCTIONS)

# The library's creations and destructions share process-wide state and must not overlap
# (processing calls may run in parallel on different objects): every one takes this lock.
lifecycle = threading.Lock()


def _candidates():
    path = os.environ.get("LIBDSP_LIBRARY")
    if path:
        return [path]
    here = os.path.dirname(os.path.abspath(__file__))
    found = [os.path.join(here, name) for name in ("libdsp.so.0", "libdsp.so", "dsp.dll")]
    found = [p for p in found if os.path.exists(p)]
    system = ctypes.util.find_library("dsp")
    return found + [system or "libdsp.so.0"]


def _load():
    errors = []
    for candidate in _candidates():
        try:
            return ffi.dlopen(candidate), candidate
        except OSError as e:
            errors.append(f"{candidate}: {e}")
    raise ImportError(
        "cannot load the libdsp shared library; set LIBDSP_LIBRARY to its path, put it next to "
        "the libdsp package, or install it on the system path (" + "; ".join(errors) + ")")


lib, path = _load()
