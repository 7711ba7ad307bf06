#pragma once
// The registry calls, mapped to XDG autostart entries: a value under the Run
// key is the file <Name>.desktop in the root's autostart folder, its data the
// Exec= line: a command line whose arguments are quoted as the desktop entry
// format wants them (ExecArgument).
#include <string>
#include <string_view>

namespace ristova {

enum class RegistryRoot {
    ClassesRoot,
    CurrentUser,
    LocalMachine,
    Users,
    PerformanceData,
    CurrentConfig,
    DynData,
};

inline constexpr std::string_view kRunKey = "software\\microsoft\\windows\\currentversion\\run";

// The autostart folder that a root maps to (local machine: first entry of
// $XDG_CONFIG_DIRS or /etc/xdg; everything else: $XDG_CONFIG_HOME or
// ~/.config), followed by "/autostart/".
std::string AutostartFolder(RegistryRoot root);

// One argument of an Exec= command line: as it is, or in double quotes when
// it holds a blank or another reserved character; '%' doubled.
std::string ExecArgument(std::string_view arg);

// False when the entry could not be written (no rights on that root).
bool WriteRegistryText(RegistryRoot root, std::string_view key, std::string_view name,
                       std::string_view value);
void DeleteRegistryValue(RegistryRoot root, std::string_view key, std::string_view name);
bool RegistryTextEquals(RegistryRoot root, std::string_view key, std::string_view name,
                        std::string_view expected);

}  // namespace ristova
