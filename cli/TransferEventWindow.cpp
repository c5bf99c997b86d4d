#include "cli/TransferEventWindow.h"

#include "cli/TransferRunner.h"
#include "image/ModuleKind.h"
#include "serial/PortNames.h"
#include "ui/LinkSettings.h"

#include <cmath>

namespace
{
const char* IconName(BoxIcon icon)
{
    switch (icon)
    {
    case BoxIcon::Information:
        return "information";
    case BoxIcon::Error:
        return "error";
    case BoxIcon::Exclamation:
        return "warning";
    }
    return "information";
}

// To `digits` decimals, divided last so the figure prints as short as it reads.
double Rounded(double value, int digits)
{
    const double scale = std::pow(10.0, digits);
    return std::round(value * scale) / scale;
}
} // namespace

void CTransferEventWindow::Waiting(const std::string& givenPort, const char* event)
{
    const std::string device = PortDevicePath(theLinkSettings.portIndex + 1);
    const std::string port = givenPort.empty() || givenPort == "auto" ? device : givenPort;
    m_events.Emit(event, {{"port", port}, {"device", device}, {"baud", theLinkSettings.selectedBaudRate}});
}

void CTransferEventWindow::InsertLog(int id, const std::string& text)
{
    if (m_bVerbose)
        m_events.Emit("log", {{"text", text}});
    m_pInner->InsertLog(id, text);
}

void CTransferEventWindow::MessageBox(const std::string& text, BoxIcon icon)
{
    MessageBoxDetail(text, icon, "");
}

void CTransferEventWindow::MessageBoxDetail(const std::string& text, BoxIcon icon, const std::string& detail)
{
    if (icon == BoxIcon::Error)
    {
        std::lock_guard lock(m_mutex);
        m_strLastError = text;
    }
    m_events.Emit("box", {{"icon", IconName(icon)}, {"text", text}, {"detail", detail}});
    m_pInner->MessageBoxDetail(text, icon, detail);
}

void CTransferEventWindow::TransferStarted()
{
    {
        std::lock_guard lock(m_mutex);
        m_bStarted = true;
        m_started = Clock::now();
        m_nBytes = 0;
    }
    m_nModule = 0;
    m_estimate = CProgressEstimate();
    m_events.Emit("started");
    m_pInner->TransferStarted();
}

void CTransferEventWindow::ShowProgress(const TransferProgress& progress)
{
    const auto now = Clock::now();
    double seconds = 0;
    {
        std::lock_guard lock(m_mutex);
        m_nBytes = progress.bytesDone;
        seconds = std::chrono::duration<double>(now - m_started).count();
    }
    const auto remaining = m_estimate.Update(seconds, progress.bytesDone, progress.totalBytes);
    // The module's header is the program-wide one at this point: the page has
    // just read (download) or received (upload) it.
    const bool newModule = progress.module != m_nModule;
    if (newModule)
    {
        m_nModule = progress.module;
        m_events.Emit("module", {{"index", progress.module},
                                 {"kind", std::string(ModuleKindName(ModuleKindOf(theModuleHeader)))},
                                 {"bytes", ModuleDataLength(theModuleHeader)}});
    }
    const bool last = progress.totalBytes > 0 && progress.bytesDone >= progress.totalBytes;
    if (newModule || last || now - m_lastProgress >= std::chrono::milliseconds(1000 / kProgressPerSecond))
    {
        m_lastProgress = now;
        nlohmann::ordered_json fields = {{"module", progress.module},
                                         {"packet", progress.packet},
                                         {"bytes_done", progress.bytesDone},
                                         {"bytes_total", progress.totalBytes},
                                         {"elapsed", Rounded(seconds, 3)},
                                         {"estimate", nullptr},
                                         {"rate", seconds > 0 ? std::round(double(progress.bytesDone) / seconds) : 0.0}};
        if (remaining)
            fields["estimate"] = Rounded(seconds + *remaining, 1);
        m_events.Emit("progress", fields);
    }
    m_pInner->ShowProgress(progress);
}

void CTransferEventWindow::TransferEnded(const TransferEnd& end)
{
    m_pInner->TransferEnded(end);
}

TransferEnd CTransferEventWindow::EndOf(TransferOutcome outcome, const TransferEnd& runnerEnd) const
{
    if (outcome != TransferOutcome::NotStarted && outcome != TransferOutcome::NoPort)
        return runnerEnd;
    std::lock_guard lock(m_mutex);
    return {m_refusal.value_or(TransferEndKind::PortLost), m_strLastError.empty() ? OutcomeText(outcome) : m_strLastError};
}

void CTransferEventWindow::Ended(const TransferEnd& end, int exitCode, const nlohmann::ordered_json& files)
{
    double seconds = 0;
    std::int64_t bytes = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_bStarted)
            seconds = std::chrono::duration<double>(Clock::now() - m_started).count();
        bytes = m_nBytes;
    }
    nlohmann::ordered_json fields = {{"result", TransferEndKindName(end.kind)},
                                     {"reason", end.Completed() ? std::string() : DescribeTransferEnd(end)},
                                     {"exit_code", exitCode},
                                     {"bytes", bytes},
                                     {"seconds", Rounded(seconds, 3)}};
    for (const auto& [key, value] : files.items())
        fields[key] = value;
    m_events.Emit("ended", fields);
    m_events.Flush();
}
