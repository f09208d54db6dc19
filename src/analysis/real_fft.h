// In-place real FFT and the two cosine transforms built on it, over cached trig tables.
//
// Layout of a transformed frame a[0..n-1], with R[k] = sum a[j]·cos(2πjk/n) and
// I[k] = sum a[j]·sin(2πjk/n) (positive sine, no scaling):
//   a[0] = R[0] (DC), a[1] = R[n/2] (Nyquist), a[2k] = R[k], a[2k+1] = I[k] for 0 < k < n/2.
//
// Storage is float; the complex transform runs in float, the pre/post-processing steps
// evaluate each expression in double and round it once to float when it is stored.
#pragma once
#include <cstdint>

namespace dsp {

// Trig tables and bit-reversal work area of one transform family. work[0] holds the size the
// twiddle part was built for (0 = not built), work[1] the size of the cosine part, which sits
// right behind the twiddle part in trig; work[2..] is scratch for the bit reversal. Tables
// built for a larger size serve every smaller one.
struct FftTables {
    static constexpr uint32_t kTrigSize = 10240;
    static constexpr uint32_t kWorkSize = 66;

    float trig[kTrigSize];
    int32_t work[kWorkSize] = {0, 0};

    // Forces both parts to be rebuilt on next use.
    void invalidate() { work[0] = 0; }
    uint32_t twiddleSize() const { return uint32_t(work[0]); }
    uint32_t cosineSize() const { return uint32_t(work[1]); }
};

constexpr uint32_t kMinFftSize = 4;
constexpr uint32_t kMaxFftSize = 16384;

// True for a power of two from 4 to 16384.
inline bool isFftSize(uint32_t n) { return n >= kMinFftSize && n <= kMaxFftSize && (n & (n - 1)) == 0; }

// Forward real FFT of length n (a power of two, 4..16384) in place, packed as above.
void realFft(float* a, uint32_t n, FftTables& tables);

// Inverse of realFft on the packed layout; returns n/2 times the original samples.
void realFftInverse(float* a, uint32_t n, FftTables& tables);

// Unscaled cosine transforms of length n (a power of two, 4..8192) in place:
//   forward:  Y[k] = sum_j a[j]·cos(πj(k + ½)/n)
//   reverse:  Y[k] = sum_j a[j]·cos(π(j + ½)k/n)
// The twiddle part is kept for n/4 entries and the cosine part for n entries.
void cosineTransform(float* a, uint32_t n, bool reverse, FftTables& tables);

// Table builders, exposed for tests of the table contents.
void buildTwiddles(uint32_t nw, FftTables& tables);
void buildCosines(uint32_t nc, FftTables& tables);

}  // namespace dsp
