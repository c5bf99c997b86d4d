#include "cli/Commands.h"

#include <iostream>

void AddDownloadCommand(CLI::App& app, CommandAction& action)
{
    auto* command = app.add_subcommand("download", "(not built yet)");
    command->callback([&action] {
        action = [] {
            std::cerr << "kavdm download: not built yet\n";
            return kExitFailed;
        };
    });
}
