#pragma once
// The options both executables share: --folder DIR, --help, --version
// (and --service, for the runner).
#include <string>
#include <vector>

namespace ristova {

struct CommandLine {
    std::string folder;              // --folder DIR or --folder=DIR
    bool help = false;
    bool version = false;
    // --service: the service manager started it (ristova-run on Windows;
    // elsewhere it changes nothing).
    bool service = false;
    std::vector<std::string> other;  // arguments that are not ours, in order
    std::string error;               // not empty: a bad use of our options
};

// args[0] is the program.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
CommandLine ParseCommandLine(int argc, char** argv);

// "<program> <version>", the version of the build.
std::string VersionText(const std::string& program);

}  // namespace ristova
