// The Run key on POSIX: XDG autostart entries, one desktop entry file per
// value.
#include "base/Registry.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/TextUtils.h"

namespace ristova {

namespace {

constexpr std::string_view kGroup = "[Desktop Entry]";
constexpr std::string_view kExecKey = "Exec=";
// Characters that make the desktop entry format quote an argument.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? std::string(v) : std::string();
}

std::string HomeFolder() {
    std::string home = Env("HOME");
    if (!home.empty()) return home;
    if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return "/";
}

// The entry file of a value.
std::string EntryFile(RegistryRoot root, std::string_view name) {
    return AutostartFolder(root) + std::string(name) + ".desktop";
}

// The string escapes of a desktop entry value.
std::string EscapeValue(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string UnescapeValue(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '\\' && i + 1 < value.size()) {
            char n = value[++i];
            out += n == 's' ? ' ' : n == 'n' ? '\n' : n == 't' ? '\t' : n == 'r' ? '\r' : n;
        } else {
            out += c;
        }
    }
    return out;
}

// The command of an entry, empty when it is missing or switched off (Hidden=true).
std::string ReadEntryCommand(const std::string& file) {
    std::string bytes;
    if (!ReadFileBytes(file, bytes)) return std::string();
    std::vector<std::string> lines;
    SplitText(bytes, "\n", lines);
    bool inGroup = false;
    std::string exec;
    for (std::string line : lines) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inGroup = line == kGroup;
            continue;
        }
        if (!inGroup) continue;
        if (line.rfind(kExecKey, 0) == 0 && exec.empty()) exec = UnescapeValue(line.substr(5));
        if (line == "Hidden=true") return std::string();
    }
    return exec;
}

}  // namespace

std::string ExecArgument(std::string_view arg) {
    std::string quoted;
    const bool plain = !arg.empty() && arg.find_first_of(kReserved) == std::string_view::npos;
    if (!plain) quoted += '"';
    for (char c : arg) {
        if (!plain && (c == '"' || c == '`' || c == '$' || c == '\\')) quoted += '\\';
        quoted += c;
        if (c == '%') quoted += '%';
    }
    if (!plain) quoted += '"';
    return quoted;
}

std::string AutostartFolder(RegistryRoot root) {
    std::string base;
    if (root == RegistryRoot::LocalMachine) {
        std::vector<std::string> dirs;
        SplitText(Env("XDG_CONFIG_DIRS"), ":", dirs);
        for (const std::string& d : dirs) {
            if (!d.empty() && d.front() == '/') {
                base = d;
                break;
            }
        }
        if (base.empty()) base = "/etc/xdg";
    } else {
        base = Env("XDG_CONFIG_HOME");
        // Relative paths are invalid there and ignored, as the XDG rules say.
        if (base.empty() || base.front() != '/')
            base = IncludeTrailingSeparator(HomeFolder()) + ".config";
    }
    return IncludeTrailingSeparator(base) + "autostart/";
}

bool WriteRunValue(RegistryRoot root, std::string_view name, std::string_view value) {
    const std::string file = EntryFile(root, name);
    const std::string entry = std::string(kGroup) +
                              "\nType=Application\nName=" + std::string(name) +
                              "\nExec=" + EscapeValue(value) + "\n";
    try {
        ForceDirectories(ExtractFilePath(file));
        WriteFileAtomically(file, entry);
        return true;
    } catch (const OperatorError&) {
        return false;
    }
}

void DeleteRunValue(RegistryRoot root, std::string_view name) {
    ::unlink(EntryFile(root, name).c_str());
}

std::string ReadRunValue(RegistryRoot root, std::string_view name) {
    return ReadEntryCommand(EntryFile(root, name));
}

}  // namespace ristova
