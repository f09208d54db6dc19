#include "tables/db_table.h"

#include <cmath>

namespace dsp {
namespace {

constexpr double kFloorDb = -50.0;
constexpr double kCeilingDb = 50.0;

// Built before any exported function can run; its destructor frees the values at unload.
DbTable table;

}  // namespace

DbTable::DbTable() {
    step = (kCeilingDb - kFloorDb) / kSize;
    scale = float(kSize / (kCeilingDb - kFloorDb));
    values = new float[kSize + 1];
    for (uint32_t i = 0; i <= kSize; ++i) values[i] = float(std::pow(10.0, (i * step + kFloorDb) * 0.05));
}

DbTable::~DbTable() {
    delete[] values;
    values = nullptr;
}

float DbTable::gainFor(float level) const {
    // Below the table the level mutes (a fade "to -96 dB" ends silent instead of at -50 dB,
    // and never wraps round to a loud entry); above it the gain stays at +50 dB.
    if (!(level >= float(kFloorDb))) return 0.0f;
    if (level > float(kCeilingDb)) level = float(kCeilingDb);
    const double x = (double(level) + double(levelOffset)) * double(scale);
    const int32_t i = int32_t(x);
    const uint32_t j = uint32_t(i) & mask;
    const double low = values[j];
    return float(low + (double(values[j + 1]) - low) * (x - i));
}

const DbTable& dbTable() { return table; }

}  // namespace dsp
