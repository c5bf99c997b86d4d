// The device list of `kavdm ports`, read from a made-up sysfs and /dev tree,
// and the command itself.
#include "serial/SerialDeviceList.h"
#include "support/PtyPair.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace fs = std::filesystem;

namespace
{
class SerialDeviceListTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_root = testsupport::MakeTempDir();
        m_sys = m_root / "sys";
        m_dev = m_root / "dev";
        fs::create_directories(m_sys / "class" / "tty");
        fs::create_directories(m_sys / "bus" / "usb-serial" / "drivers" / "ftdi_sio");
        fs::create_directories(m_sys / "bus" / "usb" / "drivers" / "cdc_acm");
        fs::create_directories(m_sys / "bus" / "pnp" / "drivers" / "serial");
        fs::create_directories(m_sys / "bus" / "serial-base" / "drivers" / "port");
        fs::create_directories(m_dev / "serial" / "by-id");
        fs::create_directories(m_dev / "serial" / "by-path");
    }
    void TearDown() override { fs::remove_all(m_root); }

    void Write(const fs::path& file, const std::string& text)
    {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    }
    // A tty class entry whose device link points at `device` (absolute here).
    void AddTty(const std::string& name, const fs::path& device)
    {
        fs::create_directories(device);
        fs::create_directories(m_sys / "class" / "tty" / name);
        fs::create_directory_symlink(device, m_sys / "class" / "tty" / name / "device");
        Write(m_dev / name, "");
    }
    void SetDriver(const fs::path& device, const fs::path& driver)
    {
        fs::create_directory_symlink(driver, device / "driver");
    }

    fs::path m_root, m_sys, m_dev;
};

TEST_F(SerialDeviceListTest, DescribesUsbAdaptersAndRealOnBoardPorts)
{
    // An FTDI adapter: usb device (ids, strings) > interface > ttyUSB0 port.
    const fs::path usb = m_sys / "devices" / "pci0000:00" / "usb1" / "1-2";
    Write(usb / "idVendor", "0403");
    Write(usb / "idProduct", "6001");
    Write(usb / "manufacturer", "FTDI");
    Write(usb / "product", "FT232R USB UART");
    Write(usb / "serial", "A600XYZ");
    const fs::path ftdiPort = usb / "1-2:1.0" / "ttyUSB0";
    AddTty("ttyUSB0", ftdiPort);
    SetDriver(ftdiPort, m_sys / "bus" / "usb-serial" / "drivers" / "ftdi_sio");
    fs::create_symlink(m_dev / "ttyUSB0", m_dev / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A600XYZ-if00-port0");
    const fs::path socket = m_dev / "serial" / "by-path" / "pci-0000:00:14.0-usb-0:2:1.0-port0";
    fs::create_symlink(m_dev / "ttyUSB0", socket);

    // A CDC-ACM device without a serial number.
    const fs::path acmUsb = m_sys / "devices" / "pci0000:00" / "usb1" / "1-3";
    Write(acmUsb / "idVendor", "2341");
    Write(acmUsb / "idProduct", "0043");
    const fs::path acmInterface = acmUsb / "1-3:1.0";
    AddTty("ttyACM0", acmInterface / "tty" / "ttyACM0");
    SetDriver(acmInterface, m_sys / "bus" / "usb" / "drivers" / "cdc_acm");

    // ttyS0 has a UART (type 4) behind the serial core's port device; ttyS1 none.
    const fs::path pnp = m_sys / "devices" / "pnp0" / "00:00";
    const fs::path s0 = pnp / "00:00:0" / "00:00:0.0";
    AddTty("ttyS0", s0);
    SetDriver(s0, m_sys / "bus" / "serial-base" / "drivers" / "port");
    SetDriver(pnp, m_sys / "bus" / "pnp" / "drivers" / "serial");
    Write(m_sys / "class" / "tty" / "ttyS0" / "type", "4");
    AddTty("ttyS1", m_sys / "devices" / "platform" / "serial8250" / "tty" / "ttyS1");
    Write(m_sys / "class" / "tty" / "ttyS1" / "type", "0");

    // Virtual terminals have no device; names outside the three kinds are not listed.
    fs::create_directories(m_sys / "class" / "tty" / "tty1");
    AddTty("ttyprintk", m_sys / "devices" / "virtual" / "ttyprintk");

    const auto devices = ListSerialDevices(m_sys.string(), m_dev.string());
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].name, "ttyACM0");
    EXPECT_EQ(devices[0].driver, "cdc_acm");
    EXPECT_EQ(devices[0].usbVendorId, "2341");
    EXPECT_EQ(devices[0].serialNumber, "");

    EXPECT_EQ(devices[1].name, "ttyS0");
    EXPECT_EQ(devices[1].driver, "serial"); // not the serial core's "port"
    EXPECT_EQ(devices[1].usbVendorId, "");

    const auto& ftdi = devices[2];
    EXPECT_EQ(ftdi.name, "ttyUSB0");
    EXPECT_EQ(ftdi.devicePath, (m_dev / "ttyUSB0").string());
    EXPECT_EQ(ftdi.driver, "ftdi_sio");
    EXPECT_EQ(ftdi.usbVendorId, "0403");
    EXPECT_EQ(ftdi.usbProductId, "6001");
    EXPECT_EQ(ftdi.manufacturer, "FTDI");
    EXPECT_EQ(ftdi.product, "FT232R USB UART");
    EXPECT_EQ(ftdi.serialNumber, "A600XYZ");
    ASSERT_EQ(ftdi.byIdPaths.size(), 1u);
    EXPECT_EQ(fs::path(ftdi.byIdPaths[0]).filename(), "usb-FTDI_FT232R_USB_UART_A600XYZ-if00-port0");
    EXPECT_EQ(ftdi.byPathPaths, std::vector<std::string>{socket.string()});
    EXPECT_TRUE(devices[0].byPathPaths.empty());

    // Any of its names finds the device.
    for (const auto& name : {socket.string(), ftdi.byIdPaths[0], ftdi.devicePath})
        EXPECT_EQ(FindSerialDevice(devices, name), &devices[2]) << name;
    EXPECT_EQ(FindSerialDevice(devices, (m_dev / "ttyUSB9").string()), nullptr);
}

TEST_F(SerialDeviceListTest, MissingTreesGiveAnEmptyList)
{
    EXPECT_TRUE(ListSerialDevices((m_root / "nothing").string(), (m_root / "none").string()).empty());
}

std::string RunKavdm(const std::string& arguments)
{
    std::string output;
    const std::string command = std::string(KAVDM_BINARY) + " " + arguments + " 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe)
        return output;
    std::array<char, 512> buffer{};
    while (std::fgets(buffer.data(), int(buffer.size()), pipe.get()) != nullptr)
        output += buffer.data();
    return output;
}

TEST(SerialPortsCommandTest, ShowsWherePortNumbersPoint)
{
    testsupport::CPtyPair pty;
    const std::string output = RunKavdm("ports --com3 " + pty.SlavePath() + " --com7 /nonexistent/tty9");
    EXPECT_NE(output.find("Serial devices:"), std::string::npos) << output;
    EXPECT_NE(output.find("COM1"), std::string::npos) << output;
    const auto com3 = output.find("COM3 ");
    ASSERT_NE(com3, std::string::npos) << output;
    const std::string com3Line = output.substr(com3, output.find('\n', com3) - com3);
    EXPECT_NE(com3Line.find(pty.SlavePath()), std::string::npos) << com3Line;
    EXPECT_NE(com3Line.find("mapped, present"), std::string::npos) << com3Line;
    EXPECT_NE(output.find("TELNET (port 7)"), std::string::npos) << output;
    EXPECT_NE(output.find("/nonexistent/tty9"), std::string::npos) << output;
    EXPECT_NE(output.find("mapped, missing"), std::string::npos) << output;
}

TEST(SerialPortsCommandTest, EnvironmentMappingsAreShown)
{
    const std::string output = RunKavdm("ports");
    EXPECT_NE(output.find("TELNET (7 and up)"), std::string::npos) << output;
    const std::string mapped = RunKavdm("--com2 /dev/null ports");
    EXPECT_NE(mapped.find("/dev/null"), std::string::npos) << mapped;
    const std::string fromEnv = [] {
        std::string out;
        const std::string command = "KAVDM_COM4=/dev/zero " + std::string(KAVDM_BINARY) + " ports";
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
        std::array<char, 512> buffer{};
        while (pipe && std::fgets(buffer.data(), int(buffer.size()), pipe.get()) != nullptr)
            out += buffer.data();
        return out;
    }();
    EXPECT_NE(fromEnv.find("/dev/zero"), std::string::npos) << fromEnv;
}
} // namespace
