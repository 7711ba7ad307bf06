#pragma once
// The state decoder plug-in: a shared library in "PowerDll/" with the two
// exports of include/ristova/state_plugin.h. Every text a plug-in returns is
// copied at once and decoded from code page 936; a null result is empty.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/SharedLibrary.h"
#include "ristova/state_plugin.h"

namespace ristova::controller {

inline constexpr std::string_view kPluginMask = kSharedLibraryMask;

// False for a name that could reach outside the plug-in folder or is no file
// name at all: empty, "." or "..", a path separator, a ".." part, a control
// character.
bool IsSafePluginName(std::string_view name);

// The setup page's tool-tip text: loads dllFolder + fileName, asks it for its
// description and releases it again in every case. Empty when the name is
// refused, the file is missing, fails to load or lacks the export.
std::string QueryPluginDescription(const std::string& dllFolder, const std::string& fileName);

class StatePlugin {
  public:
    StatePlugin() = default;
    ~StatePlugin();  // UnloadStatePlugin
    StatePlugin(const StatePlugin&) = delete;
    StatePlugin& operator=(const StatePlugin&) = delete;

    // Loads dllFolder + fileName. The same file loaded already stays in use
    // and nothing happens; another loaded file is released first. A refused
    // name, a missing file or a failed load leaves nothing loaded; a missing
    // export leaves only its entry empty. True when a library is loaded.
    bool LoadStatePlugin(const std::string& dllFolder, const std::string& fileName);
    // GetDeviceDescription's text; empty when unresolved.
    std::string DeviceDescription() const;
    // GetJDQState on exactly this block; empty when unresolved or null.
    std::string DecodeStates(const void* data, std::size_t count) const;
    // Forgets both entries, then releases the library when one is loaded.
    void UnloadStatePlugin();

    bool IsLoaded() const { return library_.IsOpen(); }
    bool HasDecoder() const { return getJDQState_ != nullptr; }
    // Full path of the loaded library; empty when none.
    const std::string& LoadedPath() const { return path_; }
    // Why the last LoadStatePlugin loaded nothing (the loader's own text for
    // a file that is no library); empty after a load.
    const std::string& LastError() const { return lastError_; }

  private:
    using DescriptionFn = RistovaGetDeviceDescriptionFn;
    using DecodeFn = RistovaGetJDQStateFn;

    SharedLibrary library_;
    DescriptionFn getDeviceDescription_ = nullptr;
    DecodeFn getJDQState_ = nullptr;
    std::string path_;
    std::string lastError_;
};

}  // namespace ristova::controller
