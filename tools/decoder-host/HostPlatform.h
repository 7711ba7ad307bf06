#pragma once
// What the decoder host needs of its platform (posix/HostPlatform.cpp, win32/HostPlatform.cpp): its
// channel to the engine, its stance on stop signals, and reading a plug-in's
// text without trusting it.
#include <cstddef>
#include <string>
#include <string_view>

#include "base/NativeHandle.h"

namespace ristova::decoder_host {

// The engine's channel, given as standard input and output. Open moves it
// off them, so that a plug-in that prints cannot garble the frames: its
// output goes to standard error.
class HostChannel {
  public:
    bool Open();
    // Waits for bytes; 0 once the engine has closed the channel or gone.
    std::size_t Read(char* buffer, std::size_t size);
    bool WriteAll(std::string_view bytes);

  private:
    NativeHandle handle_ = kNoHandle;
};

// The terminal's and the service manager's stop signals are the engine's to
// act on; the host ends when its channel closes, and dies with the engine.
void IgnoreStopSignals();

// The text up to its terminator, at most limit bytes, and never past memory
// that cannot be read: a text without a terminator is cut, not a crash.
std::string CopyPluginText(const char* text, std::size_t limit);

}  // namespace ristova::decoder_host
