// Which port and rate `kavdm download` and `kavdm upload` use when the line
// leaves them out: --port, then KAVDM_PORT, then the settings file's [General]
// port; --baud, then [General] baud, then 9600. "auto", wherever it comes from,
// stands for the one USB serial adapter present (AutoPort).
#pragma once

#include "serial/SerialDeviceList.h"

#include <string>
#include <vector>

inline constexpr int kDefaultBaudRate = 9600;

// The port to use, "auto" included; "" with `error` set when there is none.
// `linePort` is the --port value ("" when not given).
std::string ChoosePort(const std::string& linePort, std::string& error);

// The rate to use; 0 with `error` set when the settings file names a rate
// that is not one of the line's. `lineBaud` is the --baud value (0 when not given).
int ChooseBaud(int lineBaud, std::string& error);

// The one USB serial adapter among `devices`; "" with `error` listing the
// candidates when there is none or more than one.
std::string AutoPort(const std::vector<SerialDeviceInfo>& devices, std::string& error);
