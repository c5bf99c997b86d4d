#include "cli/StationDisplay.h"

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace
{
constexpr std::size_t kDefaultWidth = 132;

std::size_t TerminalWidth()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return kDefaultWidth;
}

// The end of a long name, which tells ports apart ("...usb-0:2:1.0-port0").
std::string Tail(const std::string& text, std::size_t width)
{
    if (text.size() <= width)
        return text;
    return "..." + text.substr(text.size() - (width - 3));
}

std::string Clock(double seconds)
{
    if (seconds < 0)
        seconds = 0;
    const long whole = long(seconds + 0.5);
    char text[48];
    std::snprintf(text, sizeof text, "%02ld:%02ld", whole / 60, whole % 60);
    return text;
}

const char* PhaseName(StationPhase phase)
{
    switch (phase)
    {
    case StationPhase::Armed:
        return "starting";
    case StationPhase::Waiting:
        return "waiting";
    case StationPhase::Transfer:
        return "transfer";
    case StationPhase::Done:
        return "done";
    }
    return "";
}

// Port, identity, unit, phase, module, %, rate, elapsed, estimated total, last result.
constexpr const char* kRowFormat = "%-28s %-18s %4s  %-8s %-17s %4s %12s %6s %6s  %s";

std::string Cut(std::string text, std::size_t width)
{
    if (text.size() > width)
        text.resize(width);
    return text;
}
} // namespace

void CStationDisplay::Note(const StationLine& line, const std::string& text)
{
    if (m_bQuiet || m_bRows)
        return;
    m_err.Write(line.port.name + ": " + text + "\n");
}

std::string CStationDisplay::FormatRow(const StationLine& line, std::size_t width)
{
    const std::string identity = line.port.usbSerial.empty() ? (line.port.identity == line.port.name
                                                                    ? std::string()
                                                                    : Tail(line.port.identity, 18))
                                                             : line.port.usbSerial;
    std::string module = "-", percent = "-", rate = "-", elapsed = "-", estimate = "-";
    if (line.phase == StationPhase::Transfer)
    {
        module = std::to_string(line.module) + " " + line.moduleKind;
        if (line.bytesTotal > 0)
            percent = std::to_string(int(line.bytesDone * 100 / line.bytesTotal)) + "%";
        char text[32];
        std::snprintf(text, sizeof text, "%.1f KiB/s", line.rate / 1024.0);
        rate = text;
        elapsed = Clock(line.elapsed);
        estimate = line.estimate ? Clock(*line.estimate) : "--:--";
    }
    char row[512];
    std::snprintf(row, sizeof row, kRowFormat, Tail(line.port.name, 28).c_str(), identity.c_str(),
                  std::to_string(line.unit).c_str(), PhaseName(line.phase), module.c_str(), percent.c_str(),
                  rate.c_str(), elapsed.c_str(), estimate.c_str(), line.lastResult.c_str());
    return Cut(row, width);
}

std::string CStationDisplay::FormatHeader(std::size_t width)
{
    char row[256];
    std::snprintf(row, sizeof row, kRowFormat, "PORT", "IDENTITY", "UNIT", "PHASE", "MODULE", "%", "RATE", "TIME",
                  "TOTAL", "RESULT");
    return Cut(row, width);
}

std::string CStationDisplay::FormatSummaryRow(const std::vector<StationLine>& lines, std::size_t width)
{
    int complete = 0, failed = 0, timedOut = 0, active = 0;
    for (const auto& line : lines)
    {
        complete += line.complete;
        failed += line.failed;
        timedOut += line.timedOut;
        active += line.phase == StationPhase::Transfer ? 1 : 0;
    }
    char row[256];
    std::snprintf(row, sizeof row, "%zu ports, %d transferring: %d complete, %d failed, %d timed out", lines.size(),
                  active, complete, failed, timedOut);
    return Cut(row, width);
}

void CStationDisplay::Redraw(const std::vector<StationLine>& lines, bool force)
{
    if (!Rows())
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastDrawn < std::chrono::milliseconds(1000 / kRedrawPerSecond))
    {
        m_bPending = true;
        return;
    }
    m_bPending = false;
    m_lastDrawn = now;
    // One less than the width: a row that fills the last column wraps on some terminals.
    const std::size_t width = TerminalWidth() - 1;
    std::string text;
    if (m_nRowsDrawn > 0)
        text += "\x1b[" + std::to_string(m_nRowsDrawn) + "A";
    text += "\r" + FormatHeader(width) + "\x1b[K\n";
    for (const auto& line : lines)
        text += "\r" + FormatRow(line, width) + "\x1b[K\n";
    text += "\r" + FormatSummaryRow(lines, width) + "\x1b[K\n";
    m_nRowsDrawn = int(lines.size()) + 2;
    m_err.Write(std::move(text));
}

int CStationDisplay::MillisecondsToRedraw() const
{
    if (!Rows() || !m_bPending)
        return -1;
    const auto due = m_lastDrawn + std::chrono::milliseconds(1000 / kRedrawPerSecond);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : int(left.count()) + 1;
}

void CStationDisplay::Print(const std::string& text)
{
    m_err.Write(text);
}
