// kavdm ports: the serial devices of this machine and where each port number
// points; --json prints the same as a JSON object.
#include "cli/Commands.h"
#include "cli/StandardOutput.h"

#include "serial/NetworkLineUrl.h"
#include "serial/PortNames.h"
#include "serial/SerialDeviceList.h"
#include "serial/SettingsFile.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <iomanip>
#include <iostream>
#include <sstream>

namespace
{
constexpr int kLastComPort = 6;
constexpr int kLastListedMappedPort = 99;

std::string DescribeDevice(const SerialDeviceInfo& device)
{
    std::ostringstream line;
    line << "  " << std::left << std::setw(16) << device.devicePath;
    if (!device.driver.empty())
        line << "  driver " << device.driver;
    if (!device.usbVendorId.empty())
    {
        line << "  USB " << device.usbVendorId << ":" << device.usbProductId;
        std::string names = device.manufacturer;
        if (!device.product.empty())
            names += (names.empty() ? "" : " ") + device.product;
        if (!names.empty())
            line << "  " << names;
        if (!device.serialNumber.empty())
            line << "  serial " << device.serialNumber;
    }
    for (const auto& byPath : device.byPathPaths)
        line << "\n      " << byPath << "  (the socket)";
    for (const auto& byId : device.byIdPaths)
        line << "\n      " << byId;
    return line.str();
}

std::string DescribeMapping(int number)
{
    const std::string path = PortDevicePath(number);
    std::ostringstream line;
    std::string label = PortName(number);
    if (number > kLastComPort)
        label += " (port " + std::to_string(number) + ")";
    line << "  " << std::left << std::setw(19) << label;
    if (path.empty())
    {
        line << "not mapped (--com" << number << " PATH|URL or KAVDM_COM" << number << "=PATH|URL)";
        return line.str();
    }
    if (IsNetworkLineUrl(path))
    {
        line << std::setw(24) << path << "  mapped, network line"
             << (path.starts_with("tcp://") ? " (raw TCP: no rate switching)" : " (RFC 2217)");
        return line.str();
    }
    std::error_code error;
    const bool present = std::filesystem::exists(path, error);
    line << std::setw(24) << path << (IsPortMapped(number) ? "  mapped" : "  default")
         << (present ? ", present" : ", missing");
    return line.str();
}

// The port-number mappings of the settings file's [ports] are part of the
// list: a settings file that cannot be read is said, as `download` says it,
// and the list is still given, without those mappings.
bool SettingsFileReadable()
{
    CSettingsFile settings;
    if (settings.Load(CSettingsFile::DefaultPath()))
        return true;
    std::cerr << "kavdm ports: " << settings.LastError() << " (the list below lacks its [ports] mappings)\n";
    return false;
}

nlohmann::ordered_json PortNumberJson(int number)
{
    const std::string path = PortDevicePath(number);
    std::error_code error;
    return {{"number", number},
            {"name", PortName(number)},
            {"device", path},
            {"mapped", IsPortMapped(number)},
            {"present", !path.empty() && std::filesystem::exists(path, error)}};
}

int ListPortsJson()
{
    nlohmann::ordered_json list;
    list["devices"] = nlohmann::ordered_json::array();
    for (const auto& device : ListSerialDevices())
    {
        nlohmann::ordered_json entry = {{"device", device.devicePath},
                                        {"driver", device.driver},
                                        {"by_id", device.byIdPaths},
                                        {"by_path", device.byPathPaths}};
        if (!device.usbVendorId.empty())
            entry["usb"] = {{"vendor_id", device.usbVendorId},
                            {"product_id", device.usbProductId},
                            {"manufacturer", device.manufacturer},
                            {"product", device.product},
                            {"serial_number", device.serialNumber}};
        list["devices"].push_back(entry);
    }
    list["ports"] = nlohmann::ordered_json::array();
    for (int number = 1; number <= kLastListedMappedPort; ++number)
        if (number <= kLastComPort || IsPortMapped(number))
            list["ports"].push_back(PortNumberJson(number));
    std::cout << list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    return kExitOk;
}

int ListPorts()
{
    const auto devices = ListSerialDevices();
    std::cout << "Serial devices:\n";
    if (devices.empty())
        std::cout << "  none found\n";
    for (const auto& device : devices)
        std::cout << DescribeDevice(device) << "\n";

    std::cout << "\nPort numbers (map with --comN PATH|URL or KAVDM_COMn=PATH|URL; URL: rfc2217://HOST:PORT or "
                 "tcp://HOST:PORT):\n";
    for (int number = 1; number <= kLastComPort; ++number)
        std::cout << DescribeMapping(number) << "\n";
    bool anyTelnet = false;
    for (int number = kLastComPort + 1; number <= kLastListedMappedPort; ++number)
    {
        if (!IsPortMapped(number))
            continue;
        anyTelnet = true;
        std::cout << DescribeMapping(number) << "\n";
    }
    if (!anyTelnet)
        std::cout << "  " << std::left << std::setw(19) << "TELNET (7 and up)" << "not mapped\n";
    return kExitOk;
}
} // namespace

void AddPortsCommand(CLI::App& app, CommandAction& action)
{
    auto* command = app.add_subcommand("ports", "list the serial devices and which device each port number uses");
    auto json = std::make_shared<bool>(false);
    command->add_flag("--json", *json, "print the list as a JSON object");
    command->callback([&action, json] {
        action = [json] {
            const bool settingsRead = SettingsFileReadable();
            const int code = *json ? ListPortsJson() : ListPorts();
            return FinishStandardOutput(settingsRead ? code : kExitFailed, "ports");
        };
    });
}
