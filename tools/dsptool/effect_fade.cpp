// dsptool effect `fade`: fade-in from silence, fade-out to silence at the end of the input, an
// overall gain and timed gain changes, all on fader 0 of the fader effect (levels move linearly
// in dB; the fader mutes below -50 dB).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "arguments.h"
#include "registry.h"

namespace {

using dsptool::parseNumber;

constexpr double kFloorDb = -50.0;        // the quietest audible level of the fader
constexpr double kMutedDb = -50.001;      // just under the floor: silent
constexpr double kMaxGainDb = 50.0;

struct Ramp {
    double startS, endS, db;
};

struct FadeSettings {
    double inS = 0, outS = 0, gainDb = 0;
    std::vector<Ramp> ramps;
};

class FadeTool : public dsptool::ToolEffect {
public:
    explicit FadeTool(FadeSettings s) : s_(std::move(s)) {}

    dsp_effect* create(const dsptool::StreamFormat& in, std::string& error) override {
        if (s_.outS > 0 && !in.lengthKnown) {
            error = "fade: OUT_S needs an input of known length";
            return nullptr;
        }
        const double rate = in.rate;
        // Actions must start after the first sample; 1.5 samples truncates to sample 1.
        const double firstS = 1.5 / rate;
        const float initialDb = float(s_.inS > 0 ? kMutedDb : s_.gainDb);
        dsp_effect* e = initFader(in.blockFrames, in.channels, in.rate, 1.0f, initialDb, 0.0f);
        if (e == nullptr) {
            error = "fade: out of memory";
            return nullptr;
        }
        // Later actions replace earlier ones where they overlap: fade-in, ramps, fade-out.
        if (s_.inS > 0) setFaderAction(e, 0, float(firstS), float(std::max(s_.inS, 2.5 / rate)), float(s_.gainDb));
        for (const Ramp& r : s_.ramps)
            setFaderAction(e, 0, float(std::max(r.startS, firstS)), float(r.endS), float(r.db));
        if (s_.outS > 0) {
            // The line leaves the level held when the fade-out starts and crosses -50 dB two
            // samples before the end (so the last samples are silent), scheduled on to -60 dB.
            const double total = double(in.totalFrames);
            const double start = std::max(total - s_.outS * rate, 1.5);
            const double cross = std::max(total - 2.0, start + 1.0);
            const double from = levelAt(start / rate);
            const double end = from > kFloorDb ? start + (cross - start) * (from + 60.0) / (from - kFloorDb) : cross;
            setFaderAction(e, 0, float(start / rate), float(end / rate), -60.0f);
        }
        return e;
    }

private:
    // The level the schedule holds at `seconds`, assuming no ramp is running then.
    double levelAt(double seconds) const {
        double level = s_.gainDb, latestEnd = -1.0;
        for (const Ramp& r : s_.ramps)
            if (r.endS <= seconds && r.endS >= latestEnd) {
                level = r.db;
                latestEnd = r.endS;
            }
        return level;
    }

    FadeSettings s_;
};

std::unique_ptr<dsptool::ToolEffect> parseFade(const std::vector<std::string>& args, std::string& error) {
    FadeSettings s;
    size_t i = 0;
    const auto number = [&](const char* name, double low, double high, double& out) {
        if (i >= args.size()) {
            error = std::string("fade: missing ") + name;
            return false;
        }
        if (!parseNumber(args[i], out) || out < low || out > high) {
            char range[64];
            std::snprintf(range, sizeof range, " must be a number from %g to %g", low, high);
            error = std::string("fade: ") + name + range + ", got '" + args[i] + "'";
            return false;
        }
        ++i;
        return true;
    };
    double value;
    for (double* positional : {&s.inS, &s.outS}) {
        if (i < args.size() && parseNumber(args[i], value)) {
            if (!number(positional == &s.inS ? "IN_S" : "OUT_S", 0.0, 86400.0, *positional)) return nullptr;
        }
    }
    while (i < args.size()) {
        const std::string word = args[i++];
        if (word == "gain") {
            if (!number("gain DB", kFloorDb + 0.001, kMaxGainDb, s.gainDb)) return nullptr;
        } else if (word == "ramp") {
            Ramp r{};
            if (!number("ramp START_S", 0.0, 86400.0, r.startS) || !number("ramp END_S", 0.0, 86400.0, r.endS) ||
                !number("ramp DB", -200.0, kMaxGainDb, r.db))
                return nullptr;
            if (!(r.endS > r.startS)) {
                error = "fade: ramp END_S must be after START_S";
                return nullptr;
            }
            s.ramps.push_back(r);
        } else {
            error = "fade: unexpected argument '" + word + "' (expected 'gain DB' or 'ramp START_S END_S DB')";
            return nullptr;
        }
    }
    return std::make_unique<FadeTool>(std::move(s));
}

const dsptool::Registration fade(dsptool::EffectInfo{
    "fade", "fade [IN_S [OUT_S]] [gain DB] [ramp START_S END_S DB]...",
    "      Gain in dB, moving linearly in dB; levels below -50 dB are silent.\n"
    "      IN_S     fade-in from silence over the first IN_S seconds (default 0: none)\n"
    "      OUT_S    fade-out to silence over the last OUT_S seconds of the input (default 0: none)\n"
    "      gain DB  level in dB after the fade-in and before the fade-out, -49.999..50 (default 0)\n"
    "      ramp START_S END_S DB  move to DB (absolute, dB) between START_S and END_S seconds;\n"
    "               repeatable. Where they overlap, ramps replace the fade-in and the fade-out\n"
    "               replaces the ramps.",
    "0.5 0.5 gain -3 ramp 2 2.5 -12",
    parseFade});

}  // namespace
