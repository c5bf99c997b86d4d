// kavdm verify IMAGE --port DEV: reads the receiver's memory back, the kinds
// of data IMAGE holds, and checks that it holds what a download of IMAGE puts
// there, module by module. Exit 0 verified, 1 different or failed, 2 usage,
// 3 --wait ran out, 128+N on signal N.
#include "cli/Commands.h"
#include "cli/FileDigest.h"
#include "cli/ReadBack.h"
#include "cli/TransferEventWindow.h"
#include "image/UploadFile.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <unistd.h>

namespace
{
struct VerifyArguments
{
    std::string image;
    std::string savePath;
    TransferOptions transfer;
    double waitSeconds = 0;
    bool json = false;
};

int RunVerify(const VerifyArguments& args, const CLI::App& command)
{
    std::optional<CEventStream> stream;
    std::optional<CTransferEventWindow> events;
    if (args.json)
        events.emplace(stream.emplace(STDOUT_FILENO), args.transfer.verbose);
    nlohmann::ordered_json files = {{"image", DigestFields(args.image)}};
    const auto refuse = [&](TransferEndKind kind, const std::string& reason) {
        std::fprintf(stderr, "kavdm verify: %s\n", reason.c_str());
        if (events)
        {
            files["verified"] = nullptr;
            events->Ended({kind, reason}, kExitFailed, files);
        }
        return kExitFailed;
    };
    // What cannot be checked is refused before the receiver is waited for.
    ReadBackImage target;
    if (const std::string why = LoadReadBackImage(args.image, target); !why.empty())
        return refuse(TransferEndKind::ImageError, why);
    if (!args.savePath.empty())
        if (const std::string why = CUploadFile::CheckPlace(args.savePath); !why.empty())
            return refuse(TransferEndKind::OutputError, why);

    ReadBackRequest request;
    request.transfer = args.transfer;
    if (command.count("--wait") > 0)
        request.transfer.waitSeconds = args.waitSeconds;
    request.savePath = args.savePath;
    request.events = events ? &*events : nullptr;
    const ReadBackResult result = RunReadBack("verify", target, request);
    if (!args.savePath.empty() && !result.savedPath.empty())
        files["output"] = DigestFields(result.savedPath);
    if (events)
    {
        const auto verified = result.Verified();
        files["verified"] = verified ? nlohmann::ordered_json(*verified) : nullptr;
        events->Ended(result.end, result.exitCode, files);
    }
    return result.exitCode;
}
} // namespace

void AddVerifyCommand(CLI::App& app, CommandAction& action)
{
    auto args = std::make_shared<VerifyArguments>();
    auto* command = app.add_subcommand(
        "verify", "read the receiver's memory back and check that it holds what a download of IMAGE puts there");
    command->add_option("IMAGE", args->image, "the image downloaded before (.bin or .stb) with data modules")
        ->required();
    command->add_option("--save", args->savePath,
                        "also write what was read back to FILE, as kavdm upload does (replaced only when complete)")
        ->type_name("FILE");
    AddTransferOptions(command, args->transfer, args->waitSeconds,
                       "the rate choice (the read-back answers the receiver's rate query with 9600 whatever it is)");
    command->add_flag("--json", args->json, "print JSON Lines events on stdout (see Events below)");
    command->footer(
        "Asks for the kinds of data IMAGE holds (digital: flash and EEPROM; analog; or all) and compares each data "
        "module with the receiver's memory of its kind over the module's length: a row per module, verified or "
        "where it differs. Firmware cannot be read back (an image of firmware only is refused before waiting); of "
        "several modules of one kind the receiver holds the last. Exit status: 0 verified, 1 different or failed, "
        "2 usage, 3 --wait passed, 128+N on signal N.\n" +
        std::string(kTransferEventsHelp));
    command->callback([&action, args, command] { action = [args, command] { return RunVerify(*args, *command); }; });
}
