#pragma once
// A controller definition file read once into what a run works with: the
// serial settings checked, each relay's commands as bytes, the uses of its
// contacts and its start-on mark, the state query and the decoder's name.
// A run reads it at plan selection and again at each start, so a saved
// change reaches the line at the next start.
#include <optional>
#include <string>
#include <vector>

#include "comm/HexCommand.h"
#include "controller/SerialSettings.h"

namespace ristova::controller {

struct RelayDefinition {
    int number = 0;  // 1-based
    comm::Command on;
    comm::Command off;
    std::string noUse;  // the normally-open contact's use ("不存在": none)
    std::string ncUse;  // the normally-closed contact's
    bool startOn = false;

    const comm::Command& CommandFor(bool switchOn) const { return switchOn ? on : off; }
    // What other views call the relay: its normally-open use, else "继电器 k".
    std::string Name() const;
};

struct ControllerDefinition {
    std::string path;  // the file
    std::string file;  // its name, "泵房.PSW"
    SerialSettings serial;
    // As the command table has them; an empty table is one relay without
    // commands, as the run page's grid always keeps one row.
    std::vector<RelayDefinition> relays;
    comm::Command stateQuery;
    std::string decoder;  // [LOAD] sPowerDllFn as stored
    // [LOAD] spComChl when it is present and no relay count.
    std::optional<SettingProblem> relayCountProblem;
    // Why the file cannot drive a run at all (no marker, no command table).
    std::string unusable;

    int RelayCount() const { return static_cast<int>(relays.size()); }
    const RelayDefinition* Relay(int number) const;
};

// A file that is missing reads as a definition with one empty relay and the
// default line settings, as every reader of a missing file sees it.
ControllerDefinition ReadControllerDefinition(const std::string& path);

}  // namespace ristova::controller
