#include "serial/PortNames.h"

#include "serial/SettingsFile.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <string_view>

extern char** environ;

namespace
{
constexpr int kLastComNumber = 6; // COM1..COM6 have default devices
constexpr std::string_view kEnvironmentPrefix = "KAVDM_COM";

struct PortMap
{
    std::mutex mutex;
    std::map<int, std::string> devices;
    bool environmentRead = false;
};

PortMap& ThePortMap()
{
    static PortMap map;
    return map;
}

// The port number a "comN" key or the digits of KAVDM_COMn name; 0 for anything else.
int MappingNumber(std::string_view digits)
{
    if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return 0;
    return std::atoi(std::string(digits).c_str());
}

// Reads every KAVDM_COMn=PATH of the environment into the map, then the
// settings file's [ports] comN=PATH; mappings made before (the options, the
// GUI) stay as they are, and the environment wins over the file.
void ReadEnvironment(PortMap& map)
{
    if (map.environmentRead)
        return;
    map.environmentRead = true;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
    {
        const std::string_view text(*entry);
        if (!text.starts_with(kEnvironmentPrefix))
            continue;
        const auto equals = text.find('=');
        if (equals == std::string_view::npos)
            continue;
        const int number = MappingNumber(text.substr(kEnvironmentPrefix.size(), equals - kEnvironmentPrefix.size()));
        const std::string path(text.substr(equals + 1));
        if (number >= 1 && !path.empty())
            map.devices.try_emplace(number, path);
    }
    CSettingsFile settings;
    if (!settings.Load(CSettingsFile::DefaultPath()))
        return;
    for (const auto& [key, path] : settings.Section("ports"))
    {
        const std::string_view name(key);
        if (name.size() < 4 || (name.substr(0, 3) != "com" && name.substr(0, 3) != "COM"))
            continue;
        const int number = MappingNumber(name.substr(3));
        if (number >= 1 && !path.empty())
            map.devices.try_emplace(number, path);
    }
}
} // namespace

std::string PortDevicePath(int portNumber)
{
    if (portNumber < 1)
        return {};
    auto& map = ThePortMap();
    std::lock_guard lock(map.mutex);
    ReadEnvironment(map);
    if (auto found = map.devices.find(portNumber); found != map.devices.end())
        return found->second;
    if (portNumber <= kLastComNumber)
        return "/dev/ttyS" + std::to_string(portNumber - 1);
    return {};
}

void SetPortDevice(int portNumber, const std::string& path)
{
    if (portNumber < 1)
        return;
    auto& map = ThePortMap();
    std::lock_guard lock(map.mutex);
    ReadEnvironment(map);
    if (path.empty())
        map.devices.erase(portNumber);
    else
        map.devices[portNumber] = path;
}

void ClearPortDevices()
{
    auto& map = ThePortMap();
    std::lock_guard lock(map.mutex);
    map.devices.clear();
    map.environmentRead = false;
}

bool IsPortMapped(int portNumber)
{
    auto& map = ThePortMap();
    std::lock_guard lock(map.mutex);
    ReadEnvironment(map);
    return map.devices.count(portNumber) != 0;
}

std::string PortName(int portNumber)
{
    if (portNumber > kLastComNumber)
        return "TELNET";
    return "COM" + std::to_string(portNumber);
}
