// The serial devices of this machine, as sysfs and /dev describe them: USB
// adapters (ttyUSB*, ttyACM*) and on-board ports (ttyS*) that really exist.
#pragma once

#include <string>
#include <vector>

struct SerialDeviceInfo
{
    std::string name;          // "ttyUSB0"
    std::string devicePath;    // "/dev/ttyUSB0"
    std::string driver;        // "ftdi_sio", "cdc_acm", "serial"; "" when unknown
    std::vector<std::string> byIdPaths; // /dev/serial/by-id links to it
    // /dev/serial/by-path links to it: named by the USB socket, so they stay
    // with the bench's socket even for adapters that share by-id names.
    std::vector<std::string> byPathPaths;
    // From the USB device above it, "" when it is not a USB device.
    std::string usbVendorId;   // "0403"
    std::string usbProductId;  // "6001"
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
};

// Lists the devices, sorted by name. The roots let tests use a made-up tree.
std::vector<SerialDeviceInfo> ListSerialDevices(const std::string& sysRoot = "/sys",
                                                const std::string& devRoot = "/dev");

// The device among `devices` that `path` (its node, a by-id or by-path link,
// any link to it) stands for; nullptr when none.
const SerialDeviceInfo* FindSerialDevice(const std::vector<SerialDeviceInfo>& devices, const std::string& path);
