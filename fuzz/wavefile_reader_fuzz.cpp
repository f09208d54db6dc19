// Feeds arbitrary bytes to the wave file reader as a file, then drives it with reads, seeks
// and block changes chosen by the input's tail; also round-trips a payload through the writer
// and back through the reader, which must return it unchanged.
#include <fuzzer/FuzzedDataProvider.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dsp.h"
#include "harness.h"
#include "wavefile/riff_builder.h"

using dspfuzz::check;

namespace {

// Scratch files in memory, removed after each input.
const std::string kInPath = "/dev/shm/dsp_wavefuzz_" + std::to_string(getpid()) + ".wav";
const std::string kOutPath = "/dev/shm/dsp_wavefuzz_" + std::to_string(getpid()) + "_out.wav";

void exerciseReader(FuzzedDataProvider& control, const std::string& path) {
    dsp_wavefile_in* in = initWavefileIn(path.c_str(), control.ConsumeIntegralInRange<uint32_t>(0, 1024));
    if (in == nullptr) return;
    const dsp_wave_format* format = getFormatWavefileIn(in);
    const dsp_wave_header* header = getHeaderWavefileIn(in);
    const size_t frameBytes = size_t{format->nChannels} * 2;
    std::vector<char> callerBuffer;
    const int steps = control.ConsumeIntegralInRange(0, 24);
    for (int i = 0; i < steps; ++i) {
        switch (control.ConsumeIntegralInRange(0, 5)) {
            case 0: {
                const int32_t n = readWavefileIn(in, nullptr, control.ConsumeIntegralInRange<uint32_t>(0, 2048));
                // The own block must hold what was read into it: touch every byte.
                volatile char sink = 0;
                for (int32_t k = 0; k < n; ++k) sink = sink ^ header->lpData[k];
                break;
            }
            case 1: {
                const uint32_t frames = control.ConsumeIntegralInRange<uint32_t>(0, 64);
                callerBuffer.assign(frameBytes * frames + 1, 0);
                const int32_t n = readWavefileIn(in, callerBuffer.data(), frames);
                check(n <= int32_t(frameBytes * frames));
                break;
            }
            case 2: seekWavefileIn(in, control.ConsumeIntegral<int32_t>(), control.ConsumeIntegralInRange(0, 1)); break;
            case 3: timeSeekWavefileIn(in, control.ConsumeFloatingPoint<float>(), control.ConsumeIntegralInRange(0, 1)); break;
            case 4: bufSizeExtendWavefileIn(in, control.ConsumeIntegralInRange<uint32_t>(0, 1024)); break;
            default: seekWavefileIn(in, control.ConsumeIntegralInRange<int32_t>(-64, 64), 0); break;
        }
    }
    termWavefileIn(in);
}

void roundTrip(FuzzedDataProvider& control, const std::string& path) {
    dsp_wave_format format{};
    const std::vector<uint8_t> record = control.ConsumeBytes<uint8_t>(sizeof format);
    if (!record.empty()) std::memcpy(&format, record.data(), record.size());
    const std::vector<uint8_t> payload = control.ConsumeBytes<uint8_t>(control.ConsumeIntegralInRange<size_t>(0, 4096));
    dsp_wavefile_out* out = initWavefileOut(path.c_str(), &format);
    if (out == nullptr) return;
    const int32_t written = writeWavefileOut(out, payload.data(), int32_t(payload.size()));
    check(termWavefileOut(out) == written);
    if (format.nChannels == 0) return;  // reads of zero-channel frames ask for nothing
    dsp_wavefile_in* in = initWavefileIn(path.c_str(), 64);
    std::string back;
    for (;;) {
        const int32_t n = readWavefileIn(in, nullptr, 64);
        if (n <= 0) break;
        back.append(getHeaderWavefileIn(in)->lpData, size_t(n));
    }
    termWavefileIn(in);
    // What comes back is the payload plus the pad byte of an odd size.
    check(back.size() == payload.size() + (payload.size() & 1));
    check(payload.empty() || std::memcmp(back.data(), payload.data(), payload.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The last 64 bytes steer the calls; the whole input is the file.
    const size_t controlBytes = size < 64 ? size : 64;
    FuzzedDataProvider control(data + size - controlBytes, controlBytes);
    wavetest::writeFile(kInPath, std::string(reinterpret_cast<const char*>(data), size));
    exerciseReader(control, kInPath);
    FuzzedDataProvider writerControl(data, size < 4200 ? size : 4200);
    roundTrip(writerControl, kOutPath);
    std::remove(kInPath.c_str());
    std::remove(kOutPath.c_str());
    return 0;
}
