#include "cli/Commands.h"

#include <iostream>

void AddReceiverCommand(CLI::App& app, CommandAction& action)
{
    auto* command = app.add_subcommand("receiver", "(not built yet)");
    command->callback([&action] {
        action = [] {
            std::cerr << "kavdm receiver: not built yet\n";
            return kExitFailed;
        };
    });
}
