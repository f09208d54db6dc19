#include "tables/db_table.h"

#include <cmath>

#include "platform/fp_scope.h"

namespace dsp {
namespace {
constexpr double kFloorDb = -50.0;
constexpr double kCeilingDb = 50.0;
}  // namespace

// Built before any exported function can run; its destructor frees the values at unload.
DbTable detail::dbTableInstance;

DbTable::DbTable() {
    const FpScope fpScope;  // built while the library loads, under the loading thread's state
    step = (kCeilingDb - kFloorDb) / kSize;
    scale = float(kSize / (kCeilingDb - kFloorDb));
    values = new float[kSize + 1];
    for (uint32_t i = 0; i <= kSize; ++i) values[i] = float(std::pow(10.0, (i * step + kFloorDb) * 0.05));
}

DbTable::~DbTable() {
    delete[] values;
    values = nullptr;
}

}  // namespace dsp
