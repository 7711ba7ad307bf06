// Serial ports on Windows: "\\.\COMn" for every numbered port, the ports the
// system lists under HARDWARE\DEVICEMAP\SERIALCOMM, and a typed name in the
// device namespace.
#include "comm/PortDiscovery.h"

#include <windows.h>

#include <algorithm>

#include "base/win32/Wide.h"

namespace ristova::comm {

std::string NumberedPortDevice(int n) {
    // The device namespace prefix also reaches COM10 and above.
    return "\\\\.\\COM" + std::to_string(n);
}

std::vector<std::string> PresentSerialDevices() {
    std::vector<std::string> ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                        &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameSize = sizeof name / sizeof name[0];
        wchar_t data[256];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        const LONG rc = ::RegEnumValueW(key, i, name, &nameSize, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
        std::wstring port(data, dataSize / sizeof(wchar_t));
        while (!port.empty() && port.back() == L'\0') port.pop_back();
        if (!port.empty()) ports.push_back(win32::Narrow(port));
    }
    ::RegCloseKey(key);
    // COM2 before COM10; other names after the numbered ones, by name.
    std::sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
        const int na = ComPortNumber(a);
        const int nb = ComPortNumber(b);
        if ((na == 0) != (nb == 0)) return na != 0;
        return na != nb ? na < nb : a < b;
    });
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

std::string DeviceBehind(const std::string&) {
    return {};
}

std::string TypedDevice(const std::string& typed) {
    if (typed.find_first_of("\\/") != std::string::npos) return typed;
    return "\\\\.\\" + typed;
}

}  // namespace ristova::comm
