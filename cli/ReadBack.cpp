#include "cli/ReadBack.h"

#include "cli/Commands.h"
#include "cli/ReadBackReport.h"
#include "cli/TransferEventWindow.h"
#include "cli/TransferLog.h"
#include "image/ImageCompare.h"
#include "image/UploadMemory.h"
#include "image/UploadSinkPair.h"
#include "ui/UploadPage.h"

#include <cstdio>

namespace
{
// The page's file name when the read-back goes to memory only; shown nowhere.
constexpr const char* kMemoryName = "(memory)";

// The end of a check whose upload completed.
TransferEnd EndOfCheck(ReadBackImage& target, std::optional<ReadBackCheck>& check, const CUploadMemory& memory)
{
    if (target.image.ChangedSinceOpened())
        return {TransferEndKind::ImageError, target.path + " changed on disk since it was loaded; nothing was compared"};
    CImageFile held;
    if (!held.Assign(std::vector<std::uint8_t>(memory.Bytes())))
        return {TransferEndKind::OutputError, "the memory read back cannot be held: " + held.GetErrorText()};
    check = CheckReadBack(target.image, held);
    if (check->Verified())
        return {TransferEndKind::Complete, ""};
    return {TransferEndKind::Different, ReadBackFailure(*check)};
}
} // namespace

std::optional<bool> ReadBackResult::Verified() const
{
    if (!check)
        return std::nullopt;
    return check->Verified();
}

std::string LoadReadBackImage(const std::string& path, ReadBackImage& target)
{
    target.path = path;
    const CompareImageLoad load = LoadImageToCompare(path, target.image);
    if (!load.ok())
        return load.error;
    const ModuleWalk walk = WalkImageModules(target.image, false);
    const std::optional<UploadKind> kind = UploadKindToCheck(walk);
    if (!kind)
        return path + " holds firmware only: a receiver cannot send firmware back, so there is nothing to verify";
    target.kind = *kind;
    return {};
}

ReadBackResult RunReadBack(const std::string& what, ReadBackImage& target, const ReadBackRequest& request)
{
    const TransferOptions& options = request.transfer;
    CUploadMemory memory;
    CUploadFile file;
    CUploadSinkPair both(file, memory);
    CUploadSink& sink = request.savePath.empty() ? static_cast<CUploadSink&>(memory) : both;
    std::string kept;

    if (request.afterDownload && !options.quiet)
        std::fprintf(stderr, "kavdm %s: now the read-back: switch the receiver to standby and on again\n", what.c_str());
    CTransferRunner runner(what);
    ReadBackResult result;
    result.outcome = runner.Run(
        options,
        [&](CPageWindow* window, CDeliveryGate* gate) {
            auto* page = new CUploadPage(request.events ? request.events->Wrap(window) : window, gate);
            page->SetUploadKind(target.kind);
            page->SetUploadSink(&sink);
            page->ReopenPort(false); // at 9600 baud, owned by the page, as its reset would
            return page;
        },
        [&](CInfoPage& page) {
            auto& upload = static_cast<CUploadPage&>(page);
            if (!upload.Line().IsOpen())
                return false; // the page said why
            upload.OnBrowse(request.savePath.empty() ? kMemoryName : request.savePath);
            const bool ready = upload.State() == CUploadPage::WaitReady;
            if (request.events && ready)
                request.events->Waiting(options.port, request.afterDownload ? "readback" : "waiting");
            else if (request.events)
                request.events->StartRefused(TransferEndKind::OutputError);
            return ready;
        },
        [&](CInfoPage& page) {
            auto& upload = static_cast<CUploadPage&>(page);
            upload.KeepUnfinishedOutput();
            kept = upload.KeptPartialPath();
        });
    result.signal = runner.Signal();

    if (result.outcome == TransferOutcome::Completed)
    {
        result.end = EndOfCheck(target, result.check, memory);
        result.exitCode = result.end.Completed() ? kExitOk : kExitFailed;
        result.savedPath = request.savePath;
    }
    else
    {
        result.end = request.events ? request.events->EndOf(result.outcome, runner.End())
                                    : runner.End();
        if (request.afterDownload)
            result.end.reason = "in the read-back: " + result.end.reason;
        result.exitCode = ExitCodeFor(result.outcome, result.signal);
        result.savedPath = kept;
        if (const std::string line = runner.EndLine(); !line.empty())
            std::fprintf(stderr, "kavdm %s: the read-back did not complete: %s\n", what.c_str(),
                         DescribeTransferEnd(runner.End()).c_str());
        if (!kept.empty())
            std::fprintf(stderr, "kavdm %s: the data read back is kept in %s\n", what.c_str(), kept.c_str());
    }

    const ReadBackCheck* check = result.check ? &*result.check : nullptr;
    const std::string reason = result.end.Completed() ? "" : DescribeTransferEnd(result.end);
    if (request.events)
        request.events->Emit("verify", ReadBackEventFields(check, target.kind, reason));
    std::string report = check ? ReadBackTable(*check, target.path) : "";
    if (!check && result.outcome == TransferOutcome::Completed)
        report = "result: not checked: " + reason + "\n";
    if (!report.empty() && (!request.events || !options.quiet))
    {
        std::FILE* out = request.events ? stderr : stdout;
        std::fputs(report.c_str(), out);
        std::fflush(out);
    }
    CTransferLog log;
    std::string logError;
    if (!options.logPath.empty() && log.Open(options.logPath, logError))
        log.Write("kavdm " + what + ": read-back " + ReadBackResultName(check) + (reason.empty() ? "" : ": " + reason) +
                  (report.empty() ? "" : "\n" + report));
    return result;
}
