#include "serial/SerialDeviceList.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{
// Drivers of the serial core's own port devices; the real driver sits above them.
constexpr const char* kSerialCoreDrivers[] = {"port", "ctrl"};
// An on-board port that the 8250 driver registered without finding a UART.
constexpr const char* kUnknownPortType = "0";

std::string ReadLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

bool IsSerialName(const std::string& name)
{
    for (const char* prefix : {"ttyUSB", "ttyACM", "ttyS"})
    {
        const std::string p(prefix);
        if (name.size() > p.size() && name.compare(0, p.size(), p) == 0 &&
            name.find_first_not_of("0123456789", p.size()) == std::string::npos)
            return true;
    }
    return false;
}

// The port type from sysfs, or from the driver (TIOCGSERIAL) where sysfs has
// none; a port whose type cannot be learnt at all is listed.
bool HasRealUart(const fs::path& classEntry, const fs::path& node)
{
    std::error_code error;
    if (fs::exists(classEntry / "type", error))
        return ReadLine(classEntry / "type") != kUnknownPortType;
    const int fd = ::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return true;
    serial_struct info{};
    const bool known = ::ioctl(fd, TIOCGSERIAL, &info) == 0;
    ::close(fd);
    return !known || info.type != PORT_UNKNOWN;
}

bool IsCoreDriver(const std::string& name)
{
    return std::any_of(std::begin(kSerialCoreDrivers), std::end(kSerialCoreDrivers),
                       [&](const char* core) { return name == core; });
}

// Walks up from the tty's device to the first driver that is not the serial
// core's, and to the first USB device (the one with idVendor).
void DescribeParents(const fs::path& sysRoot, const fs::path& device, SerialDeviceInfo& info)
{
    std::error_code error;
    const fs::path root = fs::weakly_canonical(sysRoot, error);
    for (fs::path dir = device; !dir.empty() && dir != root && dir != dir.parent_path(); dir = dir.parent_path())
    {
        if (info.driver.empty())
        {
            const fs::path driver = fs::read_symlink(dir / "driver", error);
            if (!error)
            {
                const std::string name = driver.filename().string();
                if (!IsCoreDriver(name))
                    info.driver = name;
            }
            error.clear();
        }
        if (info.usbVendorId.empty() && fs::exists(dir / "idVendor", error))
        {
            info.usbVendorId = ReadLine(dir / "idVendor");
            info.usbProductId = ReadLine(dir / "idProduct");
            info.manufacturer = ReadLine(dir / "manufacturer");
            info.product = ReadLine(dir / "product");
            info.serialNumber = ReadLine(dir / "serial");
        }
        if (!info.driver.empty() && !info.usbVendorId.empty())
            break;
    }
}
// Adds each link of `folder` to the device it leads to, sorted by name.
void AddLinks(const fs::path& folder, std::vector<SerialDeviceInfo>& devices,
              std::vector<std::string> SerialDeviceInfo::*links)
{
    std::error_code error;
    for (const auto& link : fs::directory_iterator(folder, error))
    {
        std::error_code linkError;
        const fs::path target = fs::canonical(link.path(), linkError);
        if (linkError)
            continue;
        for (auto& info : devices)
            if (target.filename() == info.name)
                (info.*links).push_back(link.path().string());
    }
    for (auto& info : devices)
        std::sort((info.*links).begin(), (info.*links).end());
}
} // namespace

const SerialDeviceInfo* FindSerialDevice(const std::vector<SerialDeviceInfo>& devices, const std::string& path)
{
    std::error_code error;
    const fs::path target = fs::canonical(path, error);
    for (const auto& device : devices)
    {
        std::error_code deviceError;
        if (device.devicePath == path ||
            (!error && fs::canonical(device.devicePath, deviceError) == target && !deviceError))
            return &device;
        for (const auto* links : {&device.byIdPaths, &device.byPathPaths})
            if (std::find(links->begin(), links->end(), path) != links->end())
                return &device;
    }
    return nullptr;
}

std::vector<SerialDeviceInfo> ListSerialDevices(const std::string& sysRoot, const std::string& devRoot)
{
    std::vector<SerialDeviceInfo> devices;
    std::error_code error;
    const fs::path classDir = fs::path(sysRoot) / "class" / "tty";
    for (const auto& entry : fs::directory_iterator(classDir, error))
    {
        const std::string name = entry.path().filename().string();
        if (!IsSerialName(name))
            continue;
        std::error_code linkError;
        // Virtual terminals and the like have no device behind them.
        const fs::path device = fs::canonical(entry.path() / "device", linkError);
        if (linkError)
            continue;
        // ttyS ports are registered whether or not a UART answers; "type" tells.
        if (name.compare(0, 4, "ttyS") == 0 && !HasRealUart(entry.path(), fs::path(devRoot) / name))
            continue;
        SerialDeviceInfo info;
        info.name = name;
        info.devicePath = (fs::path(devRoot) / name).string();
        DescribeParents(sysRoot, device, info);
        devices.push_back(std::move(info));
    }
    std::sort(devices.begin(), devices.end(),
              [](const SerialDeviceInfo& a, const SerialDeviceInfo& b) { return a.name < b.name; });

    AddLinks(fs::path(devRoot) / "serial" / "by-id", devices, &SerialDeviceInfo::byIdPaths);
    AddLinks(fs::path(devRoot) / "serial" / "by-path", devices, &SerialDeviceInfo::byPathPaths);
    return devices;
}
