#pragma once
// A controller's serial settings as its ports take them: read from the
// controller file once and checked once, for the setup page's test port and
// the run port alike. A missing key takes its default; a value that is
// present but unusable is a problem with its reason, and a port given such
// settings does not open.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "comm/MyComm32.h"

namespace ristova::controller {

struct SettingProblem {
    std::string key;     // "edBound"
    std::string value;   // as stored
    std::string reason;  // "波特率无效:0"
    // No integer at all; the run's start refuses such an edBound or
    // edTimeOut with "'%s' is not a valid integer value".
    bool notInteger = false;
};

struct SerialSettings {
    std::string port = "COM1";
    std::uint32_t baud = 9600;
    std::uint16_t readTimeout = 20;  // ms
    TComPortDataBits dataBits = db8BITS;
    TComPortStopBits stopBits = sb1BITS;
    TComPortParity parity = ptNONE;
    // In the order of the keys above; empty when all are usable.
    std::vector<SettingProblem> problems;

    // The problems' reasons joined by ","; empty when there are none.
    std::string Reason() const;
};

// [COMM] of the controller file. The read time-out must fit the port's 16
// bits: a larger one is refused, not cut, so that no port waits another
// time than the file says.
SerialSettings ReadSerialSettings(const std::string& controllerFile);

// Gives the port its settings for the next OpenPort, handshaking off. With
// problems the port keeps its old values and the open fails with them.
void ConfigurePort(TMyComport& port, const SerialSettings& settings);

// [LOAD] spComChl when it is present and no relay count 1..32.
std::optional<SettingProblem> RelayCountProblem(const std::string& controllerFile);

}  // namespace ristova::controller
