#include "cli/StationPorts.h"

#include "cli/TransferRunner.h"
#include "serial/NetworkLineUrl.h"
#include "serial/PortNames.h"

#include <cctype>
#include <filesystem>
#include <fstream>

namespace
{
std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A "#" at the start of a line or after a blank starts a comment.
std::string WithoutComment(const std::string& line)
{
    for (std::size_t i = 0; i < line.size(); ++i)
        if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t'))
            return line.substr(0, i);
    return line;
}

StationPort Describe(const std::string& name, const std::vector<SerialDeviceInfo>& devices)
{
    StationPort port{name, name, "", ""};
    if (const SerialDeviceInfo* device = FindSerialDevice(devices, name))
    {
        port.byId = device->byIdPaths.empty() ? "" : device->byIdPaths.front();
        port.usbSerial = device->serialNumber;
        if (!device->byPathPaths.empty())
            port.identity = device->byPathPaths.front();
        else if (!port.byId.empty())
            port.identity = port.byId;
    }
    return port;
}

// The device's own node for a path (links followed), the port itself otherwise:
// what tells two names of one device apart from two devices.
std::string SameDeviceKey(const std::string& port)
{
    if (IsNetworkLineUrl(port))
        return port;
    std::error_code error;
    const auto canonical = std::filesystem::canonical(port, error);
    return error ? port : canonical.string();
}
} // namespace

bool ReadPortsFile(const std::string& path, std::vector<std::string>& ports, std::string& error)
{
    std::ifstream in(path);
    if (!in)
    {
        error = "cannot read the ports file " + path;
        return false;
    }
    int number = 0;
    for (std::string line; std::getline(in, line);)
    {
        ++number;
        const std::string entry = Trimmed(WithoutComment(line));
        if (entry.empty())
            continue;
        if (entry.find_first_of(" \t") != std::string::npos)
        {
            error = path + ":" + std::to_string(number) + ": one port a line, not \"" + entry + "\"";
            return false;
        }
        ports.push_back(entry);
    }
    return true;
}

std::vector<std::string> AutoStationPorts(const std::vector<SerialDeviceInfo>& devices)
{
    std::vector<std::string> ports;
    for (const auto& device : devices)
    {
        if (device.usbVendorId.empty())
            continue;
        ports.push_back(!device.byPathPaths.empty() ? device.byPathPaths.front()
                        : !device.byIdPaths.empty() ? device.byIdPaths.front()
                                                    : device.devicePath);
    }
    return ports;
}

bool GatherStationPorts(const std::vector<std::string>& given, const std::string& portsOption,
                        const std::vector<SerialDeviceInfo>& devices, std::vector<StationPort>& ports,
                        std::string& error)
{
    std::vector<std::string> names = given;
    if (portsOption == "auto")
    {
        const auto found = AutoStationPorts(devices);
        if (found.empty())
        {
            error = "--ports auto: no USB serial adapter found";
            return false;
        }
        names.insert(names.end(), found.begin(), found.end());
    }
    else if (!portsOption.empty() && !ReadPortsFile(portsOption, names, error))
        return false;
    if (names.empty())
    {
        error = "no ports: give -p PORT (again for each port), --ports FILE or --ports auto";
        return false;
    }
    std::vector<std::string> keys;
    for (std::string name : names)
    {
        if (name == "auto")
        {
            error = "\"auto\" is no port of a station: use --ports auto for every USB serial adapter";
            return false;
        }
        std::string problem = CheckPortArgument(name);
        if (!problem.empty())
        {
            error = problem;
            return false;
        }
        if (name[0] != '/' && !IsNetworkLineUrl(name))
        {
            // COMn: the device it is mapped to, so the unit's kavdm needs no mapping of its own.
            const int number = ResolvePortArgument(name, problem);
            name = PortDevicePath(number);
            if (name.empty())
            {
                error = "port " + std::to_string(number) + " is not mapped to a device (--com" +
                        std::to_string(number) + " PATH|URL)";
                return false;
            }
        }
        const std::string key = SameDeviceKey(name);
        for (std::size_t i = 0; i < keys.size(); ++i)
            if (keys[i] == key)
            {
                error = "the same port twice: " + ports[i].name + " and " + name;
                return false;
            }
        keys.push_back(key);
        ports.push_back(Describe(name, devices));
    }
    return true;
}

std::string PortFileName(const std::string& port)
{
    std::string name = port;
    if (name.starts_with("/dev/"))
        name = name.substr(5);
    std::string safe;
    for (const unsigned char c : name)
    {
        const bool keep = std::isalnum(c) || c == '.' || c == '-';
        if (keep)
            safe += char(c);
        else if (safe.empty() || safe.back() != '_')
            safe += '_';
    }
    while (!safe.empty() && (safe.back() == '_' || safe.back() == '.'))
        safe.pop_back();
    while (!safe.empty() && (safe.front() == '_' || safe.front() == '.'))
        safe.erase(safe.begin());
    return safe.empty() ? "port" : safe;
}
