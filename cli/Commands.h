// The subcommands of `kavdm`. Each Add function registers its subcommand on the
// application and, when that subcommand is chosen, stores in `action` what to run
// after parsing; the action returns the process exit code.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>

using CommandAction = std::function<int()>;

// Exit codes shared by the subcommands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;   // bad image, failed or reset transfer, unreadable file
inline constexpr int kExitUsage = 2;    // command-line errors
inline constexpr int kExitTimedOut = 3; // the receiver was silent for the --wait time

struct TransferOptions;
// --port, --baud, --wait and --verbose with the footer of exit codes, shared by
// `kavdm download` and `kavdm upload`. `baudHelp` says what the rate does there.
void AddTransferOptions(CLI::App* command, TransferOptions& transfer, double& waitSeconds, const std::string& baudHelp);

void AddPortMapOptions(CLI::App& app);                     // --comN PATH, shared by every subcommand
void AddImageCommand(CLI::App& app, CommandAction& action);    // kavdm image info|decode|encode
void AddImageCompareCommand(CLI::App& image, CommandAction& action); // kavdm image compare, under `image`
void AddPortsCommand(CLI::App& app, CommandAction& action);    // kavdm ports
void AddDownloadCommand(CLI::App& app, CommandAction& action); // kavdm download
void AddUploadCommand(CLI::App& app, CommandAction& action);   // kavdm upload
void AddVerifyCommand(CLI::App& app, CommandAction& action);   // kavdm verify
void AddReceiverCommand(CLI::App& app, CommandAction& action); // kavdm receiver
void AddStationCommand(CLI::App& app, CommandAction& action);  // kavdm station download|upload
