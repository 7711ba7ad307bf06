#include "base/Process.h"

#include <unistd.h>

#include <climits>

namespace ristova {

long ProcessId() {
    return static_cast<long>(::getpid());
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void UseUtf8Console() {}

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

bool UnderWine() {
    return false;
}

}  // namespace ristova
