#include "analysis/real_fft.h"

#include <cmath>
#include <utility>

namespace dsp {

namespace {

// ---------------------------------------------------------------------------------------
// Tables
//
// The twiddle part for nw entries is a stack of levels. Level h (h = nw/2, nw/4, ... 2)
// serves a complex block of 4h points (angle step θ = 2π/4h) and starts at nw - 2h:
//   [0] 1, [1] cos(π/4), [2] 0.5/cos θ, [3] 0.5/cos 3θ,
//   [2k .. 2k+3] cos kθ, sin kθ, cos 3kθ, sin 3kθ for even k from 2 below h/2.
// Odd k are interpolated from their even neighbours with [2] and [3]; k above an eighth of
// the block are mirrored from k' = 4h/4 - k.
// ---------------------------------------------------------------------------------------

struct Twiddle {
    float c1, s1, c3, s3;
};

// e^{i(π/2 - φ)} = sin φ + i cos φ and e^{3i(π/2 - φ)} = -sin 3φ - i cos 3φ.
inline Twiddle mirrored(const Twiddle& t) { return {t.s1, t.c1, -t.s3, -t.c3}; }

// ---------------------------------------------------------------------------------------
// Split-radix decimation-in-frequency complex transform, e^{S·2πi jk/L}, output in
// bit-reversed order. x points at interleaved (re, im) floats.
// ---------------------------------------------------------------------------------------

template <int S>
inline void butterfly(float* x, uint32_t k, uint32_t q, const Twiddle& w) {
    float* p0 = x + 2 * k;
    float* p1 = p0 + 2 * q;
    float* p2 = p1 + 2 * q;
    float* p3 = p2 + 2 * q;
    const float d02r = p0[0] - p2[0], d02i = p0[1] - p2[1];
    const float d13r = p1[0] - p3[0], d13i = p1[1] - p3[1];
    p0[0] += p2[0];
    p0[1] += p2[1];
    p1[0] += p3[0];
    p1[1] += p3[1];
    // (d02 ± S·i·d13) times the twiddles (conjugated for S = -1).
    const float t1r = d02r - S * d13i, t1i = d02i + S * d13r;
    const float t3r = d02r + S * d13i, t3i = d02i - S * d13r;
    p2[0] = t1r * w.c1 - S * (t1i * w.s1);
    p2[1] = t1i * w.c1 + S * (t1r * w.s1);
    p3[0] = t3r * w.c3 - S * (t3i * w.s3);
    p3[1] = t3i * w.c3 + S * (t3r * w.s3);
}

// The split step of a block of L >= 8 complex points: the first half becomes the input of
// the even outputs, the last two quarters the twiddled inputs of outputs 4r+1 and 4r+3.
template <int S>
void splitStage(float* x, uint32_t L, const float* tw) {
    const uint32_t q = L / 4;
    const uint32_t eighth = L / 8;
    const float r = tw[1];
    const Twiddle one{1.0f, 0.0f, 1.0f, 0.0f};
    const Twiddle quarterPi{r, r, -r, r};
    butterfly<S>(x, 0, q, one);
    butterfly<S>(x, eighth, q, quarterPi);
    if (L == 8) return;
    const float half1 = tw[2], half3 = tw[3];
    Twiddle lo = one;
    for (uint32_t k = 0; k < eighth; k += 2) {
        const Twiddle hi = (k + 2 == eighth)
                               ? quarterPi
                               : Twiddle{tw[2 * k + 4], tw[2 * k + 5], tw[2 * k + 6], tw[2 * k + 7]};
        const Twiddle odd{(lo.c1 + hi.c1) * half1, (lo.s1 + hi.s1) * half1, (lo.c3 + hi.c3) * half3,
                          (lo.s3 + hi.s3) * half3};
        if (k != 0) {
            butterfly<S>(x, k, q, lo);
            butterfly<S>(x, q - k, q, mirrored(lo));
        }
        butterfly<S>(x, k + 1, q, odd);
        butterfly<S>(x, q - k - 1, q, mirrored(odd));
        lo = hi;
    }
}

template <int S>
void splitRadix(float* x, uint32_t L, const float* trig, uint32_t nw) {
    if (L == 2) {
        const float r = x[0] - x[2], i = x[1] - x[3];
        x[0] += x[2];
        x[1] += x[3];
        x[2] = r;
        x[3] = i;
        return;
    }
    if (L == 4) {
        // Outputs in bit-reversed order: X0, X2, X1, X3.
        const float a0r = x[0] + x[4], a0i = x[1] + x[5];
        const float a1r = x[0] - x[4], a1i = x[1] - x[5];
        const float a2r = x[2] + x[6], a2i = x[3] + x[7];
        const float a3r = x[2] - x[6], a3i = x[3] - x[7];
        x[0] = a0r + a2r;
        x[1] = a0i + a2i;
        x[2] = a0r - a2r;
        x[3] = a0i - a2i;
        x[4] = a1r - S * a3i;
        x[5] = a1i + S * a3r;
        x[6] = a1r + S * a3i;
        x[7] = a1i - S * a3r;
        return;
    }
    splitStage<S>(x, L, trig + nw - L / 2);
    splitRadix<S>(x, L / 2, trig, nw);
    splitRadix<S>(x + L, L / 4, trig, nw);
    splitRadix<S>(x + 3 * L / 2, L / 4, trig, nw);
}

// Bit reversal of M complex points. The index list ip (in floats, ip[j] = 2·reverse(j)) is
// rebuilt in the work area for the top bits; each index is split into low bits j, one or two
// middle bits and high bits k, so that reverse(j, mid, k) = (k, reverse(mid), j).
void bitReverse(float* a, uint32_t M, int32_t* ip) {
    uint32_t l = 2 * M, m = 1;
    ip[0] = 0;
    while (8 * m < l) {
        l >>= 1;
        for (uint32_t j = 0; j < m; ++j) ip[m + j] = ip[j] + int32_t(l);
        m <<= 1;
    }
    const bool twoMiddleBits = (8 * m == l);
    const uint32_t m2 = 2 * m;
    auto swap = [a](uint32_t i, uint32_t j) {
        std::swap(a[i], a[j]);
        std::swap(a[i + 1], a[j + 1]);
    };
    for (uint32_t k = 0; k < m; ++k) {
        for (uint32_t j = 0; j < k; ++j) {
            const uint32_t i0 = 2 * j + uint32_t(ip[k]);
            const uint32_t r0 = 2 * k + uint32_t(ip[j]);
            if (twoMiddleBits) {
                swap(i0, r0);
                swap(i0 + m2, r0 + 2 * m2);
                swap(i0 + 2 * m2, r0 + m2);
                swap(i0 + 3 * m2, r0 + 3 * m2);
            } else {
                swap(i0, r0);
                swap(i0 + m2, r0 + m2);
            }
        }
        if (twoMiddleBits) {
            const uint32_t i0 = 2 * k + uint32_t(ip[k]);
            swap(i0 + m2, i0 + 2 * m2);
        }
    }
}

template <int S>
void complexTransform(float* a, uint32_t nFloats, FftTables& t) {
    splitRadix<S>(a, nFloats / 2, t.trig, t.twiddleSize());
    bitReverse(a, nFloats / 2, t.work + 2);
}

// Turns the transform of n/2 complex points into the spectrum of n real ones (k and n/2 - k
// at a time); c is the cosine part of nc entries.
void forwardPost(float* a, uint32_t n, const float* c, uint32_t nc) {
    const uint32_t m = n / 2;
    const uint32_t ks = 2 * nc / m;
    uint32_t kk = 0;
    for (uint32_t j = 2; j < m; j += 2) {
        const uint32_t k = n - j;
        kk += ks;
        const float wkr = float(0.5 - double(c[nc - kk]));
        const float wki = c[kk];
        const float xr = float(double(a[j]) - a[k]);
        const float xi = float(double(a[j + 1]) + a[k + 1]);
        const float yr = float(double(wkr) * xr - double(wki) * xi);
        const float yi = float(double(wkr) * xi + double(wki) * xr);
        a[j] = float(double(a[j]) - yr);
        a[j + 1] = float(double(a[j + 1]) - yi);
        a[k] = float(double(a[k]) + yr);
        a[k + 1] = float(double(a[k + 1]) - yi);
    }
}

void backwardPost(float* a, uint32_t n, const float* c, uint32_t nc) {
    const uint32_t m = n / 2;
    const uint32_t ks = 2 * nc / m;
    uint32_t kk = 0;
    for (uint32_t j = 2; j < m; j += 2) {
        const uint32_t k = n - j;
        kk += ks;
        const float wkr = float(0.5 - double(c[nc - kk]));
        const float wki = c[kk];
        const float xr = float(double(a[j]) - a[k]);
        const float xi = float(double(a[j + 1]) + a[k + 1]);
        const float yr = float(double(wkr) * xr + double(wki) * xi);
        const float yi = float(double(wkr) * xi - double(wki) * xr);
        a[j] = float(double(a[j]) - yr);
        a[j + 1] = float(double(a[j + 1]) - yi);
        a[k] = float(double(a[k]) + yr);
        a[k + 1] = float(double(a[k + 1]) - yi);
    }
}

// The rotation shared by both cosine transforms.
void cosineRotation(float* a, uint32_t n, const float* c, uint32_t nc) {
    const uint32_t ks = nc / n;
    uint32_t kk = 0;
    for (uint32_t j = 1; j < n / 2; ++j) {
        const uint32_t k = n - j;
        kk += ks;
        const float wkr = float(double(c[kk]) - c[nc - kk]);
        const float wki = float(double(c[kk]) + c[nc - kk]);
        const float t = float(double(wki) * a[j] - double(wkr) * a[k]);
        a[j] = float(double(wkr) * a[j] + double(wki) * a[k]);
        a[k] = t;
    }
    a[n / 2] = float(double(a[n / 2]) * c[0]);
}

}  // namespace

void buildTwiddles(uint32_t nw, FftTables& tables) {
    tables.work[0] = int32_t(nw);
    tables.work[1] = 1;
    if (nw <= 2) return;
    float* w = tables.trig;
    uint32_t h = nw >> 1;
    const double delta = float(std::atan(1.0) / h);
    w[0] = 1.0f;
    w[1] = float(std::cos(delta * h));
    if (h >= 4) {
        w[2] = float(0.5 / std::cos(delta * 2));
        w[3] = float(0.5 / std::cos(delta * 6));
    }
    for (uint32_t j = 4; j < h; j += 4) {
        w[j] = float(std::cos(delta * j));
        w[j + 1] = float(std::sin(delta * j));
        w[j + 2] = float(std::cos(delta * (3 * j)));
        w[j + 3] = float(std::sin(delta * (3 * j)));
    }
    uint32_t p = 0;
    while (h > 2) {
        const uint32_t q = p + h;
        h >>= 1;
        w[q] = 1.0f;
        w[q + 1] = w[1];
        if (h >= 4) {
            w[q + 2] = float(0.5 / double(w[p + 4]));
            w[q + 3] = float(0.5 / double(w[p + 6]));
        }
        for (uint32_t j = 4; j < h; j += 4) {
            w[q + j] = w[p + 2 * j];
            w[q + j + 1] = w[p + 2 * j + 1];
            w[q + j + 2] = w[p + 2 * j + 2];
            w[q + j + 3] = w[p + 2 * j + 3];
        }
        p = q;
    }
}

void buildCosines(uint32_t nc, FftTables& tables) {
    tables.work[1] = int32_t(nc);
    if (nc <= 1) return;
    float* c = tables.trig + tables.twiddleSize();
    const uint32_t h = nc >> 1;
    const double delta = float(std::atan(1.0) / h);
    c[0] = float(std::cos(delta * h));
    c[h] = float(0.5 * double(c[0]));
    for (uint32_t j = 1; j < h; ++j) {
        c[j] = float(0.5 * std::cos(delta * j));
        c[nc - j] = float(0.5 * std::sin(delta * j));
    }
}

void realFft(float* a, uint32_t n, FftTables& t) {
    if (n > 4 * t.twiddleSize()) buildTwiddles(n >> 2, t);
    if (n > 4 * t.cosineSize()) buildCosines(n >> 2, t);
    complexTransform<1>(a, n, t);
    if (n > 4) forwardPost(a, n, t.trig + t.twiddleSize(), t.cosineSize());
    const float d = float(double(a[0]) - a[1]);
    a[0] = float(double(a[0]) + a[1]);
    a[1] = d;
}

void realFftInverse(float* a, uint32_t n, FftTables& t) {
    if (n > 4 * t.twiddleSize()) buildTwiddles(n >> 2, t);
    if (n > 4 * t.cosineSize()) buildCosines(n >> 2, t);
    a[1] = float(0.5 * (double(a[0]) - a[1]));
    a[0] = float(double(a[0]) - a[1]);
    if (n > 4) backwardPost(a, n, t.trig + t.twiddleSize(), t.cosineSize());
    complexTransform<-1>(a, n, t);
}

void cosineTransform(float* a, uint32_t n, bool reverse, FftTables& t) {
    if (n > 4 * t.twiddleSize()) buildTwiddles(n >> 2, t);
    if (n > t.cosineSize()) buildCosines(n, t);
    const float* c = t.trig + t.twiddleSize();
    const uint32_t nc = t.cosineSize();
    if (reverse) {
        const float last = a[n - 1];
        for (uint32_t j = n - 2; j >= 2; j -= 2) {
            a[j + 1] = float(double(a[j]) - a[j - 1]);
            a[j] = float(double(a[j]) + a[j - 1]);
        }
        a[1] = float(double(a[0]) - last);
        a[0] = float(double(a[0]) + last);
        if (n > 4) backwardPost(a, n, c, nc);
        if (n >= 4) complexTransform<-1>(a, n, t);
    }
    cosineRotation(a, n, c, nc);
    if (!reverse) {
        if (n >= 4) complexTransform<1>(a, n, t);
        if (n > 4) forwardPost(a, n, c, nc);
        const float first = float(double(a[0]) - a[1]);
        a[0] = float(double(a[0]) + a[1]);
        for (uint32_t j = 2; j < n; j += 2) {
            a[j - 1] = float(double(a[j]) - a[j + 1]);
            a[j] = float(double(a[j]) + a[j + 1]);
        }
        a[n - 1] = first;
    }
}

}  // namespace dsp
