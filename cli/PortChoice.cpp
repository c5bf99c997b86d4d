#include "cli/PortChoice.h"

#include "serial/SettingsFile.h"

#include <array>
#include <cstdlib>

namespace
{
constexpr std::array kBaudRates = {9600, 19200, 38400, 57600, 115200};

std::string DescribeAdapter(const SerialDeviceInfo& device)
{
    std::string text = device.devicePath + " (USB " + device.usbVendorId + ":" + device.usbProductId;
    if (!device.product.empty())
        text += " " + device.product;
    return text + ")";
}
} // namespace

std::string AutoPort(const std::vector<SerialDeviceInfo>& devices, std::string& error)
{
    std::vector<const SerialDeviceInfo*> adapters;
    for (const auto& device : devices)
        if (!device.usbVendorId.empty())
            adapters.push_back(&device);
    if (adapters.size() == 1)
        return adapters.front()->devicePath;
    if (adapters.empty())
    {
        error = "--port auto: no USB serial adapter found";
        if (!devices.empty())
        {
            error += " (other serial devices:";
            for (const auto& device : devices)
                error += " " + device.devicePath;
            error += ")";
        }
        return {};
    }
    error = "--port auto: more than one USB serial adapter, choose one with --port:";
    for (const auto* adapter : adapters)
        error += "\n  " + DescribeAdapter(*adapter);
    return {};
}

std::string ChoosePort(const std::string& linePort, std::string& error)
{
    std::string port = linePort;
    if (port.empty())
    {
        const char* environment = std::getenv("KAVDM_PORT");
        port = environment != nullptr ? environment : "";
    }
    if (port.empty())
    {
        CSettingsFile settings;
        const std::string path = CSettingsFile::DefaultPath();
        if (!settings.Load(path))
        {
            error = settings.LastError();
            return {};
        }
        port = settings.Value("General", "port");
    }
    if (port.empty())
    {
        error = "no port: give --port DEV, set KAVDM_PORT or write port=DEV under [General] in " +
                CSettingsFile::DefaultPath();
        return {};
    }
    return port;
}

int ChooseBaud(int lineBaud, std::string& error)
{
    if (lineBaud != 0)
        return lineBaud;
    CSettingsFile settings;
    const std::string path = CSettingsFile::DefaultPath();
    if (!settings.Load(path))
    {
        error = settings.LastError();
        return 0;
    }
    const std::string text = settings.Value("General", "baud");
    if (text.empty())
        return kDefaultBaudRate;
    for (const int rate : kBaudRates)
        if (text == std::to_string(rate))
            return rate;
    error = path + ": baud=" + text + " is not one of 9600, 19200, 38400, 57600, 115200";
    return 0;
}
