#include "cli/UtcTime.h"

#include <cstdio>
#include <ctime>

namespace
{
std::tm UtcFields(std::chrono::system_clock::time_point time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    return utc;
}
} // namespace

std::string IsoUtcTime(std::chrono::system_clock::time_point time)
{
    const std::tm utc = UtcFields(time);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() % 1000;
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", int(millis < 0 ? millis + 1000 : millis));
    return text;
}

std::string CompactUtcTime(std::chrono::system_clock::time_point time)
{
    const std::tm utc = UtcFields(time);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}
