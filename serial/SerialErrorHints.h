// Sentences for serial port failures: the system's reason and what the user can
// do about it (group membership, a program holding the port, services that grab
// new USB serial adapters).
#pragma once

#include <string>
#include <vector>

// Running services known to take new USB serial adapters for themselves
// ("brltty", "ModemManager"), found by the process names under `procRoot`.
std::vector<std::string> RunningAdapterGrabbers(const std::string& procRoot = "/proc");

// What the user can do about a failure with this errno; "" when nothing is known.
// For a missing or vanished device, `grabbers` (see above) adds a hint.
std::string SerialErrorHint(int error, const std::vector<std::string>& grabbers);
// The same with the running services looked up.
std::string SerialErrorHint(int error);

// What the user can do about a failure to open a network line (rfc2217://,
// tcp://) with this errno; "" when nothing is known.
std::string NetworkLineErrorHint(int error);
