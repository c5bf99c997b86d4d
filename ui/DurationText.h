// Durations on the transfer pages: whole seconds shown as " %M m %S s", the
// minutes within the hour and the seconds, two digits each (whole hours drop).
#pragma once

#include <cstdint>
#include <string>

std::string FormatDuration(std::int64_t seconds);
