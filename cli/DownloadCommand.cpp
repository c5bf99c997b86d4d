// kavdm download IMAGE --port DEV: serves the receiver a BIN or STB image, the
// way the DOWNLOAD page does, until the transfer ends.
#include "cli/Commands.h"
#include "cli/TransferRunner.h"
#include "image/ImageLoader.h"
#include "image/ImageScan.h"
#include "ui/DownloadPage.h"

#include <cstdio>
#include <memory>

namespace
{
struct DownloadArguments
{
    std::string image;
    TransferOptions transfer;
    double waitSeconds = 0;
};

int RunDownload(const DownloadArguments& args, const CLI::App& command)
{
    // Refuse an image the receiver could not be served from before waiting for it.
    {
        CImageFile image;
        const ImageLoadResult load = LoadImage(args.image, image);
        if (!load.ok())
        {
            std::fprintf(stderr, "kavdm download: %s\n", load.error.c_str());
            return kExitFailed;
        }
        const ImageScanResult scan = ScanImageForDownload(image);
        if (scan.nModuleKinds == kKindsInvalid)
        {
            std::fprintf(stderr, "kavdm download: %s%s%s\n", load.bStb ? "STB file is invalid." : "BIN file is invalid.",
                         scan.strInvalidReason.empty() ? "" : " ", scan.strInvalidReason.c_str());
            return kExitFailed;
        }
    }

    TransferOptions options = args.transfer;
    if (command.count("--wait") > 0)
        options.waitSeconds = args.waitSeconds;
    CTransferRunner runner("download");
    const TransferOutcome outcome = runner.Run(
        options, [](CPageWindow* window, CDeliveryGate* gate) { return new CDownloadPage(window, gate); },
        [&args](CInfoPage& page) {
            auto& download = static_cast<CDownloadPage&>(page);
            download.OnBrowse(args.image);
            return download.State() == CDownloadPage::WaitReady;
        });
    if (outcome == TransferOutcome::Completed && !options.quiet)
        std::fprintf(stderr, "kavdm download: complete\n");
    else if (const std::string line = runner.EndLine(); !line.empty())
        std::fprintf(stderr, "kavdm download: %s\n", line.c_str());
    return ExitCodeFor(outcome, runner.Signal());
}
} // namespace

void AddDownloadCommand(CLI::App& app, CommandAction& action)
{
    auto args = std::make_shared<DownloadArguments>();
    auto* command = app.add_subcommand("download", "send a BIN or STB image to the receiver");
    command->add_option("IMAGE", args->image, "the image file (.bin or .stb)")->required();
    AddTransferOptions(command, args->transfer, args->waitSeconds,
                       "rate the receiver is asked to switch to");
    command->callback([&action, args, command] { action = [args, command] { return RunDownload(*args, *command); }; });
}
