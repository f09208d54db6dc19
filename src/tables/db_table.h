// The process-wide decibel-to-gain table: 2049 linear amplitudes for -50 dB to +50 dB in steps
// of 100/2048 dB, built when the library is loaded and freed when it is unloaded.
#pragma once
#include <cstdint>

namespace dsp {

class DbTable {
public:
    static constexpr uint32_t kSize = 2048;

    DbTable();
    ~DbTable();
    DbTable(const DbTable&) = delete;
    DbTable& operator=(const DbTable&) = delete;

    // Linear gain for a level in dB, interpolated linearly between neighbouring entries.
    // Levels above +50 dB give the +50 dB gain; levels below -50 dB (and NaN) give silence.
    float gainFor(float level) const;

    uint32_t size = kSize;
    float* values = nullptr;         // size + 1 entries; values[i] = 10^((i * step - 50) / 20)
    double step = 0.0;               // dB between entries: 100 / 2048
    float levelOffset = 50.0f;       // dB added to a level to index from the table's floor
    float scale = 0.0f;              // entries per dB: 2048 / 100
    uint32_t mask = kSize - 1;
};

namespace detail {
extern DbTable dbTableInstance;
}

// The table built at load.
inline const DbTable& dbTable() { return detail::dbTableInstance; }

inline float DbTable::gainFor(float level) const {
    // Below the table the level mutes (a fade "to -96 dB" ends silent instead of at -50 dB,
    // and never wraps round to a loud entry); above it the gain stays at +50 dB.
    if (!(level >= -50.0f)) return 0.0f;
    if (level > 50.0f) level = 50.0f;
    const double x = (double(level) + double(levelOffset)) * double(scale);
    const int32_t i = int32_t(x);
    const uint32_t j = uint32_t(i) & mask;
    const double low = values[j];
    return float(low + (double(values[j + 1]) - low) * (x - i));
}

}  // namespace dsp
