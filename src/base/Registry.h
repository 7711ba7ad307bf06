#pragma once
// The registry calls for the Run key: what starts with the session. Only the
// Run key of a root holds values. The store is the platform's
// (posix/Registry.cpp: XDG autostart entries, a value is the file
// <Name>.desktop in the root's autostart folder, its data the Exec= line).
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

// Where the root's Run values live, as the operator can look for them. On
// POSIX the autostart folder that a root maps to (local machine: first entry
// of $XDG_CONFIG_DIRS or /etc/xdg; everything else: $XDG_CONFIG_HOME or
// ~/.config), followed by "/autostart/".
std::string AutostartFolder(RegistryRoot root);

// One argument of a Run value's command line, quoted as the platform's
// starter reads it. On POSIX as it is, or in double quotes when it holds a
// blank or another reserved character; '%' doubled.
std::string ExecArgument(std::string_view arg);

// False when the entry could not be written (no rights on that root).
bool WriteRegistryText(RegistryRoot root, std::string_view key, std::string_view name,
                       std::string_view value);
void DeleteRegistryValue(RegistryRoot root, std::string_view key, std::string_view name);
bool RegistryTextEquals(RegistryRoot root, std::string_view key, std::string_view name,
                        std::string_view expected);

// The platform's store, called by the three above with the Run key checked
// and a name that can name a value.
bool WriteRunValue(RegistryRoot root, std::string_view name, std::string_view value);
void DeleteRunValue(RegistryRoot root, std::string_view name);
// Empty when the value is missing or switched off.
std::string ReadRunValue(RegistryRoot root, std::string_view name);

}  // namespace ristova
