// dsptool's command and effect registries. Each command and each effect of the effect list
// registers itself from its own file through a static Registration object.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dsp.h"

namespace dsptool {

// The stream format reaching one position of an effect list.
struct StreamFormat {
    uint32_t rate = 44100;
    uint32_t channels = 2;
    uint32_t blockFrames = 4096;  // largest block sent into the chain
    bool lengthKnown = false;     // totalFrames holds the length (which may be 0 frames)
    uint64_t totalFrames = 0;     // length of the whole input at this point, when lengthKnown
};

// One effect of a parsed effect list.
class ToolEffect {
public:
    virtual ~ToolEffect() = default;
    // Creates the library effect for the format that reaches it; nullptr with `error` set on
    // failure. The chain reconfigures it when it is added, so configure for `in` exactly.
    virtual dsp_effect* create(const StreamFormat& in, std::string& error) = 0;
    // The format behind this effect (rate and length change for rate converters/stretchers).
    virtual StreamFormat output(const StreamFormat& in) const { return in; }
    // Upper bound on output frames for `inFrames` input frames at any parameter reachable while
    // streaming (for buffer sizing).
    virtual uint64_t maxOutputFrames(uint64_t inFrames) const { return inFrames; }
    // Every block reaching this effect should be a multiple of this many frames (a converter
    // whose blocks each give a whole number of output frames); 1 when any size will do.
    virtual uint64_t blockQuantum(const StreamFormat& /*in*/) const { return 1; }
    // Non-zero for `channels N` first in the list: the reader then mixes the input to N channels.
    virtual uint32_t mixesInputTo() const { return 0; }
};

struct EffectInfo {
    std::string name;      // word in the effect list
    std::string synopsis;  // e.g. "fade IN [OUT [GAIN_DB]]"
    std::string help;      // parameters with units and defaults, one per line
    std::string demoArgs;  // arguments for `dsptool demo`, empty to leave it out of the demo
    // Parses the effect's arguments; nullptr with `error` set on bad input.
    std::function<std::unique_ptr<ToolEffect>(const std::vector<std::string>& args, std::string& error)> parse;
};

struct CommandInfo {
    std::string name;
    std::string synopsis;
    std::string help;
    std::function<int(const std::vector<std::string>& args)> run;  // args after the command word
};

const std::vector<EffectInfo>& effects();
const EffectInfo* findEffect(const std::string& name);
const std::vector<CommandInfo>& commands();
const CommandInfo* findCommand(const std::string& name);

struct Registration {
    explicit Registration(EffectInfo info);
    explicit Registration(CommandInfo info);
};

// Global output switches shared by the commands.
struct Options {
    bool quiet = false;    // -q: no progress or chatter on stderr
    bool verbose = false;  // -v: timings and details on stderr
};
Options& options();

// Prints "dsptool: message" on stderr and returns the exit status 1.
int failWith(const std::string& message);

}  // namespace dsptool
