#include "tables/function_table.h"

#include <cmath>
#include <new>

#include "platform/fp_scope.h"

namespace dsp {
namespace {

// Stand-in storage when the entries cannot be allocated: a flat zero function that keeps
// every reader (which indexes values[j] and values[j + 1] with j <= mask) in bounds.
float flatZero[2] = {0.0f, 0.0f};

constexpr double kTwoPi = 6.283185307179586;
constexpr double kInverseTwoPi = 0.15915494309189535;

}  // namespace

FunctionTable::~FunctionTable() {
    if (values != flatZero) delete[] values;
}

void FunctionTable::build(uint32_t steps, double period_, double inversePeriod) {
    const FpScope fpScope;  // built while the library loads, under the loading thread's state
    size = steps;
    mask = steps - 1;
    period = period_;
    step = period_ / steps;
    indexScale = static_cast<float>(steps * inversePeriod);
    values = new (std::nothrow) float[size_t{steps} + 1];
    if (values == nullptr) {
        values = flatZero;
        mask = 0;
        return;
    }
    for (uint32_t i = 0; i <= steps; ++i) values[i] = static_cast<float>(eval(i * step));
}

float FunctionTable::lookup(float x) const {
    const long double u = static_cast<long double>(x) * indexScale;
    // Arguments beyond 32 bits of index give the integer-indefinite value, as the processor's
    // truncating conversion does; the result is then meaningless but stays in bounds.
    const int32_t k = (u > -2147483649.0L && u < 2147483648.0L) ? static_cast<int32_t>(u) : INT32_MIN;
    const uint32_t j = static_cast<uint32_t>(k) & mask;
    const long double slope = static_cast<long double>(values[j + 1]) - values[j];
    return static_cast<float>(values[j] + slope * (u - k));
}

float FunctionTable::valueAt(uint32_t i) const { return values[i & mask]; }

SineTable::SineTable(uint32_t steps) { build(steps, kTwoPi, kInverseTwoPi); }

double SineTable::eval(double x) const { return static_cast<double>(std::sin(static_cast<long double>(x))); }

const SineTable sineTable(1024);

}  // namespace dsp
