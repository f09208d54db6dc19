// dsptool info FILE: the format the library's reader finds, the length and the chunk list.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "audio_io.h"
#include "registry.h"

namespace {

std::string fourcc(const unsigned char* p) {
    std::string id;
    for (int i = 0; i < 4; ++i) id += (p[i] >= 32 && p[i] < 127) ? char(p[i]) : '?';
    return id;
}

uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Lists the RIFF form's chunks (one level deep) as offset, id, size.
void printChunks(const std::string& path, long long fileSize) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return;
    unsigned char header[12];
    if (std::fread(header, 1, 12, file) == 12) {
        const long long formEnd = std::min<long long>(fileSize, 8LL + le32(header + 4));
        std::printf("chunks:    %-10s %-6s %10s\n", "offset", "id", "size");
        std::printf("           %-10d %-6s %10u  form %s\n", 0, fourcc(header).c_str(), le32(header + 4),
                    fourcc(header + 8).c_str());
        long long at = 12;
        while (at + 8 <= formEnd && std::fseek(file, long(at), SEEK_SET) == 0 && std::fread(header, 1, 8, file) == 8) {
            const uint32_t size = le32(header + 4);
            const bool cut = at + 8 + size > fileSize;
            std::printf("           %-10lld %-6s %10u%s\n", at, ("'" + fourcc(header) + "'").c_str(), size,
                        cut ? "  (runs past the end of the file)" : "");
            at += 8LL + size + (size & 1);
        }
    }
    std::fclose(file);
}

// Files that are no RIFF WAVE: what libsndfile finds.
int printDecoded(const dsptool::InputPath& file, long long bytes) {
    dsptool::AudioInput decoded;
    std::string error;
    if (!decoded.open(file.path(), error, 1)) {
        if (file.name() != file.path()) error.replace(error.find(file.path()), file.path().size(), file.name());
        return dsptool::failWith(error);
    }
    std::printf("file:      %s (%lld bytes)\n", file.name().c_str(), bytes);
    std::printf("format:    %s, %u channel%s, %u Hz\n", decoded.description().c_str(), decoded.sourceChannels(),
                decoded.sourceChannels() == 1 ? "" : "s", decoded.rate());
    std::printf("frames:    %llu\n", static_cast<unsigned long long>(decoded.frames()));
    std::printf("duration:  %.3f s\n", double(decoded.frames()) / decoded.rate());
    return 0;
}

int runInfo(const std::vector<std::string>& args) {
    if (args.size() != 1) return dsptool::failWith("info: needs exactly one FILE (- for stdin)");
    dsptool::InputPath file;
    std::string error;
    if (!file.open(args[0], error)) return dsptool::failWith(error);
    const std::string& path = file.path();
    struct stat st {};
    ::stat(path.c_str(), &st);
    dsp_wavefile_in* in = initWavefileIn(path.c_str(), 1);
    if (in == nullptr) return dsptool::failWith("out of memory");
    if (getHeaderWavefileIn(in)->lpData == nullptr) {
        termWavefileIn(in);
        return printDecoded(file, static_cast<long long>(st.st_size));
    }
    const dsp_wave_format f = *getFormatWavefileIn(in);
    const uint32_t dataBytes = getHeaderWavefileIn(in)->dwBufferLength;
    const int32_t dataStart = seekWavefileIn(in, 0, 1);
    termWavefileIn(in);

    const char* kind = f.wFormatTag == 1 ? "PCM" : f.wFormatTag == 3 ? "IEEE float" : f.wFormatTag == 0xFFFE ? "extensible" : "other";
    std::printf("file:      %s (%lld bytes)\n", file.name().c_str(), static_cast<long long>(st.st_size));
    std::printf("format:    %s (tag 0x%04X), %u-bit, %u channel%s, %u Hz, %u bytes/frame, %u bytes/s\n", kind,
                unsigned(f.wFormatTag), unsigned(f.wBitsPerSample), unsigned(f.nChannels), f.nChannels == 1 ? "" : "s",
                f.nSamplesPerSec, unsigned(f.nBlockAlign), f.nAvgBytesPerSec);
    const uint32_t frameBytes = f.nBlockAlign != 0 ? f.nBlockAlign : f.nChannels * ((f.wBitsPerSample + 7u) / 8u);
    const long long present = static_cast<long long>(st.st_size) - dataStart;
    // 0xFFFFFFFF: a stream written where the size could not be fixed; the data runs to the end.
    const bool streamed = dataBytes == 0xFFFFFFFFu && dataStart >= 0;
    if (frameBytes != 0 && f.nSamplesPerSec != 0) {
        const unsigned long long frames = (streamed ? uint64_t(present) : dataBytes) / frameBytes;
        if (streamed)
            std::printf("frames:    %llu (data chunk of unknown size at offset %d: a stream, read to the end)\n",
                        frames, dataStart);
        else
            std::printf("frames:    %llu (data chunk: %u bytes at offset %d)\n", frames, dataBytes, dataStart);
        std::printf("duration:  %.3f s\n", double(frames) / f.nSamplesPerSec);
    }
    if (dataStart >= 0 && !streamed && present < static_cast<long long>(dataBytes)) {
        std::printf("warning:   the file ends %lld bytes into the data chunk (truncated)\n", present);
    }
    printChunks(path, static_cast<long long>(st.st_size));
    return 0;
}

const dsptool::Registration infoCommand(dsptool::CommandInfo{
    "info", "info FILE",
    "      format, length and chunk list of a WAVE file, as the library's reader sees it; for other\n"
    "      formats (libsndfile) format, channels, rate and length. - reads stdin.",
    runInfo});

}  // namespace
