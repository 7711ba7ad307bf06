#include "base/CommandLine.h"

#ifndef RISTOVA_VERSION
#define RISTOVA_VERSION "unknown"
#endif

namespace ristova {

CommandLine ParseCommandLine(int argc, char** argv) {
    return ParseCommandLine(std::vector<std::string>(argv, argv + argc));
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine cl;
    const std::size_t argc = args.size();
    for (std::size_t i = 1; i < argc; ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            cl.help = true;
        } else if (arg == "--version") {
            cl.version = true;
        } else if (arg == "--service") {
            cl.service = true;
        } else if (arg == "--folder") {
            if (i + 1 >= argc || args[i + 1].empty()) {
                cl.error = "--folder needs a folder";
                return cl;
            }
            cl.folder = args[++i];
        } else if (arg.rfind("--folder=", 0) == 0) {
            cl.folder = arg.substr(9);
            if (cl.folder.empty()) {
                cl.error = "--folder needs a folder";
                return cl;
            }
        } else {
            cl.other.push_back(arg);
        }
    }
    return cl;
}

std::string VersionText(const std::string& program) {
    return program + " " RISTOVA_VERSION;
}

}  // namespace ristova
