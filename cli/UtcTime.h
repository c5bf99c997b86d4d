// Times for records and file names: UTC, so that records written on machines
// in different time zones sort and compare as they are.
#pragma once

#include <chrono>
#include <string>

// ISO 8601 with milliseconds: "2024-05-01T12:03:04.567Z".
std::string IsoUtcTime(std::chrono::system_clock::time_point time);
// For file names (no colons): "20240501T120304Z".
std::string CompactUtcTime(std::chrono::system_clock::time_point time);
