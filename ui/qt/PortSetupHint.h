// A line for the details of the box that says a COM port could not be opened:
// when USB serial adapters are plugged in and the port is not one of them, it
// names them and says where to assign one to the port.
#pragma once

#include "serial/SerialDeviceList.h"

#include <string>
#include <vector>

// "" when there is no adapter, or the port already is one of them.
std::string PortSetupHint(int portNumber, const std::string& portDevice,
                          const std::vector<SerialDeviceInfo>& devices);
