#include "base/Process.h"

#include <unistd.h>

namespace ristova {

long ProcessId() {
    return static_cast<long>(::getpid());
}

}  // namespace ristova
