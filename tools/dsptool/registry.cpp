#include "registry.h"

#include <cstdio>

namespace dsptool {
namespace {
std::vector<EffectInfo>& effectList() {
    static std::vector<EffectInfo> list;
    return list;
}
std::vector<CommandInfo>& commandList() {
    static std::vector<CommandInfo> list;
    return list;
}
}  // namespace

const std::vector<EffectInfo>& effects() { return effectList(); }
const std::vector<CommandInfo>& commands() { return commandList(); }

const EffectInfo* findEffect(const std::string& name) {
    for (const auto& effect : effectList())
        if (effect.name == name) return &effect;
    return nullptr;
}

const CommandInfo* findCommand(const std::string& name) {
    for (const auto& command : commandList())
        if (command.name == name) return &command;
    return nullptr;
}

Registration::Registration(EffectInfo info) { effectList().push_back(std::move(info)); }
Registration::Registration(CommandInfo info) { commandList().push_back(std::move(info)); }

Options& options() {
    static Options opts;
    return opts;
}

int failWith(const std::string& message) {
    std::fprintf(stderr, "dsptool: %s\n", message.c_str());
    return 1;
}

}  // namespace dsptool
