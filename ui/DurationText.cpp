#include "ui/DurationText.h"

#include <cstdio>

std::string FormatDuration(std::int64_t seconds)
{
    // A clock stepped backwards can make an elapsed time negative; show zero then.
    if (seconds < 0)
        seconds = 0;
    const int minutes = int((seconds / 60) % 60);
    const int secs = int(seconds % 60);
    char text[32];
    std::snprintf(text, sizeof text, " %02d m %02d s", minutes, secs);
    return text;
}
