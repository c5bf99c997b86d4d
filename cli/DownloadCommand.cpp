// kavdm download IMAGE --port DEV: serves the receiver a BIN or STB image, the
// way the DOWNLOAD page does, until the transfer ends. The image is loaded
// before the port opens, so every byte the receiver sends is answered.
#include "cli/Commands.h"
#include "cli/DeferredOpenLine.h"
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
    CDeferredOpenLine line; // the port opens once the image is loaded
    const TransferOutcome outcome = runner.Run(
        options,
        [&line](CPageWindow* window, CDeliveryGate* gate) {
            auto* page = new CDownloadPage(window, gate, &line);
            line.Bind(*page);
            return page;
        },
        [&args, &line](CInfoPage& page) {
            auto& download = static_cast<CDownloadPage&>(page);
            download.OnBrowse(args.image);
            return download.State() == CDownloadPage::WaitReady && line.Release();
        });
    if (outcome == TransferOutcome::Completed && !options.quiet)
        std::fprintf(stderr, "kavdm download: complete\n");
    else if (outcome == TransferOutcome::Failed)
        std::fprintf(stderr, "kavdm download: the transfer ended without completing\n");
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
