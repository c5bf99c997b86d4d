// Where the port, the rate and the port-number mappings come from: the
// command line over the environment over the settings file, which is read as
// QSettings writes it.
#include "cli/PortChoice.h"
#include "serial/PortNames.h"
#include "serial/SettingsFile.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/wait.h>

namespace
{
class PortDefaultsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_strDir = testsupport::MakeTempDir();
        std::filesystem::create_directories(m_strDir + "/kavdm");
        setenv("XDG_CONFIG_HOME", m_strDir.c_str(), 1);
        unsetenv("KAVDM_PORT");
        unsetenv("KAVDM_COM3");
        unsetenv("KAVDM_COM4");
        ClearPortDevices();
    }
    void TearDown() override
    {
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("KAVDM_PORT");
        unsetenv("KAVDM_COM3");
        ClearPortDevices();
        std::filesystem::remove_all(m_strDir);
    }
    void WriteSettings(const std::string& text)
    {
        std::ofstream(m_strDir + "/kavdm/kavdm.conf") << text;
    }
    std::string m_strDir;
};

// What QSettings writes: [General] first, values with ',' ';' '=' or quotes in
// double quotes with backslash escapes, a leading '@' doubled.
const char kSettings[] = "[General]\n"
                         "port=/dev/from-file\n"
                         "baud=115200\n"
                         "\n"
                         "[gui]\n"
                         "recent=\"/a,b.stb\", /c.stb\n"
                         "\n"
                         "[ports]\n"
                         "com3=/dev/com3-file\n"
                         "com4=\"/dev/odd;\\\"name\\\"\"\n"
                         "com7=@@rfc2217://bench:4001 ; a comment\n";
} // namespace

TEST_F(PortDefaultsTest, SettingsFileReadsWhatQSettingsWrites)
{
    CSettingsFile settings;
    settings.Parse(kSettings);
    EXPECT_EQ(settings.Value("general", "PORT"), "/dev/from-file");
    EXPECT_EQ(settings.Value("ports", "com4"), "/dev/odd;\"name\"");
    EXPECT_EQ(settings.Value("ports", "com7"), "@rfc2217://bench:4001");
    EXPECT_EQ(settings.Value("ports", "com5"), "");
    EXPECT_TRUE(CSettingsFile().Load(m_strDir + "/no/such/file"));
}

TEST_F(PortDefaultsTest, LineOverEnvironmentOverFile)
{
    std::string error;
    EXPECT_EQ(ChoosePort("", error), "") << "no port anywhere";
    EXPECT_NE(error.find("KAVDM_PORT"), std::string::npos) << error;
    EXPECT_EQ(ChooseBaud(0, error), kDefaultBaudRate);

    WriteSettings(kSettings);
    EXPECT_EQ(ChoosePort("", error), "/dev/from-file");
    EXPECT_EQ(ChooseBaud(0, error), 115200);
    EXPECT_EQ(ChooseBaud(19200, error), 19200);
    setenv("KAVDM_PORT", "/dev/from-environment", 1);
    EXPECT_EQ(ChoosePort("", error), "/dev/from-environment");
    EXPECT_EQ(ChoosePort("COM1", error), "COM1");

    // Port-number mappings: option over KAVDM_COMn over [ports] over the default.
    setenv("KAVDM_COM3", "/dev/com3-environment", 1);
    EXPECT_EQ(PortDevicePath(3), "/dev/com3-environment");
    EXPECT_EQ(PortDevicePath(4), "/dev/odd;\"name\"");
    EXPECT_EQ(PortDevicePath(5), "/dev/ttyS4");
    SetPortDevice(4, "/dev/com4-option");
    EXPECT_EQ(PortDevicePath(4), "/dev/com4-option");

    WriteSettings("[General]\nbaud=12345\n");
    EXPECT_EQ(ChooseBaud(0, error), 0);
    EXPECT_NE(error.find("baud=12345"), std::string::npos) << error;
}

TEST_F(PortDefaultsTest, AutoTakesTheOneUsbAdapterOrListsTheCandidates)
{
    const auto device = [](const std::string& path, const std::string& vendor) {
        SerialDeviceInfo info;
        info.devicePath = path;
        info.usbVendorId = vendor;
        info.usbProductId = vendor.empty() ? "" : "0001";
        return info;
    };
    const SerialDeviceInfo onboard = device("/dev/ttyS0", ""), first = device("/dev/ttyUSB0", "0403"),
                           second = device("/dev/ttyACM0", "2341");
    std::string error;
    EXPECT_EQ(AutoPort({onboard, first}, error), "/dev/ttyUSB0");
    EXPECT_EQ(AutoPort({onboard}, error), "");
    EXPECT_NE(error.find("no USB serial adapter"), std::string::npos) << error;
    EXPECT_EQ(AutoPort({first, second}, error), "");
    EXPECT_NE(error.find("/dev/ttyUSB0"), std::string::npos) << error;
    EXPECT_NE(error.find("/dev/ttyACM0"), std::string::npos) << error;
}

TEST_F(PortDefaultsTest, ShortOptionsReachTheTransfer)
{
    WriteSettings("[General]\nport=/dev/from-file\n");
    const std::string err = m_strDir + "/stderr";
    const std::string command = std::string(KAVDM_BINARY) + " download " + KAVDM_SOURCE_DIR +
                                "/resources/samples/demo-firmware.bin -p /dev/from-line -b 19200 -w 0.1 -q 2>" + err;
    const int status = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::ifstream in(err);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("/dev/from-line"), std::string::npos) << text;
    EXPECT_EQ(text.find("/dev/from-file"), std::string::npos) << text;
    EXPECT_EQ(std::system((std::string(KAVDM_BINARY) + " -V >/dev/null").c_str()), 0);
}

TEST_F(PortDefaultsTest, PortsAndATransferOnAPortNumberSayWhenTheSettingsFileCannotBeRead)
{
    const std::string settings = m_strDir + "/kavdm/kavdm.conf", err = m_strDir + "/stderr";
    // A folder in its place, and a loop of links (root reads any file, so no permission case).
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"Is a directory", [&] { std::filesystem::create_directory(settings); }},
        {"Too many levels of symbolic links", [&] { std::filesystem::create_symlink("kavdm.conf", settings); }}};
    for (const auto& [reason, make] : cases)
    {
        std::filesystem::remove(settings);
        make();
        const int status = std::system((std::string(KAVDM_BINARY) + " ports >/dev/null 2>" + err).c_str());
        EXPECT_EQ(WEXITSTATUS(status), 1) << reason;
        std::ifstream in(err);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_NE(text.find("cannot read " + settings + ": " + reason), std::string::npos) << text;
    }
    // Its [ports] may map COM3: the transfer does not fall back to the default device.
    const int status = std::system((std::string(KAVDM_BINARY) + " download " + KAVDM_SOURCE_DIR +
                                    "/resources/samples/demo-firmware.bin -p COM3 -b 9600 -w 0.1 2>" + err)
                                       .c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::ifstream in(err);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("cannot read " + settings), std::string::npos) << text;
    EXPECT_EQ(text.find("/dev/ttyS2"), std::string::npos) << text;
}
