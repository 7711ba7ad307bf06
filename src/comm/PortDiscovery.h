#pragma once
// The serial ports of this machine and what a port name stands for. The
// numbered names ("COM1") are the same everywhere; the devices behind them
// and the devices found are the platform's (posix/PortDiscovery.cpp,
// win32/PortDiscovery.cpp).
#include <string>
#include <string_view>
#include <vector>

namespace ristova::comm {

// n for "COMn" in any letter case (n from 1, no leading zero, at most five
// digits); 0 for every other name.
int ComPortNumber(std::string_view name);

// The device that a port name opens: the numbered port's device, any other
// name as it is.
std::string PortDevice(const std::string& port);

// The device of the n-th numbered port ("/dev/ttyS<n-1>", on Windows
// \\.\COMn).
std::string NumberedPortDevice(int n);
// The serial devices present on this machine, in the order a port list
// shows them (/dev/serial/by-id/* first, then /dev/ttyUSB*, /dev/ttyACM*;
// on Windows the port names the system lists, "COM3", by number).
std::vector<std::string> PresentSerialDevices();
// What a port list shows behind a port's name: the device of a numbered
// port, or the target of a link (POSIX); empty when the name says it all
// (a device that is no link, every port on Windows).
std::string DeviceBehind(const std::string& port);
// A typed name that is no numbered port, as the device it names: a bare
// device name in the device folder ("ttyUSB0" is /dev/ttyUSB0; on Windows
// "CNCA0" is \\.\CNCA0), a path as it is.
std::string TypedDevice(const std::string& typed);

}  // namespace ristova::comm
