// kavdm upload OUTPUT.bin --port DEV: reads the receiver's digital data (flash
// and EEPROM) back into a BIN file, the way the UPLOAD page does, until the
// transfer ends. OUTPUT is replaced only by a completed upload; otherwise what
// came is kept as OUTPUT.partial.
#include "cli/Commands.h"
#include "cli/TransferRunner.h"
#include "image/UploadFile.h"
#include "ui/UploadPage.h"

#include <cstdio>
#include <filesystem>
#include <memory>

namespace
{
struct UploadArguments
{
    std::string output;
    TransferOptions transfer;
    double waitSeconds = 0;
};

// The moment OUTPUT.partial was last written, to tell whether this run wrote it.
std::filesystem::file_time_type PartialStamp(const std::string& partial)
{
    std::error_code ignored;
    return std::filesystem::last_write_time(partial, ignored);
}

int RunUpload(const UploadArguments& args, const CLI::App& command)
{
    // Refuse a place the file cannot be written to before waiting for the
    // receiver: an empty trial file is created beside the target and removed.
    {
        CUploadFile trial;
        if (!trial.Open(args.output))
        {
            std::fprintf(stderr, "kavdm upload: %s\n", trial.LastErrorText().c_str());
            return kExitFailed;
        }
        trial.Abandon();
    }
    const std::string partial = args.output + CUploadFile::kPartialSuffix;
    const auto partialBefore = PartialStamp(partial);

    TransferOptions options = args.transfer;
    if (command.count("--wait") > 0)
        options.waitSeconds = args.waitSeconds;
    CTransferRunner runner("upload");
    const TransferOutcome outcome = runner.Run(
        options,
        [](CPageWindow* window, CDeliveryGate* gate) {
            auto* page = new CUploadPage(window, gate);
            // The page opens no port of its own: open the chosen one as the
            // reset would, at 9600 baud with one stop bit, owned by the page.
            page->ReopenPort(false);
            return page;
        },
        [&args](CInfoPage& page) {
            auto& upload = static_cast<CUploadPage&>(page);
            upload.OnBrowse(args.output);
            return upload.State() == CUploadPage::WaitReady;
        });
    if (outcome == TransferOutcome::Completed)
    {
        if (!options.quiet)
            std::fprintf(stderr, "kavdm upload: complete, saved to %s\n", args.output.c_str());
    }
    else
    {
        if (outcome == TransferOutcome::Failed)
            std::fprintf(stderr, "kavdm upload: the transfer ended without completing\n");
        std::error_code ignored;
        if (std::filesystem::exists(partial, ignored) && PartialStamp(partial) != partialBefore)
            std::fprintf(stderr, "kavdm upload: the data received is kept in %s; %s was not changed\n",
                         partial.c_str(), args.output.c_str());
    }
    return ExitCodeFor(outcome, runner.Signal());
}
} // namespace

void AddUploadCommand(CLI::App& app, CommandAction& action)
{
    auto args = std::make_shared<UploadArguments>();
    auto* command = app.add_subcommand("upload", "read the receiver's flash and EEPROM back into a BIN file");
    command->add_option("OUTPUT", args->output, "the BIN file to write (replaced only by a complete upload)")
        ->required();
    AddTransferOptions(command, args->transfer, args->waitSeconds,
                       "the rate choice (an upload answers the receiver's rate query with 9600 whatever it is)");
    command->callback([&action, args, command] { action = [args, command] { return RunUpload(*args, *command); }; });
}
