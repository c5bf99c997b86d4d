#include "cli/Commands.h"

void AddPortMapOptions(CLI::App& app)
{
    (void)app;
}
