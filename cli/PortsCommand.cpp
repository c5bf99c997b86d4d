#include "cli/Commands.h"

#include <iostream>

void AddPortsCommand(CLI::App& app, CommandAction& action)
{
    auto* command = app.add_subcommand("ports", "(not built yet)");
    command->callback([&action] {
        action = [] {
            std::cerr << "kavdm ports: not built yet\n";
            return kExitFailed;
        };
    });
}
