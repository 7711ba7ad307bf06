#pragma once
#include <cstdio>

namespace ristova {

// Whether a line written to the stream now would go out without waiting for
// its reader. A stream without a descriptor of its own (in memory) always
// would.
bool StreamTakesLineNow(std::FILE* stream);

}  // namespace ristova
