// termios2 and the line error counters. Kept apart from SerialLine.cpp:
// <asm/termbits.h> redefines what glibc's <termios.h> declares.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "comm/posix/Termios.h"

namespace ristova::serial {

SysStatus SetAnyBaud(int fd, std::uint32_t baud) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0) return SysStatus::Last();
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    if (ioctl(fd, TCSETS2, &tio) != 0) return SysStatus::Last();
    return {};
}

SysStatus ReadBaud(int fd, std::uint32_t& baud) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0) return SysStatus::Last();
    baud = tio.c_ospeed;
    return {};
}

SysStatus ReadLineErrorCounts(int fd, LineErrorCounts& counts) {
    serial_icounter_struct icount{};
    if (ioctl(fd, TIOCGICOUNT, &icount) != 0) return SysStatus::Last();
    counts.frame = static_cast<std::uint32_t>(icount.frame);
    counts.overrun = static_cast<std::uint32_t>(icount.overrun);
    counts.parity = static_cast<std::uint32_t>(icount.parity);
    counts.brk = static_cast<std::uint32_t>(icount.brk);
    counts.bufOverrun = static_cast<std::uint32_t>(icount.buf_overrun);
    return {};
}

}  // namespace ristova::serial
