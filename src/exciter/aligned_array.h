// A heap array of trivially copyable values whose first element sits on a 16-byte boundary,
// for arrays the vector kernels read in 16-byte steps.
#pragma once
#include <cstddef>
#include <cstring>

#include "memory/aligned_block.h"

namespace dsp {

template <class T>
class AlignedArray {
public:
    AlignedArray() = default;
    AlignedArray(const AlignedArray&) = delete;
    AlignedArray& operator=(const AlignedArray&) = delete;
    ~AlignedArray() { freeAlignedBlock(data_); }

    // Replaces the contents with `count` zeroed elements; false when memory runs out.
    bool allocate(std::size_t count) {
        freeAlignedBlock(data_);
        data_ = static_cast<T*>(alignedBlock(16, count * sizeof(T)));
        size_ = data_ ? count : 0;
        // Zero the whole block, the tail the kernels read past the last element included.
        if (data_) std::memset(static_cast<void*>(data_), 0, ((count * sizeof(T) + 15) & ~std::size_t{15}) | (count == 0 ? 16 : 0));
        return data_ != nullptr;
    }
    void clear() {
        if (data_) std::memset(static_cast<void*>(data_), 0, size_ * sizeof(T));
    }

    T* data() { return data_; }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace dsp
