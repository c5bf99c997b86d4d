// The link choices shared by the pages and the transfer engines: which COM port
// to open and at which rate. One program-wide record, never saved: every run
// starts with COM2 at 9600 baud.
#pragma once

#include <cstdint>

struct LinkSettings
{
    std::int32_t portIndex;        // zero-based: the port opened is COM(portIndex + 1)
    std::int32_t openBaudRate;     // the rate used every time the port is opened
    std::int32_t selectedBaudRate; // the user's choice, applied when an engine switches the link speed
};

inline constexpr LinkSettings kInitialLinkSettings{1, 9600, 9600};

// Touched only on the protocol thread.
extern LinkSettings theLinkSettings;
