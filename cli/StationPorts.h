// The ports a station serves: from -p PORT (repeatable), a ports file (one per
// line, "#" starts a comment, URLs allowed) or "auto" (every USB serial adapter
// present, by its /dev/serial/by-path name, which stays with the bench's
// socket where identical adapters share by-id names), each with the stable
// identity its records name.
#pragma once

#include "serial/SerialDeviceList.h"

#include <string>
#include <vector>

struct StationPort
{
    std::string name;      // what the unit's kavdm is given as --port
    std::string identity;  // by-path link, else by-id link, else the name
    std::string byId;      // "" when none
    std::string usbSerial; // "" when none
};

// The entries of a ports file; false with the file and line in `error`.
bool ReadPortsFile(const std::string& path, std::vector<std::string>& ports, std::string& error);

// The USB serial adapters among `devices`, each by its by-path name (by-id or
// the device node when it has none).
std::vector<std::string> AutoStationPorts(const std::vector<SerialDeviceInfo>& devices);

// The -p values and the --ports value ("" for none, "auto", or a file) as the
// station's ports: COMn becomes the device it is mapped to, every port is
// checked, and a device given twice (by any two of its names) is refused.
// False with the reason in `error`.
bool GatherStationPorts(const std::vector<std::string>& given, const std::string& portsOption,
                        const std::vector<SerialDeviceInfo>& devices, std::vector<StationPort>& ports,
                        std::string& error);

// The port as a file-name part (for {port} and the log files):
// "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0" gives
// "serial_by-path_pci-0000_00_14.0-usb-0_2_1.0-port0", "rfc2217://rack:3001" gives "rfc2217_rack_3001".
std::string PortFileName(const std::string& port);
