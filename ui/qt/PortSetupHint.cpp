#include "ui/qt/PortSetupHint.h"

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
