#pragma once
// The controller file the timing benchmarks run: the simulator's relays, its
// decoder and its state query, every relay started on.
#include <cstdint>
#include <string>

#include "base/IniFile.h"
#include "base/StringGrid.h"
#include "base/TextUtils.h"

namespace ristova::bench {

inline std::string Hex(const std::string& ascii) {
    return BytesToHex(reinterpret_cast<const std::uint8_t*>(ascii.data()), ascii.size());
}

// The simulator's switching frame for one relay.
inline std::string Command(int relay, bool on) {
    return "O(00," + PadLeft(std::to_string(relay), '0', 2) + (on ? ",1)E" : ",0)E");
}

inline void WriteSimController(const std::string& controller, const std::string& port, int relays) {
    WriteIniText(controller, "LOAD", "FLAG", "Quelmar电源控制文件");
    WriteIniText(controller, "LOAD", "sPowerDllFn", "SimRelay.so");
    WriteIniText(controller, "LOAD", "edStateCmd", Hex("Q(00)E"));
    WriteIniText(controller, "COMM", "COMM1", port);
    WriteIniText(controller, "COMM", "edBound", "115200");
    StringGrid table(6, relays + 1, 0, 1);
    for (int r = 1; r <= relays; ++r) {
        table.SetCell(0, r, std::to_string(r));
        table.SetCell(1, r, Hex(Command(r, true)));
        table.SetCell(2, r, Hex(Command(r, false)));
        table.SetCell(5, r, " X");
    }
    SaveGridToIni(controller, "COMMAND", table);
}

}  // namespace ristova::bench
