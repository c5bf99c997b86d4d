#include "app/DemoMode.h"

bool CDemoMode::Start(std::string& error)
{
    error = "the simulated receiver is not available in this build";
    return false;
}
