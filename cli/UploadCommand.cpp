#include "cli/Commands.h"

#include <iostream>

void AddUploadCommand(CLI::App& app, CommandAction& action)
{
    auto* command = app.add_subcommand("upload", "(not built yet)");
    command->callback([&action] {
        action = [] {
            std::cerr << "kavdm upload: not built yet\n";
            return kExitFailed;
        };
    });
}
