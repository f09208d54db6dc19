// Helpers for tests that build RIFF files byte by byte and look at files on disk.
#pragma once
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace wavetest {

inline std::string le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = char(v >> (8 * i));
    return s;
}

inline std::string le16(uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; }

// A chunk with its pad byte when the payload is odd; `size` overrides the declared size.
inline std::string chunk(const std::string& id, const std::string& payload, int64_t size = -1) {
    std::string out = id + le32(size < 0 ? uint32_t(payload.size()) : uint32_t(size)) + payload;
    if (payload.size() % 2 != 0) out += '\0';
    return out;
}

inline std::string riff(const std::string& form, const std::string& body) { return chunk("RIFF", form + body); }

// A "fmt " payload: the 16 common bytes, plus cbSize when `withCbSize`.
inline std::string fmtPayload(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, bool withCbSize,
                              uint16_t cbSize = 0) {
    const uint16_t align = uint16_t(channels * bits / 8);
    std::string p = le16(tag) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(bits);
    if (withCbSize) p += le16(cbSize);
    return p;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh directory removed with its files at the end of the test.
class TempDir {
public:
    TempDir() {
        namespace fs = std::filesystem;
        std::random_device seed;
        do path_ = (fs::temp_directory_path() / ("dspwave" + std::to_string(seed()))).string();
        while (!fs::create_directory(path_));
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace wavetest
