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
        // Whole 16-byte steps, zeroed: the kernels read the tail past the last element.
        const std::size_t bytes = count == 0 ? 16 : (count * sizeof(T) + 15) & ~std::size_t{15};
        data_ = static_cast<T*>(alignedBlock(16, bytes));
        size_ = data_ ? count : 0;
        if (data_) std::memset(static_cast<void*>(data_), 0, bytes);
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
