#include "base/StreamReady.h"

#include <poll.h>
#include <stdio.h>

namespace ristova {

// A pipe or terminal reports room for at least one page without waiting; a
// paused terminal or a full pipe reports none.
bool StreamTakesLineNow(std::FILE* stream) {
    const int fd = fileno(stream);
    if (fd < 0) return true;
    pollfd p{fd, POLLOUT, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLOUT) != 0;
}

}  // namespace ristova
