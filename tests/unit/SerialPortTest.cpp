// Opening, line settings and failures of the port object.
#include "serial/PortNames.h"
#include "serial/PosixPortLayer.h"
#include "serial/SerialErrorHints.h"
#include "serial/SerialPort.h"
#include "support/PtyPair.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <filesystem>
#include <fstream>
#include <termios.h>
#include <unistd.h>

using testsupport::CPtyPair;

namespace
{
class SerialPortTest : public ::testing::Test
{
protected:
    void SetUp() override { ClearPortDevices(); }
    void TearDown() override { ClearPortDevices(); }

    termios LineOf(const CPtyPair& pty)
    {
        termios tio{};
        EXPECT_EQ(::tcgetattr(pty.SlaveFd(), &tio), 0);
        return tio;
    }
};

TEST_F(SerialPortTest, DefaultsAreCom2At9600With8N2)
{
    CPtyPair pty;
    SetPortDevice(2, pty.SlavePath());
    CForwardingSerialPort port(nullptr);
    EXPECT_EQ(port.PortNumber(), 2);
    EXPECT_EQ(port.BaudRate(), 9600u);
    ASSERT_EQ(port.Open(), 1) << port.LastErrorText();
    const termios tio = LineOf(pty);
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(tio.c_cflag & PARENB, 0u);
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u); // two stop bits
    EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
    EXPECT_NE(tio.c_cflag & CREAD, 0u);
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(::cfgetospeed(&tio), speed_t(B9600));
}

TEST_F(SerialPortTest, ReopenPathGives8N1AtTheChosenRate)
{
    CPtyPair pty;
    SetPortDevice(1, pty.SlavePath());
    CForwardingSerialPort port(nullptr);
    ASSERT_EQ(port.SetParamsAndOpen(1, 115200, 8, 0, 0), 1) << port.LastErrorText();
    EXPECT_EQ(port.Configure(), 1); // the callers apply it once more
    const termios tio = LineOf(pty);
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(::cfgetispeed(&tio), speed_t(B115200));
    EXPECT_EQ(::cfgetospeed(&tio), speed_t(B115200));
}

TEST_F(SerialPortTest, EveryRateOfTheSettingsIsAccepted)
{
    for (std::uint32_t rate : {9600u, 19200u, 38400u, 57600u, 115200u})
    {
        CPtyPair pty;
        SetPortDevice(3, pty.SlavePath());
        CSerialPort port;
        EXPECT_EQ(port.SetParamsAndOpen(3, rate, 8, 0, 0), 1) << rate << ": " << port.LastErrorText();
    }
}

TEST(SerialLineSettingsTest, SizeParityAndStopCodesMapToTermios)
{
    // Pseudo-terminals force 8 bits without parity, so the mapping is checked
    // on the record the layer would apply.
    struct Case
    {
        std::uint8_t byteSize, parity, stopBits;
        tcflag_t size, parityFlags;
        bool twoStops;
    };
    const Case cases[] = {
        {8, 0, 0, CS8, 0, false},
        {8, 0, 2, CS8, 0, true},
        {7, 1, 0, CS7, PARENB | PARODD, false},
        {8, 2, 0, CS8, PARENB, false},
        {8, 3, 0, CS8, PARENB | PARODD | CMSPAR, false},
        {5, 4, 1, CS5, PARENB | CMSPAR, true},
        {6, 0, 0, CS6, 0, false},
    };
    for (const auto& c : cases)
    {
        termios tio{};
        tio.c_cflag = CRTSCTS | HUPCL;
        tio.c_iflag = IXON | IXOFF | ICRNL;
        posixport::LineSettings settings;
        settings.baudRate = 38400;
        settings.byteSize = c.byteSize;
        settings.parity = c.parity;
        settings.stopBits = c.stopBits;
        ASSERT_EQ(posixport::FillLineSettings(tio, settings), 0);
        SCOPED_TRACE(int(c.byteSize) * 100 + c.parity * 10 + c.stopBits);
        EXPECT_EQ(tio.c_cflag & CSIZE, c.size);
        EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CMSPAR), c.parityFlags);
        EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.twoStops);
        EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
        EXPECT_EQ(tio.c_cc[VMIN], 1);
        EXPECT_EQ(tio.c_cc[VTIME], 0);
        EXPECT_EQ(::cfgetospeed(&tio), speed_t(B38400));
    }
}

TEST_F(SerialPortTest, UnsupportedSettingsFailAndReleaseTheDevice)
{
    CPtyPair pty;
    SetPortDevice(3, pty.SlavePath());
    {
        CSerialPort port;
        EXPECT_EQ(port.SetParamsAndOpen(3, 12345, 8, 0, 0), 0);
        EXPECT_EQ(port.LastError(), EINVAL);
        EXPECT_FALSE(port.IsOpen());
        EXPECT_NE(port.LastErrorHint().find("line settings"), std::string::npos);
    }
    {
        CSerialPort port;
        EXPECT_EQ(port.SetParamsAndOpen(3, 9600, 9, 0, 0), 0);
        EXPECT_EQ(port.SetParamsAndOpen(3, 9600, 8, 3, 0), 0);
        EXPECT_EQ(port.SetParamsAndOpen(3, 9600, 8, 0, 5), 0);
    }
    CSerialPort good;
    EXPECT_EQ(good.SetParamsAndOpen(3, 9600, 8, 0, 0), 1) << good.LastErrorText();
}

TEST_F(SerialPortTest, ConfigureTwiceEqualsOnce)
{
    CPtyPair pty;
    SetPortDevice(3, pty.SlavePath());
    CSerialPort port;
    ASSERT_EQ(port.SetParamsAndOpen(3, 57600, 8, 0, 0), 1);
    const termios once = LineOf(pty);
    ASSERT_EQ(port.Configure(), 1);
    const termios twice = LineOf(pty);
    EXPECT_EQ(once.c_cflag, twice.c_cflag);
    EXPECT_EQ(once.c_iflag, twice.c_iflag);
    EXPECT_EQ(once.c_lflag, twice.c_lflag);
    EXPECT_EQ(::cfgetospeed(&twice), speed_t(B57600));
}

TEST_F(SerialPortTest, SecondOpenOfTheSameDeviceIsBusy)
{
    CPtyPair pty;
    SetPortDevice(3, pty.SlavePath());
    SetPortDevice(8, pty.SlavePath());
    CSerialPort first;
    ASSERT_EQ(first.SetParamsAndOpen(3, 9600, 8, 0, 0), 1);
    CSerialPort second;
    EXPECT_EQ(second.SetParamsAndOpen(8, 9600, 8, 0, 0), 0);
    EXPECT_EQ(second.LastError(), EBUSY);
    EXPECT_EQ(second.LastErrorText(), "TELNET (" + pty.SlavePath() + "): " + std::strerror(EBUSY));
    EXPECT_EQ(second.LastErrorHint(), "busy: another program holds the port");
    // The same object cannot be opened twice either.
    EXPECT_EQ(first.Open(), 0);
    EXPECT_TRUE(first.IsOpen());
    first.ShutDown();
    EXPECT_EQ(second.Open(), 1) << second.LastErrorText();
}

TEST_F(SerialPortTest, UnmappedAndInvalidPortNumbersFailCleanly)
{
    CSerialPort telnet;
    EXPECT_EQ(telnet.SetParamsAndOpen(7, 9600, 8, 0, 0), 0);
    EXPECT_EQ(telnet.LastError(), ENOENT);
    EXPECT_EQ(telnet.DevicePath(), "");
    EXPECT_EQ(telnet.LastErrorText(), "TELNET: no device mapped to port 7");
    EXPECT_NE(telnet.LastErrorHint().find("--com7"), std::string::npos);

    CSerialPort zero;
    EXPECT_EQ(zero.SetParamsAndOpen(0, 9600, 8, 0, 0), 0);
    EXPECT_EQ(zero.LastErrorText(), "COM0: no such port");
    EXPECT_EQ(zero.WriteByte(0x41), 0);
}

TEST_F(SerialPortTest, MissingDeviceAndNonTerminalsAreExplained)
{
    SetPortDevice(3, "/nonexistent/ttyUSB9");
    CSerialPort missing;
    EXPECT_EQ(missing.SetParamsAndOpen(3, 9600, 8, 0, 0), 0);
    EXPECT_EQ(missing.LastError(), ENOENT);
    EXPECT_EQ(missing.LastErrorText(), std::string("COM3 (/nonexistent/ttyUSB9): ") + std::strerror(ENOENT));
    EXPECT_NE(missing.LastErrorHint().find("does not exist"), std::string::npos);

    SetPortDevice(3, "/dev/null");
    CSerialPort notATty;
    EXPECT_EQ(notATty.SetParamsAndOpen(3, 9600, 8, 0, 0), 0);
    EXPECT_EQ(notATty.LastError(), ENOTTY);
    EXPECT_EQ(notATty.LastErrorHint(), "the device is not a serial port");
}

TEST_F(SerialPortTest, PermissionDeniedPointsToTheDialoutGroup)
{
    EXPECT_EQ(SerialErrorHint(EACCES, {}),
              "permission denied: add your user to the dialout group "
              "(sudo usermod -aG dialout $USER, then log in again)");
    CPtyPair pty;
    ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0600), 0);
    SetPortDevice(3, pty.SlavePath());
    // Root opens any device, so the attempt is made by a child that gave up root.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        if (::geteuid() == 0)
            ::_exit(3);
        CSerialPort port;
        const bool refused = port.SetParamsAndOpen(3, 9600, 8, 0, 0) == 0 && port.LastError() == EACCES &&
                             port.LastErrorHint().find("dialout") != std::string::npos;
        ::_exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2 || WEXITSTATUS(status) == 3)
        GTEST_SKIP() << "cannot drop root here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the open was not refused with EACCES";
}

TEST_F(SerialPortTest, ServicesThatGrabAdaptersAreNamedForMissingDevices)
{
    const std::filesystem::path proc = testsupport::MakeTempDir();
    auto process = [&](const std::string& pid, const std::string& name) {
        std::filesystem::create_directories(proc / pid);
        std::ofstream(proc / pid / "comm") << name << "\n";
    };
    process("1", "systemd");
    process("412", "ModemManager");
    process("977", "brltty");
    process("self", "brltty"); // not a process number: ignored
    process("978", "brltty");
    const auto grabbers = RunningAdapterGrabbers(proc.string());
    EXPECT_EQ(grabbers, (std::vector<std::string>{"ModemManager", "brltty"}));

    const std::string hint = SerialErrorHint(ENOENT, grabbers);
    EXPECT_NE(hint.find("ModemManager and brltty are running"), std::string::npos) << hint;
    EXPECT_NE(SerialErrorHint(EIO, {"brltty"}).find("brltty is running"), std::string::npos);
    EXPECT_EQ(SerialErrorHint(ENOENT, {}).find("running"), std::string::npos);
    EXPECT_EQ(SerialErrorHint(EBUSY, grabbers), "busy: another program holds the port");
    EXPECT_EQ(SerialErrorHint(0, grabbers), "");
    std::filesystem::remove_all(proc);
}
} // namespace
