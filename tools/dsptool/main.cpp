// dsptool: command-line host for libdsp.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "registry.h"

namespace {

void printUsage(FILE* out) {
    std::fprintf(out, "usage: dsptool [-q] COMMAND [ARGS...]\n\ncommands:\n");
    auto commands = dsptool::commands();
    std::sort(commands.begin(), commands.end(), [](auto& a, auto& b) { return a.name < b.name; });
    for (const auto& command : commands) {
        std::fprintf(out, "  %s\n", command.synopsis.c_str());
        if (!command.help.empty()) std::fprintf(out, "%s\n", command.help.c_str());
    }
    if (!dsptool::effects().empty()) {
        std::fprintf(out, "\neffects (for process; each effect word is followed by its arguments):\n");
        for (const auto& effect : dsptool::effects()) {
            std::fprintf(out, "  %s\n", effect.synopsis.c_str());
            if (!effect.help.empty()) std::fprintf(out, "%s\n", effect.help.c_str());
        }
    }
    std::fprintf(out, "\n  -q  quiet: no progress or chatter on stderr\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    while (!args.empty() && args.front() == "-q") {
        dsptool::options().quiet = true;
        args.erase(args.begin());
    }
    if (args.empty()) {
        printUsage(stderr);
        return 2;
    }
    if (args.front() == "--help" || args.front() == "-h" || args.front() == "help") {
        printUsage(stdout);
        return 0;
    }
    const dsptool::CommandInfo* command = dsptool::findCommand(args.front());
    if (command == nullptr) return dsptool::failWith("unknown command '" + args.front() + "' (see dsptool --help)");
    args.erase(args.begin());
    return command->run(args);
}
