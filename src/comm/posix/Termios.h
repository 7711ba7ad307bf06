#pragma once
// The termios helpers of the POSIX serial backend, shared by its files and
// its tests.
#include <cstdint>

#include "comm/SerialLine.h"

// Declared only: SerialLinux.cpp sees the kernel's struct, the rest glibc's.
struct termios;

namespace ristova::serial {

// Puts the line into tio: sizes, parity, stop bits and a standard speed are
// set, flow control is only added. False for settings no line can have.
bool ComposeLine(termios& tio, const LineSettings& line);

// Speeds through termios2 (any rate, BOTHER), in a file of its own since
// <asm/termbits.h> and glibc's <termios.h> cannot meet.
SysStatus SetAnyBaud(int fd, std::uint32_t baud);
SysStatus ReadBaud(int fd, std::uint32_t& baud);
// TIOCGICOUNT; ENOTTY/EINVAL when the driver keeps no counters.
SysStatus ReadLineErrorCounts(int fd, LineErrorCounts& counts);

}  // namespace ristova::serial
