// Port numbers and the devices they stand for. Numbers 1 to 6 are COM1 to COM6
// and map to /dev/ttyS0 to /dev/ttyS5 unless pointed elsewhere; numbers 7 and up
// are the "TELNET" port and open only when a device has been mapped to them,
// typically a network line (rfc2217://HOST:PORT or tcp://HOST:PORT).
// A mapping comes from SetPortDevice (the `--comN PATH` options, the GUI), from
// the environment variable KAVDM_COMn, or from the settings file's [ports]
// comN=PATH (serial/SettingsFile.h), in that order of precedence; the
// environment and the file are read once at first use.
#pragma once

#include <string>

// The device path the port number stands for, "" when it has none (0, negative,
// or 7 and up without a mapping).
std::string PortDevicePath(int portNumber);

// Points COMn (n >= 1) at a device path; an empty path removes the mapping.
// Numbers below 1 are ignored. Overrides the environment.
void SetPortDevice(int portNumber, const std::string& path);

// Forgets every mapping; the environment is read again at the next use. For tests.
void ClearPortDevices();

// "COM3" for 0 to 6, "TELNET" for 7 and up.
std::string PortName(int portNumber);

// Whether the port number has an explicit mapping (option, GUI or environment).
bool IsPortMapped(int portNumber);
