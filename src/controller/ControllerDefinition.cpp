#include "controller/ControllerDefinition.h"

#include "base/Files.h"
#include "base/StringGrid.h"
#include "base/TextUtils.h"
#include "controller/ControllerFile.h"

namespace ristova::controller {

std::string RelayDefinition::Name() const {
    const std::string use = Trim(noUse);
    return use.empty() ? "继电器 " + std::to_string(number) : use;
}

const RelayDefinition* ControllerDefinition::Relay(int number) const {
    return number >= 1 && number <= RelayCount() ? &relays[number - 1] : nullptr;
}

ControllerDefinition ReadControllerDefinition(const std::string& path) {
    ControllerDefinition d;
    d.path = path;
    d.file = ExtractFileName(path);
    d.serial = ReadSerialSettings(path);
    StringGrid table(6, 2, 0, 1);
    ReadCommandTable(path, table);
    for (int r = 1; r < table.RowCount(); ++r) {
        RelayDefinition relay;
        relay.number = r;
        relay.on = comm::Command::FromText(table.Cell(1, r));
        relay.off = comm::Command::FromText(table.Cell(2, r));
        relay.noUse = table.Cell(3, r);
        relay.ncUse = table.Cell(4, r);
        relay.startOn = table.Cell(5, r) == kStartOnMark;
        d.relays.push_back(std::move(relay));
    }
    if (d.relays.empty()) {
        const comm::Command none = comm::Command::FromText("");
        d.relays.push_back({1, none, none, {}, {}, false});
    }
    d.stateQuery = comm::Command::FromText(ReadKey(path, kLoad, kStateCmd));
    d.decoder = ReadKey(path, kLoad, kPowerDllFn);
    d.relayCountProblem = RelayCountProblem(path);
    if (FileExists(path)) d.unusable = UnusableControllerReason(path);
    return d;
}

}  // namespace ristova::controller
