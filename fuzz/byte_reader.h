// Turns a fuzzer's input into typed values; past the end every value reads as zero.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dspfuzz {

struct ByteReader {
    const uint8_t* data;
    size_t size;

    template <class T>
    T take() {
        T value{};
        const size_t n = size < sizeof(T) ? size : sizeof(T);
        std::memcpy(&value, data, n);
        data += n;
        size -= n;
        return value;
    }
};

}  // namespace dspfuzz
