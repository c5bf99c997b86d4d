// Demo mode: the simulated receiver on a pseudo-terminal that stands in for
// COM2, and the "Demo" menu that powers it on for a download or an upload.
#pragma once

#include <string>

class CDemoMode
{
public:
    CDemoMode() = default;
    // Starts the receiver and maps COM2 to its line. False with a reason when
    // that fails.
    bool Start(std::string& error);
};
