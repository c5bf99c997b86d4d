// kavdm upload OUTPUT.bin --port DEV: reads the receiver's digital data (flash
// and EEPROM; with --kind its analog data, or all) back into a BIN file, the
// way the UPLOAD page does, until the transfer ends. OUTPUT is replaced only by a completed upload; otherwise what
// came is kept as OUTPUT.partial (or the next free OUTPUT.N.partial).
#include "cli/Commands.h"
#include "cli/FileDigest.h"
#include "cli/TransferEventWindow.h"
#include "cli/TransferRunner.h"
#include "image/OutputPath.h"
#include "image/UploadFile.h"
#include "ui/UploadPage.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <unistd.h>

namespace
{
struct UploadArguments
{
    std::string output;
    UploadKind kind = UploadKind::Digital;
    TransferOptions transfer;
    double waitSeconds = 0;
    bool json = false; // JSON Lines events on stdout
};

// The output in the "ended" event: the file written (or the .partial kept) and its CRC-32.
nlohmann::ordered_json OutputFields(const std::string& path)
{
    return {{"output", DigestFields(path)}};
}

// A file system that cannot hold a whole upload would fail it after the
// receiver started: say so before waiting (the upload still runs; what fits is
// kept as .partial).
void WarnWhenShortOfSpace(const std::string& output, UploadKind kind)
{
    const auto free = FreeBytesBeside(output);
    const std::uint64_t needed = std::uint64_t(UploadExpectedBytes(kind)) + std::uint64_t(UploadModuleCount(kind)) *
                                                                                 kHeaderBlockSize;
    if (free && *free < needed)
        std::fprintf(stderr,
                     "kavdm upload: warning: only %llu bytes are free where %s goes; "
                     "a whole upload needs %llu\n",
                     static_cast<unsigned long long>(*free), output.c_str(),
                     static_cast<unsigned long long>(needed));
}

int RunUpload(const UploadArguments& args, const CLI::App& command)
{
    std::optional<CEventStream> stream;
    std::optional<CTransferEventWindow> events;
    if (args.json)
        events.emplace(stream.emplace(STDOUT_FILENO), args.transfer.verbose);
    // Refuse a place the file cannot be written to before waiting for the
    // receiver (a folder, a device, a FIFO, no permission): an empty trial file
    // is created beside the target and removed.
    if (const std::string why = CUploadFile::CheckPlace(args.output); !why.empty())
    {
        std::fprintf(stderr, "kavdm upload: %s\n", why.c_str());
        if (events)
            events->Ended({TransferEndKind::OutputError, why}, kExitFailed, OutputFields(""));
        return kExitFailed;
    }
    WarnWhenShortOfSpace(args.output, args.kind);
    std::string kept; // where an unfinished upload's data went

    TransferOptions options = args.transfer;
    if (command.count("--wait") > 0)
        options.waitSeconds = args.waitSeconds;
    CTransferRunner runner("upload");
    const TransferOutcome outcome = runner.Run(
        options,
        [&args, &events](CPageWindow* window, CDeliveryGate* gate) {
            auto* page = new CUploadPage(events ? events->Wrap(window) : window, gate);
            page->SetUploadKind(args.kind);
            // The page opens no port of its own: open the chosen one as the
            // reset would, at 9600 baud with one stop bit, owned by the page.
            page->ReopenPort(false);
            return page;
        },
        [&args, &events](CInfoPage& page) {
            auto& upload = static_cast<CUploadPage&>(page);
            if (!upload.Line().IsOpen())
                return false;
            upload.OnBrowse(args.output);
            const bool ready = upload.State() == CUploadPage::WaitReady;
            if (events && ready)
                events->Waiting(args.transfer.port);
            else if (events)
                events->StartRefused(TransferEndKind::OutputError);
            return ready;
        },
        [&kept](CInfoPage& page) {
            auto& upload = static_cast<CUploadPage&>(page);
            upload.KeepUnfinishedOutput();
            kept = upload.KeptPartialPath();
        });
    if (outcome == TransferOutcome::Completed)
    {
        if (!options.quiet)
            std::fprintf(stderr, "kavdm upload: complete, saved to %s\n", args.output.c_str());
    }
    else
    {
        if (!kept.empty())
            std::fprintf(stderr, "kavdm upload: the data received is kept in %s; %s was not changed\n",
                         kept.c_str(), args.output.c_str());
        if (const std::string line = runner.EndLine(); !line.empty())
            std::fprintf(stderr, "kavdm upload: %s\n", line.c_str());
    }
    const int code = ExitCodeFor(outcome, runner.Signal());
    if (events)
        events->Ended(events->EndOf(outcome, runner.End()), code,
                      OutputFields(outcome == TransferOutcome::Completed ? args.output : kept));
    return code;
}
} // namespace

void AddUploadCommand(CLI::App& app, CommandAction& action)
{
    auto args = std::make_shared<UploadArguments>();
    auto* command = app.add_subcommand(
        "upload", "read the receiver's flash and EEPROM (or with --kind its analog data, or all) back into a BIN file");
    command->add_option("OUTPUT", args->output, "the BIN file to write (replaced only by a complete upload)")
        ->required();
    command
        ->add_option_function<std::string>(
            "--kind", [args](const std::string& name) { args->kind = *ParseUploadKind(name); },
            "what to read: digital (flash and EEPROM, 264192 bytes; the default), analog (14336 bytes) or all "
            "(278528 bytes)")
        ->check(CLI::IsMember({"digital", "analog", "all"}))
        ->type_name("KIND");
    AddTransferOptions(command, args->transfer, args->waitSeconds,
                       "the rate choice (an upload answers the receiver's rate query with 9600 whatever it is)");
    command->add_flag("--json", args->json, "print JSON Lines events on stdout (see Events below)");
    command->footer(command->get_footer() + "\n" + kTransferEventsHelp);
    command->callback([&action, args, command] { action = [args, command] { return RunUpload(*args, *command); }; });
}
