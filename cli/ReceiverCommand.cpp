// kavdm receiver: a simulated receiver on a pseudo-terminal or a serial device,
// for tests and demonstrations without the real equipment.
#include "cli/Commands.h"

#include "receiver/SimulatedReceiver.h"

#include <iostream>
#include <memory>
#include <thread>

namespace
{
constexpr auto kLingerAfterTransfer = std::chrono::milliseconds(500);

struct ReceiverArguments
{
    bool bPty = false;
    std::string strPort;
    std::string strRole = "download";
    std::string strRate = "any";
    bool bNoRate = false;
    std::string strSave;
    std::string strImage;
    std::vector<std::string> pace;
    std::vector<std::string> faults;
    double timeoutSeconds = 20.0;
    bool bVerbose = false;
    bool bCheckRate = false;
    bool bKeep = false;
};

int Usage(const std::string& message)
{
    std::cerr << "kavdm receiver: " << message << "\n";
    return kExitUsage;
}

bool ParseBaud(const std::string& text, int& baud)
{
    try
    {
        std::size_t used = 0;
        baud = std::stoi(text, &used);
        return used == text.size() && baud > 0;
    }
    catch (const std::exception&)
    {
        return false;
    }
}

// Powers the receiver on with `options` and waits for the session's end, then
// for the PC to let go of the line.
ReceiverResult RunSession(CSimulatedReceiver& receiver, const ReceiverOptions& options, bool bCheckRate)
{
    std::string error;
    if (!receiver.PowerOn(options, error))
        return ReceiverResult{false, error, {}};
    std::optional<ReceiverResult> result;
    while (!result)
        result = receiver.WaitForResult(std::chrono::seconds(1));
    // A real receiver does not vanish with its last byte: the PC resets and
    // reopens its port right after a transfer, and should find the line there.
    const auto lingerEnd = std::chrono::steady_clock::now() + kLingerAfterTransfer;
    if (bCheckRate && result->bSucceeded)
    {
        const int seen = receiver.WaitForLineRate(9600, CSimulatedReceiver::kLineRateWaitMs);
        std::cerr << "kavdm receiver: the PC's line " << (seen == 9600 ? "is back at " : "stayed at ") << seen
                  << " baud after the transfer\n";
    }
    std::this_thread::sleep_until(lingerEnd);
    return *result;
}

void Report(const ReceiverResult& result)
{
    std::cerr << "kavdm receiver: " << (result.bSucceeded ? "complete: " : "failed: ") << result.strText << "\n";
}

int RunReceiver(const ReceiverArguments& args)
{
    if (args.bPty == !args.strPort.empty())
        return Usage("give exactly one of --pty and --port DEV");
    if (args.bKeep && args.strRole == "upload")
        return Usage("--keep begins with a download and serves what it received to the upload after it; "
                     "leave --role out");

    ReceiverOptions options;
    options.role = args.strRole == "upload" ? ReceiverRole::Upload : ReceiverRole::Download;
    if (args.bNoRate)
        options.nRate = kReceiverNoRate;
    else if (args.strRate == "any")
        options.nRate = kReceiverAnyRate;
    else if (!ParseBaud(args.strRate, options.nRate))
        return Usage("--rate takes a baud rate (9600 ... 115200) or \"any\", not \"" + args.strRate + "\"");
    if (args.timeoutSeconds <= 0 || args.timeoutSeconds > 86400)
        return Usage("--timeout takes a number of seconds from 0 to 86400");
    options.nSilenceTimeoutMs = int(args.timeoutSeconds * 1000);
    options.bPace = !args.pace.empty();
    options.bCheckLineRate = args.bCheckRate;
    if (!args.pace.empty() && !args.pace.back().empty() && !ParseBaud(args.pace.back(), options.nPaceBaud))
        return Usage("--pace takes an optional baud rate, not \"" + args.pace.back() + "\"");
    // With --keep an upload follows the download: it answers whatever rate the PC
    // names, and the upload's faults wait for it.
    ReceiverOptions uploadOptions = options;
    uploadOptions.role = ReceiverRole::Upload;
    uploadOptions.nRate = args.bNoRate ? kReceiverNoRate : kReceiverAnyRate;
    options.strSavePath = args.strSave;
    for (const auto& text : args.faults)
    {
        ReceiverFault fault;
        std::string error;
        if (!ParseReceiverFault(text, fault, error))
            return Usage(error);
        (args.bKeep && !IsDownloadFault(fault.kind) ? uploadOptions : options).faults.push_back(fault);
    }
    std::vector<ReceiverModule> memory;
    if (!args.strImage.empty())
    {
        if (options.role != ReceiverRole::Upload && !args.bKeep)
            return Usage("--image belongs to the upload role (the memory the receiver sends)");
        std::string error;
        if (!LoadUploadImage(args.strImage, memory, error))
        {
            std::cerr << "kavdm receiver: " << error << "\n";
            return kExitFailed;
        }
        if (!args.bKeep)
            options.memory = memory;
    }
    std::string error;
    if (!ValidateReceiverOptions(options, error) || (args.bKeep && !ValidateReceiverOptions(uploadOptions, error)))
        return Usage(error);

    CSimulatedReceiver receiver;
    if (args.bVerbose)
        receiver.SetLog([](const std::string& line) { std::cerr << "receiver: " << line << std::endl; });
    std::string path;
    const bool bStarted = args.bPty ? receiver.Start(path, error) : receiver.StartOnDevice(args.strPort, error);
    if (!bStarted)
    {
        std::cerr << "kavdm receiver: " << error << "\n";
        return kExitFailed;
    }
    // The first line on stdout is the device the PC opens; scripts wait for it.
    std::cout << path << std::endl;
    if (args.bKeep)
        receiver.KeepReceived(memory);
    ReceiverResult result = RunSession(receiver, options, args.bCheckRate);
    if (args.bKeep && result.bSucceeded)
    {
        Report(result);
        std::cerr << "kavdm receiver: serving what it received to the next upload\n";
        result = RunSession(receiver, uploadOptions, args.bCheckRate);
    }
    receiver.Stop();
    Report(result);
    return result.bSucceeded ? kExitOk : kExitFailed;
}
} // namespace

void AddReceiverCommand(CLI::App& app, CommandAction& action)
{
    auto args = std::make_shared<ReceiverArguments>();
    auto* command = app.add_subcommand(
        "receiver", "Simulated receiver on a pseudo-terminal (--pty, its path is printed first) or a device");
    auto* pty = command->add_flag("--pty", args->bPty, "create a pseudo-terminal and print the PC's device path");
    command->add_option("--port", args->strPort, "use this serial device")->excludes(pty);
    command->add_option("--role", args->strRole, "download (receive an image) or upload (send memory)")
        ->check(CLI::IsMember({"download", "upload"}));
    auto* noRate = command->add_flag("--no-rate", args->bNoRate, "announce with 0xCD only, no rate exchange");
    command->add_option("--rate", args->strRate, "rate expected in the rate exchange, or \"any\" (default)")
        ->excludes(noRate);
    command->add_option("--save", args->strSave, "download role: write the received image here (BIN)");
    command->add_option("--image", args->strImage,
                        "upload role: serve the modules of this BIN (with --keep: the memory before the download)");
    command->add_option("--pace", args->pace, "sleep the wire time of every byte (at BAUD, or the line rate)")
        ->expected(0, 1);
    command->add_option("--fault", args->faults, std::string("inject a fault: ") + ReceiverFaultSyntax());
    command->add_option("--timeout", args->timeoutSeconds, "fail when the PC is silent this long (seconds)");
    command->add_flag("--verbose", args->bVerbose, "log every step on stderr");
    command->add_flag("--check-rate", args->bCheckRate,
                      "--pty: fail when the PC's end does not follow a rate switch; report its rate after the transfer");
    command->add_flag("--keep", args->bKeep,
                      "keep what a download brings: after a complete download, serve its data modules (flash, "
                      "EEPROM, analog) to an upload, then exit with the upload's result");
    command->callback([&action, args] { action = [args] { return RunReceiver(*args); }; });
}
