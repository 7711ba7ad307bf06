// The serial device on POSIX: open with flock and TIOCEXCL, glibc's termios
// for the line settings, saved at open and restored at close.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "comm/posix/Termios.h"

namespace ristova::serial {

std::string SysStatus::Text() const {
    return error == 0 ? std::string() : std::strerror(error);
}

SysStatus SysStatus::Last() {
    return SysStatus{errno == 0 ? EIO : errno};
}

bool IsDeviceGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
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

struct SerialDevice::Native {
    int fd = -1;
    // The settings found at open, put back at close.
    termios saved{};
    bool haveSaved = false;
};

SerialDevice::SerialDevice(std::unique_ptr<Native> native) : native_(std::move(native)) {}

namespace {

// O_NONBLOCK: neither the open nor any read or write may wait for the line.
int OpenLocked(const std::string& path, SysStatus& status) {
    int fd;
    do {
        fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        status = SysStatus::Last();
        return -1;
    }
    // flock holds against root and against a second open in this process,
    // where TIOCEXCL does not.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        status = SysStatus::Last();
        close(fd);
        return -1;
    }
    status = {};
    return fd;
}

SysStatus SetExclusive(int fd, bool on) {
    if (ioctl(fd, on ? TIOCEXCL : TIOCNXCL) != 0) return SysStatus::Last();
    return {};
}

// Raw mode (cfmakeraw, CLOCAL|CREAD, VMIN = VTIME = 0); it clears the cooked
// defaults of a terminal, which a serial line must never have.
SysStatus MakeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return SysStatus::Last();
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return SysStatus::Last();
    return {};
}

OpenRefusal Refused(const SysStatus& status) {
    return {OpenFailureOfErrno(status.error), status.Text(), false};
}

}  // namespace

std::unique_ptr<SerialDevice> SerialDevice::Open(const std::string& path, OpenRefusal& refusal) {
    SysStatus status;
    const int fd = OpenLocked(path, status);
    if (fd < 0) {
        refusal = Refused(status);
        return nullptr;
    }
    if (isatty(fd) != 1) {
        close(fd);
        refusal = {PortOpenFailure::NoDevice, "not a terminal", true};
        return nullptr;
    }
    status = SetExclusive(fd, true);
    if (!status.Ok()) {
        close(fd);
        refusal = Refused(status);
        return nullptr;
    }
    auto native = std::make_unique<Native>();
    native->fd = fd;
    native->haveSaved = tcgetattr(fd, &native->saved) == 0;
    MakeRaw(fd);
    // Bytes left over from an earlier user of the line are not ours.
    tcflush(fd, TCIFLUSH);
    refusal = {};
    return std::unique_ptr<SerialDevice>(new SerialDevice(std::move(native)));
}

SerialDevice::~SerialDevice() {
    const int fd = native_->fd;
    if (native_->haveSaved) tcsetattr(fd, TCSANOW, &native_->saved);
    SetExclusive(fd, false);
    close(fd);
}

NativeHandle SerialDevice::Handle() const {
    return native_->fd;
}

LineApplied SerialDevice::ApplyLine(const LineSettings& line) {
    const int fd = native_->fd;
    termios tio{};
    // When reading fails the settings are built from an empty structure.
    tcgetattr(fd, &tio);
    if (!ComposeLine(tio, line)) return {LineRefusal::Impossible, SysStatus{EINVAL}};
    LineApplied applied;
    // A failure here may only mean that the device ignored a flag; the speed
    // read back below tells whether the line is usable.
    if (tcsetattr(fd, TCSANOW, &tio) != 0) applied.status = SysStatus::Last();
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

SysStatus SerialDevice::RaiseDtr() {
    int bits = TIOCM_DTR;
    if (ioctl(native_->fd, TIOCMBIS, &bits) != 0) return SysStatus::Last();
    return {};
}

void SerialDevice::FlushInput() {
    tcflush(native_->fd, TCIFLUSH);
}

void SerialDevice::FlushOutput() {
    tcflush(native_->fd, TCOFLUSH);
}

bool SerialDevice::GoneFrom(const std::string& path) const {
    // The node that was opened, by its device number: a name that now
    // leads elsewhere or nowhere is a device gone.
    struct stat opened {};
    struct stat named {};
    if (fstat(native_->fd, &opened) != 0) return true;
    if (stat(path.c_str(), &named) != 0) return errno == ENOENT || errno == ENOTDIR;
    return named.st_rdev != opened.st_rdev;
}

SysStatus SerialDevice::ReadLineErrorCounts(LineErrorCounts& counts) const {
    return serial::ReadLineErrorCounts(native_->fd, counts);
}

}  // namespace ristova::serial
