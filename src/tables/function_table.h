// Tabulated periodic functions read by linear interpolation, and the process-wide sine table
// that drives the chorus oscillator.
#pragma once
#include <cstdint>

namespace dsp {

// One period of a periodic function sampled at N (a power of two) equal steps, plus one entry
// that repeats the start of the next period so interpolation at entry N - 1 needs no wrap.
// Generic over any periodic function given by eval(); the library instantiates only the sine.
class FunctionTable {
public:
    FunctionTable(const FunctionTable&) = delete;
    FunctionTable& operator=(const FunctionTable&) = delete;

    // The tabulated function at argument x.
    virtual double eval(double x) const = 0;
    virtual ~FunctionTable();

    // Interpolated value at argument x: u = x * indexScale in extended precision, k = u
    // truncated, entry k & mask plus the slope times u - k (backward for negative u).
    virtual float lookup(float x) const;

    // values[i & mask], no interpolation.
    virtual float valueAt(uint32_t i) const;

    double step = 0.0;         // period / size
    double period = 0.0;       // argument length of one period
    uint32_t size = 0;         // N
    float* values = nullptr;   // N + 1 entries
    float indexScale = 0.0f;   // N / period, rounded to single precision
    uint32_t mask = 0;         // N - 1

protected:
    FunctionTable() = default;
    // Fills the table from eval(); derived constructors call it once their eval() is usable.
    // `inversePeriod` is 1 / period as the double the index scale is formed from.
    void build(uint32_t steps, double period, double inversePeriod);
};

// sin(x) over one period of 2*pi, each entry computed in extended precision.
class SineTable : public FunctionTable {
public:
    explicit SineTable(uint32_t steps);
    double eval(double x) const override;
};

// 1024 steps per period; built when the library is loaded, freed when it is unloaded, and
// read-only in between.
extern const SineTable sineTable;

}  // namespace dsp
