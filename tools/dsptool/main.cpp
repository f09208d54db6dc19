// dsptool: command-line host for libdsp.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "audio_io.h"
#include "registry.h"

namespace {

void printEntry(FILE* out, const std::string& synopsis, const std::string& help) {
    std::fprintf(out, "  %s\n", synopsis.c_str());
    if (!help.empty()) std::fprintf(out, "%s\n", help.c_str());
}

void printEffects(FILE* out) {
    if (dsptool::effects().empty()) return;
    std::fprintf(out, "\neffects (for process; each effect word is followed by its arguments):\n");
    for (const auto& effect : dsptool::effects()) printEntry(out, effect.synopsis, effect.help);
}

void printUsage(FILE* out) {
    std::fprintf(out, "usage: dsptool [-q|-v] COMMAND [ARGS...]\n       dsptool --version\n\ncommands:\n");
    auto commands = dsptool::commands();
    std::sort(commands.begin(), commands.end(), [](auto& a, auto& b) { return a.name < b.name; });
    for (const auto& command : commands) printEntry(out, command.synopsis, command.help);
    printEffects(out);
    std::fprintf(out, "\n  -q  quiet: no progress or chatter on stderr\n  -v  verbose: timings on stderr\n"
                      "  (-q and -v may stand anywhere; options take --name value or --name=value)\n");
}

// `dsptool COMMAND --help`: that command's synopsis and help (with the effect list for process).
void printCommandHelp(const dsptool::CommandInfo& command) {
    std::printf("usage: dsptool [-q|-v] %s\n", command.synopsis.c_str());
    if (!command.help.empty()) std::printf("%s\n", command.help.c_str());
    if (command.name == "process") printEffects(stdout);
}

bool isHelpWord(const std::string& word) { return word == "--help" || word == "-h"; }

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
    // Reports, raw data and messages are the same bytes as on Linux (no CR added).
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    // -q and -v count wherever they stand; --name=value is --name value (up to a lone "--").
    std::vector<std::string> args;
    bool split = true;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "-q" || word == "-v") {
            (word == "-q" ? dsptool::options().quiet : dsptool::options().verbose) = true;
            continue;
        }
        if (word == "--") split = false;
        const size_t eq = word.find('=');
        if (split && word.size() > 2 && word.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            args.push_back(word.substr(0, eq));
            args.push_back(word.substr(eq + 1));
        } else {
            args.push_back(word);
        }
    }
    if (!args.empty() && args.front() == "--version") {
        std::printf("dsptool %s (%s)\n", DSPTOOL_VERSION, dsptool::formatSupport().c_str());
        return 0;
    }
    if (args.empty()) {
        printUsage(stderr);
        return 2;
    }
    if (isHelpWord(args.front()) || args.front() == "help") {
        printUsage(stdout);
        return 0;
    }
    const dsptool::CommandInfo* command = dsptool::findCommand(args.front());
    if (command == nullptr) return dsptool::failWith("unknown command '" + args.front() + "' (see dsptool --help)");
    args.erase(args.begin());
    // No command takes a file or value spelt like a help option: anywhere, it asks for help.
    if (std::any_of(args.begin(), args.end(), isHelpWord)) {
        printCommandHelp(*command);
        return 0;
    }
    return command->run(args);
}
