// dsptool effects `lowpass` and `highpass`: the Chebyshev IIR filter effect (1 dB ripple).
#include <cmath>
#include <limits>
#include <memory>

#include "arguments.h"
#include "registry.h"

namespace {

constexpr int kMaxOrder = 32;

class FilterEffect : public dsptool::ToolEffect {
public:
    FilterEffect(int type, double cutoffHz, int order) : type_(type), cutoffHz_(cutoffHz), order_(order) {}

    dsp_effect* create(const dsptool::StreamFormat& in, std::string& error) override {
        if (cutoffHz_ >= in.rate / 2.0) {
            error = (type_ == 1 ? "highpass" : "lowpass") + std::string(": cutoff must be below half the rate (") +
                    std::to_string(in.rate / 2) + " Hz)";
            return nullptr;
        }
        dsp_effect* e = initIirFilter(in.blockFrames, in.channels, in.rate, order_, static_cast<float>(cutoffHz_), type_);
        if (e == nullptr) error = "out of memory";
        return e;
    }

private:
    int type_;
    double cutoffHz_;
    int order_;
};

std::unique_ptr<dsptool::ToolEffect> parseFilter(int type, double defaultCutoff, const std::vector<std::string>& args,
                                                 std::string& error) {
    const char* name = type == 1 ? "highpass" : "lowpass";
    double cutoff = defaultCutoff, order = 4;
    const dsptool::NumberField fields[] = {
        {"CUTOFF_HZ", &cutoff, std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::max(),
         "a positive number (k for kHz)", false, true},
        {"ORDER", &order, 1, kMaxOrder, "an integer from 1 to 32", true},
    };
    if (!dsptool::parseFields(name, args, 0, fields, error)) return nullptr;
    return std::make_unique<FilterEffect>(type, cutoff, static_cast<int>(order));
}

const dsptool::Registration lowpass(dsptool::EffectInfo{
    "lowpass", "lowpass [CUTOFF_HZ [ORDER]]",
    "      Chebyshev lowpass, 1 dB passband ripple (passband peaks at 0 dB, -1 dB at the cutoff).\n"
    "      CUTOFF_HZ  cutoff in Hz, below half the sample rate (default 3000)\n"
    "      ORDER      filter order 1..32 (default 4; each 2 orders add one second-order section)",
    "3000 4",
    [](const std::vector<std::string>& args, std::string& error) { return parseFilter(0, 3000.0, args, error); }});

const dsptool::Registration highpass(dsptool::EffectInfo{
    "highpass", "highpass [CUTOFF_HZ [ORDER]]",
    "      Chebyshev highpass, 1 dB passband ripple (passband peaks at 0 dB, -1 dB at the cutoff).\n"
    "      CUTOFF_HZ  cutoff in Hz, between 0 and half the sample rate (default 300)\n"
    "      ORDER      filter order 1..32 (default 4)",
    "300 4",
    [](const std::vector<std::string>& args, std::string& error) { return parseFilter(1, 300.0, args, error); }});

}  // namespace
