#include "serial/PortNames.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace
{
class PortNamesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* name : {"KAVDM_COM1", "KAVDM_COM2", "KAVDM_COM7", "KAVDM_COM12", "KAVDM_COMX", "KAVDM_COM0"})
            ::unsetenv(name);
        ClearPortDevices();
    }
    void TearDown() override { SetUp(); }
};

TEST_F(PortNamesTest, ComPortsMapToSerialDevicesByDefault)
{
    EXPECT_EQ(PortDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(PortDevicePath(3), "/dev/ttyS2");
    EXPECT_EQ(PortDevicePath(6), "/dev/ttyS5");
    EXPECT_EQ(PortDevicePath(7), "");
    EXPECT_EQ(PortDevicePath(200), "");
    EXPECT_EQ(PortDevicePath(0), "");
    EXPECT_EQ(PortDevicePath(-1), "");
    EXPECT_EQ(PortName(3), "COM3");
    EXPECT_EQ(PortName(0), "COM0");
    EXPECT_EQ(PortName(6), "COM6");
    EXPECT_EQ(PortName(7), "TELNET");
    EXPECT_EQ(PortName(9), "TELNET");
    EXPECT_FALSE(IsPortMapped(3));
}

TEST_F(PortNamesTest, MappingsOverrideAndCanBeRemoved)
{
    SetPortDevice(2, "/dev/ttyUSB0");
    SetPortDevice(7, "/dev/pts/4");
    SetPortDevice(0, "/dev/never");
    EXPECT_EQ(PortDevicePath(2), "/dev/ttyUSB0");
    EXPECT_EQ(PortDevicePath(7), "/dev/pts/4");
    EXPECT_EQ(PortDevicePath(0), "");
    EXPECT_TRUE(IsPortMapped(7));
    SetPortDevice(2, "");
    EXPECT_EQ(PortDevicePath(2), "/dev/ttyS1");
    ClearPortDevices();
    EXPECT_EQ(PortDevicePath(7), "");
}

TEST_F(PortNamesTest, EnvironmentIsReadOnceAndYieldsToExplicitMappings)
{
    ::setenv("KAVDM_COM1", "/dev/ttyACM0", 1);
    ::setenv("KAVDM_COM12", "/dev/serial/by-id/usb-x", 1);
    ::setenv("KAVDM_COM0", "/dev/zero-port", 1);
    ::setenv("KAVDM_COMX", "/dev/bad", 1);
    ::setenv("KAVDM_COM2", "/dev/from-env", 1);
    SetPortDevice(2, "/dev/explicit"); // reads the environment first, then overrides it
    EXPECT_EQ(PortDevicePath(1), "/dev/ttyACM0");
    EXPECT_EQ(PortDevicePath(12), "/dev/serial/by-id/usb-x");
    EXPECT_EQ(PortDevicePath(0), "");
    EXPECT_EQ(PortDevicePath(2), "/dev/explicit");
    // Read once: later changes of the environment do not count...
    ::setenv("KAVDM_COM1", "/dev/changed", 1);
    EXPECT_EQ(PortDevicePath(1), "/dev/ttyACM0");
    // ...until the mappings are forgotten.
    ClearPortDevices();
    EXPECT_EQ(PortDevicePath(1), "/dev/changed");
}
} // namespace
