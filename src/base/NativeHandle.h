#pragma once
// What the platform waits on and reads from: a descriptor here, a HANDLE on
// Windows. Fronts hand it out so that an event loop can watch it.
namespace ristova {

#ifdef _WIN32
using NativeHandle = void*;
inline constexpr NativeHandle kNoHandle = nullptr;
#else
using NativeHandle = int;
inline constexpr NativeHandle kNoHandle = -1;
#endif

}  // namespace ristova
