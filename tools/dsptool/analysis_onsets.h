// The onset and envelope part of `dsptool analyze`: the library's envelope follower and onset
// slicer run over the clip, their results drawn over the waveform and listed as a table.
#pragma once
#include <string>
#include <vector>

namespace dsptool {

// Slicer levels (dB relative to an envelope of 1.0, i.e. 2.5 x the mean absolute level of the
// 2-20 kHz band) and the least slice length.
struct OnsetSettings {
    float onDb = -36.0f;        // a slice may start once the envelope reaches this level
    float offDb = -48.0f;       // an open slice ends when the envelope falls below this level
    float risePercent = 10.0f;  // least rise above the last valley, in percent of envelope 1.0
    float minLengthSec = 0.05f; // slices are at least this long
};

OnsetSettings& onsetSettings();

// Parses one slicer option at args[i] (advancing i past its value); false when args[i] is not
// one, with `error` set when it is one but its value is bad.
bool parseOnsetOption(const std::vector<std::string>& args, size_t& i, std::string& error);

extern const char* const kOnsetOptionsHelp;

struct AnalysisResults;

// The slices found (the report's markers) as a text table: index, start, end, length in seconds.
std::string sliceTable(const AnalysisResults& results);

// The envelope curves as CSV: time in seconds, then one column per channel (linear level).
std::string envelopeCsv(const AnalysisResults& results);

}  // namespace dsptool
