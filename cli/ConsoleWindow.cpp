#include "cli/ConsoleWindow.h"

#include "cli/TransferLog.h"
#include "protocol/ProtocolThread.h"

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

namespace
{
// A box on a terminal does not wait for anyone's OK, but the steps after a box
// were written for a user who takes a moment: the reset after "Download
// Complete" purges the port's queues, and on a pseudo-terminal that discards
// bytes the far side has not read yet (the end message). This short pause
// stands for the OK.
constexpr auto kBoxSettleTime = std::chrono::milliseconds(20);

std::string MinutesSeconds(std::int64_t seconds)
{
    if (seconds < 0)
        seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

std::string Rate(double bytesPerSecond)
{
    char text[32];
    if (bytesPerSecond >= 1024.0)
        std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    return text;
}
} // namespace

CConsoleWindow::CConsoleWindow(const Options& options, CProtocolThread* thread)
    : m_options(options), m_pThread(thread)
{
}

CConsoleWindow::~CConsoleWindow()
{
    if (m_pThread)
        for (const auto& [id, threadTimer] : m_timers)
            m_pThread->StopTimer(threadTimer);
}

void CConsoleWindow::InsertLog(int id, const std::string& text)
{
    (void)id;
    Log(text);
    if (!m_options.verbose || m_options.quiet)
        return;
    EndProgressLine();
    Print("  " + text + "\n");
}

void CConsoleWindow::MessageBox(const std::string& text, BoxIcon icon)
{
    MessageBoxDetail(text, icon, "");
}

void CConsoleWindow::MessageBoxDetail(const std::string& text, BoxIcon icon, const std::string& detail)
{
    const char* label = icon == BoxIcon::Information ? "info" : icon == BoxIcon::Error ? "error" : "warning";
    std::string box = std::string(label) + ": " + text;
    std::istringstream lines(detail);
    for (std::string line; std::getline(lines, line);)
        box += "\n  " + line;
    Log(box);
    if ((m_bTransferEnded && !m_options.verbose) || (m_options.quiet && icon != BoxIcon::Error))
        return;
    EndProgressLine();
    Print(box + "\n");
    std::this_thread::sleep_for(kBoxSettleTime);
}

void CConsoleWindow::SetTimer(int id, int periodMs)
{
    if (!m_pThread)
        return;
    KillTimer(id);
    m_timers[id] = m_pThread->StartTimer(std::chrono::milliseconds(periodMs), [this, id] {
        if (onTimer)
            onTimer(id);
    });
}

void CConsoleWindow::KillTimer(int id)
{
    const auto it = m_timers.find(id);
    if (it == m_timers.end())
        return;
    if (m_pThread)
        m_pThread->StopTimer(it->second);
    m_timers.erase(it);
}

void CConsoleWindow::TransferStarted()
{
    m_started = std::chrono::steady_clock::now();
    m_nLastModule = 0;
    m_nLastDecile = -1;
    m_nLastLoggedDecile = -1;
    m_estimate = CProgressEstimate();
    Log("transfer started");
    if (onTransferStarted)
        onTransferStarted();
}

std::string CConsoleWindow::FormatProgress(const TransferProgress& p, double rateSeconds)
{
    const std::int64_t done = p.totalBytes > 0 ? std::min(p.bytesDone, p.totalBytes) : p.bytesDone;
    const int percent = p.totalBytes > 0 ? int(done * 100 / p.totalBytes) : 0;
    if (rateSeconds <= 0)
        rateSeconds = double(p.elapsedSeconds);
    const double rate = rateSeconds > 0 ? double(done) / rateSeconds : 0.0;
    char text[160];
    std::snprintf(text, sizeof text, "module %d  packet %d  %lld/%lld bytes (%d%%)  %s  %s / %s", p.module, p.packet,
                  static_cast<long long>(done), static_cast<long long>(p.totalBytes), percent,
                  rate > 0 ? Rate(rate).c_str() : "-", MinutesSeconds(p.elapsedSeconds).c_str(),
                  p.estimatedSeconds > 0 ? MinutesSeconds(p.estimatedSeconds).c_str() : "--:--");
    return text;
}

void CConsoleWindow::ShowProgress(const TransferProgress& progress)
{
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    // The page's own estimate works in whole seconds since the start; the
    // console shows the steadier one.
    TransferProgress shown = progress;
    const auto remaining = m_estimate.Update(seconds, progress.bytesDone, progress.totalBytes);
    shown.estimatedSeconds = remaining ? std::max<std::int64_t>(std::int64_t(seconds + *remaining + 0.5), 1) : 0;
    const std::string line = FormatProgress(shown, seconds);
    const int decile =
        progress.totalBytes > 0 ? int(std::min<std::int64_t>(progress.bytesDone * 10 / progress.totalBytes, 10)) : 0;
    if (decile != m_nLastLoggedDecile)
    {
        m_nLastLoggedDecile = decile;
        Log(line);
    }
    if (m_options.quiet)
        return;
    if (m_options.progressBar)
    {
        constexpr int kBarWidth = 24;
        const std::int64_t total = std::max<std::int64_t>(progress.totalBytes, 1);
        const int filled = int(std::min<std::int64_t>(progress.bytesDone, total) * kBarWidth / total);
        std::string bar(std::size_t(filled), '#');
        bar.resize(kBarWidth, '.');
        Print("\r[" + bar + "] " + line + "\x1b[K");
        m_bProgressShown = true;
        return;
    }
    // Plain lines: one when a module starts and one every tenth of the transfer.
    if (progress.module != m_nLastModule || decile != m_nLastDecile)
    {
        m_nLastModule = progress.module;
        m_nLastDecile = decile;
        Print(line + "\n");
    }
}

void CConsoleWindow::TransferEnded(const TransferEnd& end)
{
    EndProgressLine();
    m_bTransferEnded = true;
    Log(end.Completed() ? "transfer ended: complete" : "transfer ended without completing: " + DescribeTransferEnd(end));
    if (onTransferEnded)
        onTransferEnded(end);
}

void CConsoleWindow::Log(const std::string& text)
{
    if (m_options.log)
        m_options.log->Write(text);
}

void CConsoleWindow::EndProgressLine()
{
    if (m_bProgressShown)
    {
        Print("\n");
        m_bProgressShown = false;
    }
}

void CConsoleWindow::Print(const std::string& text)
{
    if (m_bOutputLost)
        return;
    if (std::fputs(text.c_str(), m_options.out) < 0 || std::fflush(m_options.out) != 0)
        m_bOutputLost = true;
}
