// The onset and envelope part of `dsptool analyze`: the library's envelope follower and onset
// slicer run over the input, their results drawn over the waveform and listed as a table.
#pragma once
#include <string>
#include <vector>

namespace dsptool {

// Slicer levels and the least slice length. Levels are dB relative to the peak of the input's
// envelope in the slicer's band (found by a first pass), or with `absolute` relative to an
// envelope of 1.0 (2.5 x the mean absolute level of the 2-20 kHz band).
struct OnsetSettings {
    float onDb = -36.0f;        // a slice may start once the envelope reaches this level
    float offDb = -48.0f;       // an open slice ends when the envelope falls below this level
    float risePercent = -1.0f;  // least rise above the last valley, in percent of the reference
    float minLengthSec = 0.05f; // slices are at least this long
    bool absolute = false;
    // Relative to a file's own peak, 10 % re-triggers on the pitch ripple of loud voiced speech;
    // the absolute reference (an envelope of 1.0) sits above most peaks, where 10 % is larger.
    float rise() const { return risePercent >= 0 ? risePercent : absolute ? 10.0f : 20.0f; }
};

OnsetSettings& onsetSettings();

// Parses one slicer option at args[i] (advancing i past its value); false when args[i] is not
// one, with `error` set when it is one but its value is bad.
bool parseOnsetOption(const std::vector<std::string>& args, size_t& i, std::string& error);

extern const char* const kOnsetOptionsHelp;

struct AnalysisResults;

// The slices found (the report's markers) as a text table: index, start, end, length in seconds.
std::string sliceTable(const AnalysisResults& results);

}  // namespace dsptool
