// kavdm download IMAGE --port DEV: serves the receiver a BIN or STB image, the
// way the DOWNLOAD page does, until the transfer ends. The image is loaded
// before the port opens, so every byte the receiver sends is answered.
#include "cli/Commands.h"
#include "cli/FileDigest.h"
#include "cli/ReadBack.h"
#include "cli/TransferEventWindow.h"
#include "cli/DeferredOpenLine.h"
#include "cli/TransferRunner.h"
#include "image/ImageLoader.h"
#include "image/ImageScan.h"
#include "ui/DownloadPage.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <unistd.h>

namespace
{
struct DownloadArguments
{
    std::string image;
    TransferOptions transfer;
    double waitSeconds = 0;
    bool json = false;   // JSON Lines events on stdout
    bool verify = false; // read the memory back after the download and check it
};

// The image in the "ended" event: path, size and CRC-32 of the file.
nlohmann::ordered_json ImageFields(const std::string& path)
{
    nlohmann::ordered_json image = {{"path", path}};
    if (const auto digest = DigestFile(path))
    {
        image["size"] = digest->size;
        image["crc32"] = digest->crc32;
    }
    return {{"image", image}};
}

int RunDownload(const DownloadArguments& args, const CLI::App& command)
{
    std::optional<CEventStream> stream;
    std::optional<CTransferEventWindow> events;
    if (args.json)
        events.emplace(stream.emplace(STDOUT_FILENO), args.transfer.verbose);
    const auto refuse = [&](const std::string& reason) {
        if (events)
            events->Ended({TransferEndKind::ImageError, reason}, kExitFailed, ImageFields(args.image));
        return kExitFailed;
    };
    // Refuse an image the receiver could not be served from before waiting for it.
    {
        CImageFile image;
        const ImageLoadResult load = LoadImage(args.image, image);
        if (!load.ok())
        {
            std::fprintf(stderr, "kavdm download: %s\n", load.error.c_str());
            return refuse(load.error);
        }
        const ImageScanResult scan = ScanImageForDownload(image);
        if (scan.nModuleKinds == kKindsInvalid)
        {
            const std::string reason = std::string(load.bStb ? "STB file is invalid." : "BIN file is invalid.") +
                                       (scan.strInvalidReason.empty() ? "" : " ") + scan.strInvalidReason;
            std::fprintf(stderr, "kavdm download: %s\n", reason.c_str());
            return refuse(reason);
        }
    }
    // --verify: the image the read-back after the download is checked against (cli/ReadBack.h).
    ReadBackImage readBack;
    if (args.verify)
        if (const std::string why = LoadReadBackImage(args.image, readBack); !why.empty())
        {
            std::fprintf(stderr, "kavdm download: --verify: %s\n", why.c_str());
            return refuse(why);
        }

    TransferOptions options = args.transfer;
    if (command.count("--wait") > 0)
        options.waitSeconds = args.waitSeconds;
    CTransferRunner runner("download");
    CDeferredOpenLine line; // the port opens once the image is loaded
    const TransferOutcome outcome = runner.Run(
        options,
        [&events, &line](CPageWindow* window, CDeliveryGate* gate) {
            auto* page = new CDownloadPage(events ? events->Wrap(window) : window, gate, &line);
            line.Bind(*page);
            return page;
        },
        [&args, &events, &line](CInfoPage& page) {
            auto& download = static_cast<CDownloadPage&>(page);
            download.OnBrowse(args.image);
            // The port opens only once the image has loaded.
            const bool loaded = download.State() == CDownloadPage::WaitReady;
            const bool ready = loaded && line.Release();
            if (events && ready)
                events->Waiting(args.transfer.port);
            else if (events)
                events->StartRefused(loaded ? TransferEndKind::PortLost : TransferEndKind::ImageError);
            return ready;
        });
    if (outcome == TransferOutcome::Completed && !options.quiet)
        std::fprintf(stderr, "kavdm download: complete\n");
    else if (const std::string line = runner.EndLine(); !line.empty())
        std::fprintf(stderr, "kavdm download: %s\n", line.c_str());
    int code = ExitCodeFor(outcome, runner.Signal());
    TransferEnd end = events ? events->EndOf(outcome, runner.End()) : TransferEnd{};
    nlohmann::ordered_json files = ImageFields(args.image);
    if (args.verify)
    {
        std::optional<CTransferEventWindow> readBackEvents;
        ReadBackRequest request{options, "", nullptr, true};
        if (events)
            request.events = &readBackEvents.emplace(*stream, args.transfer.verbose);
        const ReadBackResult result =
            outcome == TransferOutcome::Completed ? RunReadBack("download", readBack, request) : ReadBackResult{};
        if (outcome == TransferOutcome::Completed)
            std::tie(code, end) = std::pair(result.exitCode, result.end);
        const auto verified = result.Verified();
        files["verified"] = verified ? nlohmann::ordered_json(*verified) : nullptr;
    }
    if (events)
        events->Ended(end, code, files);
    return code;
}
} // namespace

void AddDownloadCommand(CLI::App& app, CommandAction& action)
{
    auto args = std::make_shared<DownloadArguments>();
    auto* command = app.add_subcommand("download", "send a BIN or STB image to the receiver");
    command->add_option("IMAGE", args->image, "the image file (.bin or .stb)")->required();
    AddTransferOptions(command, args->transfer, args->waitSeconds,
                       "rate the receiver is asked to switch to");
    command->add_flag("--json", args->json, "print JSON Lines events on stdout (see Events below)");
    command->add_flag("--verify", args->verify,
                      "after Download Complete read the receiver's memory back (switch it to standby and on again, "
                      "within the same --wait) and check it as kavdm verify does; exit 0 only when verified");
    command->footer(command->get_footer() + "\n" + kTransferEventsHelp);
    command->callback([&action, args, command] { action = [args, command] { return RunDownload(*args, *command); }; });
}
