// Odd-symmetric piecewise-linear transfer function on [-1, 1], held as a linked list of
// breakpoints in increasing x from (0, 0) to (1, 1). Inputs of magnitude 1 or more map to +-1.
#pragma once
#include <cstdint>

#include "exciter/aligned_array.h"

namespace dsp {

struct CurvePoint {
    float x;
    float y;
    float slope;  // toward the next point
    CurvePoint* next;
    CurvePoint* prev;
};

class TransferCurve {
public:
    TransferCurve() = default;
    TransferCurve(const TransferCurve&) = delete;
    TransferCurve& operator=(const TransferCurve&) = delete;
    ~TransferCurve();

    // Back to the straight line y = x: the two end points only. Allocates.
    void setup();
    // Inserts (x, y) with x clamped to [0, 1] and y to [-1, 1], unless a point with that x
    // exists (so x = 0 and x = 1 are always ignored). Returns the point count. Allocates.
    int32_t addPoint(float x, float y);
    // out[i] = curve(|in[i]|) with the sign of in[i]; in == out is allowed. The lookup starts
    // at the point the previous sample used.
    void applyCurve(const float* in, float* out, uint32_t frames);

    // The quadratic Bezier from (0, 0) to (1, 1) whose control point lies `harmonics` off the
    // diagonal, sampled at 63 inner points: 0 is y = x, positive values bend it upward.
    void buildFromHarmonics(float harmonics);

    int32_t count() const { return count_; }

    static constexpr int kIndexSize = 1024;
    // (Lookups run four at a time with AVX2 gathers at that cpu::level(); same results.)
    const CurvePoint* first() const { return first_; }

private:

    void release();
    void rebuildIndex();
    // Room for count_ entries in the flat copy, so that rebuilding it never allocates.
    void reserveFlat();

    bool ready_ = false;
    CurvePoint* first_ = nullptr;
    CurvePoint* last_ = nullptr;
    CurvePoint* cursor_ = nullptr;
    int32_t count_ = 0;
    // The points as flat arrays in x order (x, y and slope widened to double, as the
    // interpolation uses them), rebuilt after the points change. index_[b]: the last point with
    // x <= b / kIndexSize, so that a lookup starts next to its segment.
    AlignedArray<double> flatX_, flatY_, flatSlope_;
    AlignedArray<CurvePoint*> flatPoint_;
    int32_t index_[kIndexSize] = {};
    bool indexStale_ = true;
};

}  // namespace dsp
