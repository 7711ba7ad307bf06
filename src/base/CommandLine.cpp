#include "base/CommandLine.h"

#ifndef RISTOVA_VERSION
#define RISTOVA_VERSION "unknown"
#endif

namespace ristova {

CommandLine ParseCommandLine(int argc, char** argv) {
    CommandLine cl;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            cl.help = true;
        } else if (arg == "--version") {
            cl.version = true;
        } else if (arg == "--folder") {
            if (i + 1 >= argc || std::string(argv[i + 1]).empty()) {
                cl.error = "--folder needs a folder";
                return cl;
            }
            cl.folder = argv[++i];
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
