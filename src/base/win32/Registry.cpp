// The Run key on Windows: the registry itself, HKEY_LOCAL_MACHINE or
// HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run, one
// REG_SZ value per entry.
#include "base/Registry.h"

#include <windows.h>

#include "base/win32/Wide.h"

namespace ristova {

namespace {

constexpr const wchar_t* kRunKeyPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

HKEY RootKey(RegistryRoot root) {
    switch (root) {
        case RegistryRoot::ClassesRoot:
            return HKEY_CLASSES_ROOT;
        case RegistryRoot::LocalMachine:
            return HKEY_LOCAL_MACHINE;
        case RegistryRoot::Users:
            return HKEY_USERS;
        case RegistryRoot::CurrentConfig:
            return HKEY_CURRENT_CONFIG;
        default:
            return HKEY_CURRENT_USER;
    }
}

const char* RootName(RegistryRoot root) {
    switch (root) {
        case RegistryRoot::ClassesRoot:
            return "HKEY_CLASSES_ROOT";
        case RegistryRoot::LocalMachine:
            return "HKEY_LOCAL_MACHINE";
        case RegistryRoot::Users:
            return "HKEY_USERS";
        case RegistryRoot::CurrentConfig:
            return "HKEY_CURRENT_CONFIG";
        default:
            return "HKEY_CURRENT_USER";
    }
}

}  // namespace

std::string AutostartFolder(RegistryRoot root) {
    return std::string(RootName(root)) + "\\" + win32::Narrow(kRunKeyPath) + "\\";
}

std::string ExecArgument(std::string_view arg) {
    // A path in the Windows form, quoted as CommandLineToArgvW reads it:
    // backslashes before a quote, and at the end inside quotes, doubled.
    std::string path(arg);
    for (char& c : path)
        if (c == '/') c = '\\';
    if (!path.empty() && path.find_first_of(" \t\n\v\"") == std::string::npos) return path;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : path) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

bool WriteRunValue(RegistryRoot root, std::string_view name, std::string_view value) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(RootKey(root), kRunKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const std::wstring data = win32::Widen(value);
    const LONG rc = ::RegSetValueExW(key, win32::Widen(name).c_str(), 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(data.c_str()),
                                     static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

void DeleteRunValue(RegistryRoot root, std::string_view name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(RootKey(root), kRunKeyPath, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    ::RegDeleteValueW(key, win32::Widen(name).c_str());
    ::RegCloseKey(key);
}

std::string ReadRunValue(RegistryRoot root, std::string_view name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(RootKey(root), kRunKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return {};
    const std::wstring wideName = win32::Widen(name);
    DWORD type = 0;
    DWORD size = 0;
    std::string value;
    if (::RegQueryValueExW(key, wideName.c_str(), nullptr, &type, nullptr, &size) ==
            ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
        if (::RegQueryValueExW(key, wideName.c_str(), nullptr, nullptr,
                               reinterpret_cast<BYTE*>(data.data()), &size) == ERROR_SUCCESS) {
            data.resize(size / sizeof(wchar_t));
            while (!data.empty() && data.back() == L'\0') data.pop_back();
            value = win32::Narrow(data);
        }
    }
    ::RegCloseKey(key);
    return value;
}

}  // namespace ristova
