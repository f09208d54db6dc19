// dsptool effect `channels`: mixes the input to mono or stereo as it is read.
#include <memory>

#include "arguments.h"
#include "registry.h"

namespace {

class ChannelsTool : public dsptool::ToolEffect {
public:
    explicit ChannelsTool(uint32_t count) : count_(count) {}
    // Only the reader mixes (it sees every channel): anywhere else in the list it is refused.
    dsp_effect* create(const dsptool::StreamFormat&, std::string& error) override {
        error = "channels: must come first in the effect list (the input is mixed as it is read)";
        return nullptr;
    }
    uint32_t mixesInputTo() const override { return count_; }

private:
    uint32_t count_;
};

std::unique_ptr<dsptool::ToolEffect> parseChannels(const std::vector<std::string>& args, std::string& error) {
    double count = 0;
    const dsptool::NumberField fields[] = {{"N", &count, 1, 2, "1 or 2", true}};
    if (args.empty()) error = "channels: N (1 or 2) is required";
    if (args.empty() || !dsptool::parseFields("channels", args, 0, fields, error)) return nullptr;
    return std::make_unique<ChannelsTool>(uint32_t(count));
}

const dsptool::Registration channels(dsptool::EffectInfo{
    "channels", "channels N",
    "      Mixes the input to N channels (1 or 2) as it is read; first in the list only. Mono takes\n"
    "      the mean of all channels; stereo from more takes channels 1, 3, 5... to the left and\n"
    "      2, 4, 6... to the right (each side their mean); stereo from mono copies it.",
    "", parseChannels});

}  // namespace
