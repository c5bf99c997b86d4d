#include "ui/qt/PortSetupHint.h"

#include "serial/SerialPort.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace
{
// The device a path names, links (/dev/serial/by-id/...) followed.
std::string Resolved(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(path, error);
    return error ? path : real.string();
}
} // namespace

int FailedPortNumber(const std::string& boxText)
{
    // The Information page's first open uses the port's default number.
    if (boxText == "ERROR : Comm port open error!")
        return CSerialPort::kDefaultPortNumber;
    static const std::string kPrefix = "ERROR: Cannot open COM";
    if (boxText.compare(0, kPrefix.size(), kPrefix) != 0)
        return 0;
    int number = 0;
    for (size_t i = kPrefix.size();
         i < boxText.size() && std::isdigit(static_cast<unsigned char>(boxText[i])); ++i)
        number = std::min(number * 10 + (boxText[i] - '0'), 1000);
    return number;
}

std::string PortSetupHint(int portNumber, const std::string& portDevice,
                          const std::vector<SerialDeviceInfo>& devices)
{
    if (portNumber <= 0)
        return {};
    const std::string device = Resolved(portDevice);
    std::string adapters;
    for (const SerialDeviceInfo& info : devices)
    {
        if (info.usbVendorId.empty())
            continue; // an on-board port, no adapter
        if (!portDevice.empty() && Resolved(info.devicePath) == device)
            return {}; // the port is an adapter already: the reason above says what is wrong
        std::string names = info.manufacturer;
        if (!info.product.empty())
            names += (names.empty() ? "" : " ") + info.product;
        adapters +=
            (adapters.empty() ? "" : ", ") + info.devicePath + (names.empty() ? "" : " (" + names + ")");
    }
    if (adapters.empty())
        return {};
    const std::string port = "COM" + std::to_string(portNumber);
    return "USB serial adapters found: " + adapters + ". To use one as " + port + ", choose it for " + port +
           " in Menu > Port Settings...; the choice is kept for later runs.";
}
