#include <termios.h>

#include "comm/ComportFixture.h"
#include "comm/posix/Termios.h"

namespace ristova::test {
namespace {

using LineSettings = ComportFixture;

struct Case {
    std::uint32_t baud;
    TComPortDataBits dataBits;
    TComPortParity parity;
    TComPortStopBits stopBits;
    TComPortHwHandshaking hw;
    TComPortSwHandshaking sw;
    tcflag_t size;
    tcflag_t parityFlags;  // of PARENB | PARODD | CMSPAR
    bool cstopb;
};

TEST_F(LineSettings, FarSideReadsBackWhatWasAskedFor) {
    const Case cases[] = {
        {9600, db8BITS, ptNONE, sb1BITS, hhNONE, shNONE, CS8, 0, false},
        {19200, db7BITS, ptEVEN, sb2BITS, hhNONE, shNONE, CS7, PARENB, true},
        {115200, db6BITS, ptODD, sb1BITS, hhRTSCTS, shNONE, CS6, PARENB | PARODD, false},
        {2400, db8BITS, ptMARK, sb1BITS, hhNONE, shXONXOFF, CS8, PARENB | PARODD | CMSPAR, false},
        {4800, db8BITS, ptSPACE, sb2BITS, hhRTSCTS, shXONXOFF, CS8, PARENB | CMSPAR, true},
        {1200, db5BITS, ptNONE, sb1HALFBITS, hhNONE, shNONE, CS5, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        PtyPair line;
        port.SetCommPort(line.SlavePath());
        port.SetComPortBaudRate(c.baud);
        port.SetComPortDataBits(c.dataBits);
        port.SetComPortParity(c.parity);
        port.SetComPortStopBits(c.stopBits);
        port.SetComPortHwHandshaking(c.hw);
        port.SetComPortSwHandshaking(c.sw);
        ASSERT_TRUE(port.OpenPort());
        termios tio = line.SlaveSettings();
        std::uint32_t baud = 0;
        ASSERT_TRUE(serial::ReadBaud(line.Slave(), baud).Ok());
        EXPECT_EQ(baud, c.baud);
        // Pseudo-terminals force CS8 and clear PARENB whatever is asked
        // (Linux 6); what they keep is read back, the rest is checked on the
        // settings as composed for tcsetattr.
        EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), c.parityFlags & (PARODD | CMSPAR));
        termios composed{};
        serial::LineSettings asked{c.baud,
                                   static_cast<int>(c.dataBits) + 5,
                                   static_cast<int>(c.parity),
                                   static_cast<int>(c.stopBits),
                                   c.hw == hhRTSCTS,
                                   c.sw == shXONXOFF};
        ASSERT_TRUE(serial::ComposeLine(composed, asked));
        EXPECT_EQ(composed.c_cflag & CSIZE, c.size);
        EXPECT_EQ(composed.c_cflag & (PARENB | PARODD | CMSPAR), c.parityFlags);
        EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.cstopb);
        EXPECT_EQ((tio.c_cflag & CRTSCTS) != 0, c.hw == hhRTSCTS);
        EXPECT_EQ((tio.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF), c.sw == shXONXOFF);
        // Raw: nothing translated, echoed or interpreted.
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(tio.c_oflag & OPOST, 0u);
        EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | ISTRIP), 0u);
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
        port.ClosePort();
        port.SetComPortHwHandshaking(hhNONE);
        port.SetComPortSwHandshaking(shNONE);
    }
}

TEST_F(LineSettings, AnyBaudRateThroughTermios2) {
    port.SetComPortBaudRate(250000);
    ASSERT_TRUE(port.OpenPort());
    std::uint32_t baud = 0;
    ASSERT_TRUE(serial::ReadBaud(pty.Slave(), baud).Ok());
    EXPECT_EQ(baud, 250000u);
}

TEST_F(LineSettings, SettingsTheLineCannotTakeFailTheOpenWithTheirReason) {
    port.SetComPortBaudRate(0);
    EXPECT_FALSE(port.OpenPort());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.LastOpenFailure(), PortOpenFailure::Settings);
    EXPECT_EQ(port.OpenFailureReason(), "波特率无效:0");

    // Settings the owner found unusable fail every open until cleared.
    port.SetComPortBaudRate(9600);
    port.SetSettingsProblem("超时无效:70000");
    EXPECT_FALSE(port.OpenPort());
    EXPECT_EQ(port.OpenFailureReason(), "超时无效:70000");
    port.SetSettingsProblem("");
    EXPECT_TRUE(port.OpenPort());
    EXPECT_EQ(port.LastOpenFailure(), PortOpenFailure::None);
}

TEST_F(LineSettings, SettersReapplyWhileOpenAndOnlyAdd) {
    // Stop bits, not parity: glibc reports a pseudo-terminal's refusal of
    // PARENB as a failed tcsetattr, which would hide the " SetCommState OK".
    EnableLog();
    ASSERT_TRUE(port.OpenPort());
    EXPECT_EQ(Count(Log(), " SetCommState OK"), 1u);

    // Stored only: nothing changes until a re-applying setter runs.
    port.SetComPortBaudRate(19200);
    port.SetReadTimeout(50);
    termios tio = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    port.SetComPortStopBits(sb2BITS);
    tio = pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&tio), B19200);
    EXPECT_TRUE(tio.c_cflag & CSTOPB);

    // Every assignment re-applies, changed or not.
    port.SetComPortStopBits(sb2BITS);
    port.SetComPortDataBits(db8BITS);
    EXPECT_EQ(Count(Log(), " SetCommState OK"), 4u);
    EXPECT_EQ(Count(Log(), " SetCommTimeouts OK"), 4u);

    // Flow control once applied stays on.
    port.SetComPortHwHandshaking(hhRTSCTS);
    port.SetComPortSwHandshaking(shXONXOFF);
    port.SetComPortHwHandshaking(hhNONE);
    port.SetComPortSwHandshaking(shNONE);
    tio = pty.SlaveSettings();
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));

    // A baud rate the line cannot have leaves the settings as they were.
    port.SetComPortBaudRate(0);
    port.SetComPortStopBits(sb1BITS);
    EXPECT_EQ(Count(Log(), " SetCommState OK"), 8u);
    EXPECT_TRUE(pty.SlaveSettings().c_cflag & CSTOPB);
    // Closed, nothing is applied anywhere.
    port.ClosePort();
    termios closed = pty.SlaveSettings();
    port.SetComPortBaudRate(4800);
    port.SetComPortStopBits(sb2BITS);
    EXPECT_EQ(pty.SlaveSettings().c_cflag, closed.c_cflag);
}

TEST_F(LineSettings, SettingsFoundAtOpenComeBackAtClose) {
    termios before = pty.SlaveSettings();
    cfsetospeed(&before, B38400);
    cfsetispeed(&before, B38400);
    before.c_lflag |= ECHO;
    ASSERT_EQ(tcsetattr(pty.Slave(), TCSANOW, &before), 0);
    before = pty.SlaveSettings();

    port.SetComPortBaudRate(115200);
    port.SetComPortParity(ptODD);
    port.SetComPortHwHandshaking(hhRTSCTS);
    ASSERT_TRUE(port.OpenPort());
    ASSERT_NE(cfgetospeed(&static_cast<const termios&>(pty.SlaveSettings())), B38400);
    port.ClosePort();
    termios after = pty.SlaveSettings();
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
}

}  // namespace
}  // namespace ristova::test
