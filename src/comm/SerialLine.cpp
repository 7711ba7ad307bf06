// glibc termios backend of SerialLine.h.
#include "comm/SerialLine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ristova::serial {

std::string SysStatus::Text() const {
    return error == 0 ? std::string() : std::strerror(error);
}

SysStatus SysStatus::FromErrno() {
    return SysStatus{errno == 0 ? EIO : errno};
}

bool IsDeviceGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

bool IsUnsupported(int error) {
    return error == ENOTTY || error == EINVAL || error == ENOSYS;
}

struct SavedLine::Data {
    termios tio{};
};

SavedLine::SavedLine() = default;
SavedLine::~SavedLine() = default;

SysStatus SavedLine::Save(int fd) {
    data_.reset();
    auto data = std::make_unique<Data>();
    if (tcgetattr(fd, &data->tio) != 0) return SysStatus::FromErrno();
    data_ = std::move(data);
    return {};
}

void SavedLine::Restore(int fd) {
    if (data_) tcsetattr(fd, TCSANOW, &data_->tio);
}

int OpenLocked(const std::string& path, SysStatus& status) {
    int fd;
    do {
        fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        status = SysStatus::FromErrno();
        return -1;
    }
    // flock holds against root and against a second open in this process,
    // where TIOCEXCL does not.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        status = SysStatus::FromErrno();
        close(fd);
        return -1;
    }
    status = {};
    return fd;
}

bool IsTerminal(int fd) {
    return isatty(fd) == 1;
}

SysStatus SetExclusive(int fd, bool on) {
    if (ioctl(fd, on ? TIOCEXCL : TIOCNXCL) != 0) return SysStatus::FromErrno();
    return {};
}

SysStatus MakeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return SysStatus::FromErrno();
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return SysStatus::FromErrno();
    return {};
}

namespace {

constexpr std::uint64_t kSpeedTolerancePercent = 5;

speed_t StandardSpeed(std::uint32_t baud) {
    switch (baud) {
        case 50:
            return B50;
        case 75:
            return B75;
        case 110:
            return B110;
        case 134:
            return B134;
        case 150:
            return B150;
        case 200:
            return B200;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 1800:
            return B1800;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 500000:
            return B500000;
        case 576000:
            return B576000;
        case 921600:
            return B921600;
        case 1000000:
            return B1000000;
        case 1152000:
            return B1152000;
        case 1500000:
            return B1500000;
        case 2000000:
            return B2000000;
        case 2500000:
            return B2500000;
        case 3000000:
            return B3000000;
        case 3500000:
            return B3500000;
        case 4000000:
            return B4000000;
        default:
            return B0;
    }
}

tcflag_t CharSize(int dataBits) {
    switch (dataBits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

}  // namespace

bool ComposeLine(termios& tio, const LineSettings& line) {
    // Baud 0 would hang the line up, and sizes or codes out of range have
    // no meaning: refuse them as the device would.
    if (line.baud == 0 || line.dataBits < 5 || line.dataBits > 8 || line.parity < 0 ||
        line.parity > 4 || line.stopBits < 0 || line.stopBits > 2) {
        return false;
    }
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag = (tio.c_cflag & ~CSIZE) | CharSize(line.dataBits);
    tio.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (line.parity) {
        case 1:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            tio.c_cflag |= PARENB;
            break;
        case 3:
            tio.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case 4:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    // One and a half stop bits is what a UART makes of CSTOPB with five data
    // bits.
    if (line.stopBits == 0) {
        tio.c_cflag &= ~CSTOPB;
    } else {
        tio.c_cflag |= CSTOPB;
    }
    if (line.rtsCts) tio.c_cflag |= CRTSCTS;
    if (line.xonXoff) tio.c_iflag |= IXON | IXOFF;
    tio.c_cc[VSTART] = 0x11;
    tio.c_cc[VSTOP] = 0x13;
    speed_t speed = StandardSpeed(line.baud);
    if (speed != B0) {
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
    }
    return true;
}

LineApplied ApplyLine(int fd, const LineSettings& line) {
    termios tio{};
    // When reading fails the settings are built from an empty structure.
    tcgetattr(fd, &tio);
    if (!ComposeLine(tio, line)) return {LineRefusal::Impossible, SysStatus{EINVAL}};
    LineApplied applied;
    // A failure here may only mean that the device ignored a flag; the speed
    // read back below tells whether the line is usable.
    if (tcsetattr(fd, TCSANOW, &tio) != 0) applied.status = SysStatus::FromErrno();
    if (StandardSpeed(line.baud) == B0) {
        const SysStatus any = SetAnyBaud(fd, line.baud);
        if (!any.Ok()) return {LineRefusal::Speed, any};
    }
    // A driver that cannot make a rate falls back to another one; further
    // off than a UART tolerates, the line would only carry garbage.
    std::uint32_t actual = 0;
    if (ReadBaud(fd, actual).Ok()) {
        const std::uint64_t off = actual > line.baud ? actual - line.baud : line.baud - actual;
        if (off * 100 > std::uint64_t{line.baud} * kSpeedTolerancePercent)
            applied.refused = LineRefusal::Speed;
    }
    return applied;
}

SysStatus RaiseDtr(int fd) {
    int bits = TIOCM_DTR;
    if (ioctl(fd, TIOCMBIS, &bits) != 0) return SysStatus::FromErrno();
    return {};
}

void FlushInput(int fd) {
    tcflush(fd, TCIFLUSH);
}

void FlushOutput(int fd) {
    tcflush(fd, TCOFLUSH);
}

}  // namespace ristova::serial
