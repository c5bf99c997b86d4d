#include "cli/Commands.h"

#include <iostream>

void AddImageCommand(CLI::App& app, CommandAction& action)
{
    auto* command = app.add_subcommand("image", "(not built yet)");
    command->callback([&action] {
        action = [] {
            std::cerr << "kavdm image: not built yet\n";
            return kExitFailed;
        };
    });
}
