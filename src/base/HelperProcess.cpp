#include "base/HelperProcess.h"

namespace ristova {

HelperProcess::~HelperProcess() {
    Kill();
}

bool HelperProcess::Start(const std::vector<std::string>& argv) {
    Kill();
    error_.clear();
    endText_.clear();
    if (argv.empty()) {
        error_ = "no program";
        return false;
    }
    return Spawn(argv);
}

}  // namespace ristova
