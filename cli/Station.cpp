#include "cli/Station.h"

#include "Version.h"
#include "cli/Commands.h"
#include "cli/EventStream.h"
#include "cli/FileDigest.h"
#include "cli/StationDisplay.h"
#include "cli/StationSummary.h"
#include "cli/UnitReport.h"
#include "cli/UtcTime.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <poll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace
{
using SystemClock = std::chrono::system_clock;

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kRoundsPerSecond = 20; // rounds of reading the children's pipes

std::string HostName()
{
    char name[256] = {};
    return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}

std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", seconds);
    return text;
}

class CStation
{
public:
    CStation(const StationOptions& options, int signalFd)
        : m_options(options), m_signalFd(signalFd), m_err(STDERR_FILENO),
          m_display(m_err, isatty(STDERR_FILENO) != 0, options.quiet), m_strHost(HostName())
    {
        if (options.json)
            m_events.emplace(STDOUT_FILENO);
    }

    int Run();

private:
    void Arm(StationLine& line);
    void Serve(StationLine& line, bool reapDue);
    void OnEvent(StationLine& line, const std::string& text);
    void FinishUnit(StationLine& line);
    void Emit(const std::string& name, const nlohmann::ordered_json& fields)
    {
        if (m_events)
            m_events->Emit(name, fields);
    }
    std::vector<std::string> ChildArguments(const StationLine& line) const;
    bool TakeSignals(); // true when a SIGCHLD came

    const StationOptions& m_options;
    const int m_signalFd;
    CAsyncWriter m_err;
    std::optional<CEventStream> m_events;
    CStationDisplay m_display;
    CUnitReport m_report;
    std::vector<StationLine> m_lines;
    int m_nSignal = 0;
    const std::string m_strHost;
    const std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
};

std::vector<std::string> CStation::ChildArguments(const StationLine& line) const
{
    std::vector<std::string> argv = {m_options.program, m_options.direction,
                                     m_options.direction == "upload" ? line.output : m_options.file,
                                     "--json", "--port", line.port.name, m_options.verbose ? "-v" : "-q"};
    if (m_options.baud != 0)
        argv.insert(argv.end(), {"-b", std::to_string(m_options.baud)});
    if (m_options.waitSeconds)
        argv.insert(argv.end(), {"-w", Seconds(*m_options.waitSeconds)});
    if (!m_options.logDir.empty())
        argv.insert(argv.end(), {"--log", m_options.logDir + "/" + PortFileName(line.port.name) + ".log"});
    if (m_options.verify)
        argv.push_back("--verify");
    return argv;
}

void CStation::Arm(StationLine& line)
{
    ++line.unit;
    line.phase = StationPhase::Armed;
    line.armedAt = SystemClock::now();
    line.startedAt.reset();
    line.module = 0;
    line.moduleKind.clear();
    line.bytesDone = line.bytesTotal = 0;
    line.rate = line.elapsed = 0;
    line.estimate.reset();
    line.lastDecile = -1;
    line.endedLine.clear();
    if (m_options.direction == "upload")
        line.output = FillOutputTemplate(m_options.file, PortFileName(line.port.name), line.unit,
                                         CompactUtcTime(line.armedAt));
    Emit("armed", {{"port", line.port.name}, {"unit", line.unit}});
    line.child = std::make_unique<CStationChild>();
    std::string error;
    if (!line.child->Start(ChildArguments(line), error))
    {
        line.child.reset();
        line.phase = StationPhase::Done;
        line.failed += 1;
        line.failures.push_back("unit " + std::to_string(line.unit) + ": " + error);
        m_display.Note(line, error);
    }
}

void CStation::OnEvent(StationLine& line, const std::string& text)
{
    auto event = nlohmann::ordered_json::parse(text, nullptr, false);
    if (!event.is_object())
        return;
    if (m_events)
    {
        if (!event.contains("port"))
        {
            nlohmann::ordered_json tagged = {{"port", line.port.name}};
            for (auto& [key, value] : event.items())
                tagged[key] = value;
            event = std::move(tagged);
        }
        m_events->EmitLine(event.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
    }
    const std::string name = event.value("event", "");
    const std::string unit = "unit " + std::to_string(line.unit) + ": ";
    if (name == "waiting")
    {
        line.phase = StationPhase::Waiting;
        m_display.Note(line, unit + "waiting for the receiver at " + std::to_string(event.value("baud", 0)) + " baud");
    }
    else if (name == "started")
    {
        line.phase = StationPhase::Transfer;
        if (!line.startedAt) // a read-back's start is no new unit
            line.startedAt = SystemClock::now();
        m_display.Note(line, unit + "started");
    }
    else if (name == "readback")
    {
        line.phase = StationPhase::Waiting;
        m_display.Note(line, unit + "read-back: switch the receiver to standby and on again");
    }
    else if (name == "verify")
        m_display.Note(line, unit + "read-back " + event.value("result", "") +
                                 (event.value("reason", "").empty() ? "" : ": " + event.value("reason", "")));
    else if (name == "module")
    {
        line.module = event.value("index", 0);
        line.moduleKind = event.value("kind", "");
        m_display.Note(line, unit + "module " + std::to_string(line.module) + ", " + line.moduleKind + ", " +
                                 std::to_string(event.value("bytes", 0)) + " bytes");
    }
    else if (name == "progress")
    {
        line.bytesDone = event.value("bytes_done", std::int64_t(0));
        line.bytesTotal = event.value("bytes_total", std::int64_t(0));
        line.rate = event.value("rate", 0.0);
        line.elapsed = event.value("elapsed", 0.0);
        const auto& estimate = event["estimate"];
        line.estimate = estimate.is_number() ? std::optional<double>(estimate.get<double>()) : std::nullopt;
        // Plain lines: one at each quarter.
        const int quarter = line.bytesTotal > 0 ? int(line.bytesDone * 4 / line.bytesTotal) : 0;
        if (quarter > line.lastDecile)
        {
            if (line.lastDecile >= 0 && quarter < 4)
                m_display.Note(line, unit + std::to_string(quarter * 25) + "%");
            line.lastDecile = quarter;
        }
    }
    else if (name == "log")
        m_display.Note(line, unit + event.value("text", ""));
    else if (name == "box")
    {
        const std::string icon = event.value("icon", "");
        if (icon != "information" || m_options.verbose)
            m_display.Note(line, unit + (icon == "information" ? "info" : icon) + ": " + event.value("text", ""));
    }
    else if (name == "ended")
        line.endedLine = text;
    m_display.Redraw(m_lines);
}

void CStation::FinishUnit(StationLine& line)
{
    const CStationChild& child = *line.child;
    const auto ended = nlohmann::json::parse(line.endedLine, nullptr, false);
    UnitRecord record;
    if (ended.is_object())
    {
        record.result = ended.value("result", "");
        record.reason = ended.value("reason", "");
        record.bytes = ended.value("bytes", std::int64_t(0));
        record.seconds = ended.value("seconds", 0.0);
        const auto& file = ended.contains("image") ? ended["image"] : ended.value("output", nlohmann::json::object());
        record.file = file.value("path", "");
        record.fileSize = file.value("size", std::uint64_t(0));
        record.fileCrc32 = file.value("crc32", "");
        if (ended.contains("verified") && ended["verified"].is_boolean())
            record.verified = ended["verified"].get<bool>();
    }
    else
    {
        // The unit's kavdm ended without saying how (a crash, a usage error).
        record.result = child.TermSignal() != 0 ? "crashed" : "failed";
        record.reason = child.TermSignal() != 0 ? "kavdm ended by signal " + std::to_string(child.TermSignal()) + " (" +
                                                      strsignal(child.TermSignal()) + ")"
                                                : "kavdm exited with status " + std::to_string(child.ExitCode());
        if (!child.LastErrorLine().empty())
            record.reason += ": " + child.LastErrorLine();
        record.file = m_options.direction == "upload" ? line.output : m_options.file;
    }
    record.exitCode = child.ExitCode();
    const bool started = line.startedAt.has_value();
    line.child.reset();
    // A port still waiting when the station was stopped served no unit.
    if (record.result == "interrupted" && !started)
    {
        --line.unit;
        line.phase = StationPhase::Done;
        return;
    }

    record.unit = line.unit;
    record.start = IsoUtcTime(line.startedAt.value_or(line.armedAt));
    record.end = IsoUtcTime(SystemClock::now());
    record.port = line.port.name;
    record.identity = line.port.identity;
    record.byId = line.port.byId;
    record.usbSerial = line.port.usbSerial;
    record.direction = m_options.direction;
    record.baud = m_options.baud != 0 ? m_options.baud : 9600;
    record.host = m_strHost;
    record.version = kKavdmVersion;

    const bool reasonSaysMore = !record.reason.empty() && record.reason != record.result;
    const std::string said = record.result + (reasonSaysMore ? " (" + record.reason + ")" : "");
    if (record.result == "complete")
        ++line.complete;
    else
    {
        ++(record.result == "timed-out" ? line.timedOut : line.failed);
        line.failures.push_back("unit " + std::to_string(line.unit) + ": " + said);
    }
    line.lastResult = "unit " + std::to_string(line.unit) + " " + said;
    if (!m_options.reportPath.empty())
        m_report.Append(record);
    Emit("unit", UnitRecordJson(record));
    m_display.Note(line, "unit " + std::to_string(line.unit) + ": " + said);

    // A port that could not be used at all is not armed again: it would only fail again at once.
    const bool unusable = record.result != "complete" && !started && record.result != "timed-out";
    if (m_options.repeat && m_nSignal == 0 && !unusable &&
        (*m_options.repeat == 0 || line.Units() < *m_options.repeat))
        Arm(line);
    else
        line.phase = StationPhase::Done;
}

bool CStation::TakeSignals()
{
    bool child = false;
    signalfd_siginfo info{};
    while (::read(m_signalFd, &info, sizeof info) == ssize_t(sizeof info))
    {
        const int signal = int(info.ssi_signo);
        if (signal == SIGCHLD)
        {
            child = true;
            continue;
        }
        if (m_nSignal == 0)
        {
            m_nSignal = signal;
            m_display.Print(std::string("kavdm station: ") + strsignal(signal) +
                            ": ending every unit cleanly (ports closed, unfinished uploads kept as .partial)\n");
        }
        for (auto& line : m_lines)
            if (line.child)
                line.child->Signal(signal);
    }
    return child;
}

void CStation::Serve(StationLine& line, bool reapDue)
{
    if (!line.child)
        return;
    line.child->ReadOut([&](const std::string& text) { OnEvent(line, text); });
    line.child->ReadErr();
    if (reapDue || (line.child->OutFd() < 0 && line.child->ErrFd() < 0))
        line.child->TryReap();
    if (line.child->Done())
        FinishUnit(line);
}

int CStation::Run()
{
    if (!m_options.logDir.empty())
    {
        std::error_code error;
        std::filesystem::create_directories(m_options.logDir, error);
        if (error)
        {
            std::fprintf(stderr, "kavdm station: cannot make the log folder %s: %s\n", m_options.logDir.c_str(),
                         error.message().c_str());
            return kExitFailed;
        }
    }
    std::string error;
    if (!m_options.reportPath.empty() && !m_report.Open(m_options.reportPath, error))
    {
        std::fprintf(stderr, "kavdm station: %s\n", error.c_str());
        return kExitFailed;
    }

    m_lines.resize(m_options.ports.size());
    for (std::size_t i = 0; i < m_lines.size(); ++i)
        m_lines[i].port = m_options.ports[i];
    for (auto& line : m_lines)
        Arm(line);
    m_display.Redraw(m_lines, true);

    std::vector<pollfd> fds;
    std::vector<std::size_t> fdLine; // the line of each descriptor after the signals' one
    std::vector<bool> heard(m_lines.size());
    auto lastRound = std::chrono::steady_clock::now();
    for (;;)
    {
        fds.assign(1, pollfd{m_signalFd, POLLIN, 0});
        fdLine.assign(1, 0);
        bool running = false;
        for (std::size_t i = 0; i < m_lines.size(); ++i)
        {
            const auto& line = m_lines[i];
            if (!line.child)
                continue;
            running = true;
            for (const int fd : {line.child->OutFd(), line.child->ErrFd()})
                if (fd >= 0)
                {
                    fds.push_back({fd, POLLIN, 0});
                    fdLine.push_back(i);
                }
        }
        if (!running)
            break;
        // The children's events are taken in rounds at most kRoundsPerSecond a
        // second: with many lines each round then serves several events, and
        // the station's own share of a core stays small. A pipe holds far more
        // than a round's events, so no child waits for the station meanwhile.
        const auto roundDue = lastRound + std::chrono::milliseconds(1000 / kRoundsPerSecond);
        if (const auto now = std::chrono::steady_clock::now(); now < roundDue)
        {
            const auto pause = std::chrono::duration_cast<std::chrono::nanoseconds>(roundDue - now);
            const timespec wait{time_t(pause.count() / 1000000000), long(pause.count() % 1000000000)};
            ::nanosleep(&wait, nullptr);
        }
        if (::poll(fds.data(), fds.size(), m_display.MillisecondsToRedraw()) < 0 && errno != EINTR)
            break;
        lastRound = std::chrono::steady_clock::now();
        const bool reapDue = (fds[0].revents & POLLIN) != 0 && TakeSignals();
        heard.assign(m_lines.size(), false);
        for (std::size_t k = 1; k < fds.size(); ++k)
            if (fds[k].revents != 0)
                heard[fdLine[k]] = true;
        for (std::size_t i = 0; i < m_lines.size(); ++i)
            if (heard[i] || reapDue)
                Serve(m_lines[i], reapDue);
        m_display.Redraw(m_lines);
    }

    m_display.Redraw(m_lines, true);
    int code = kExitOk;
    for (const auto& line : m_lines)
        if (line.failed + line.timedOut > 0)
            code = kExitFailed;
    if (!m_report.Finish(error))
    {
        m_display.Print("kavdm station: " + error + "\n");
        code = kExitFailed;
    }
    if (m_nSignal != 0)
        code = 128 + m_nSignal;
    const std::string retry = RetryCommand(m_options, FailedPorts(m_lines));
    m_display.Print(SummaryText(m_lines, retry));
    auto summary = SummaryFields(m_lines, retry, code);
    // The station's own share, for the scale figures: its children are not counted.
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    summary["wall_seconds"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    summary["cpu_seconds"] = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                             double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    Emit("summary", summary);
    if (m_events)
        m_events->Flush();
    m_err.Flush(CAsyncWriter::kDrainTime);
    return code;
}
} // namespace

std::string FillOutputTemplate(const std::string& pattern, const std::string& port, int unit, const std::string& time)
{
    std::string text;
    for (std::size_t i = 0; i < pattern.size(); ++i)
    {
        if (pattern.compare(i, 6, "{port}") == 0)
        {
            text += port;
            i += 5;
        }
        else if (pattern.compare(i, 6, "{unit}") == 0)
        {
            text += std::to_string(unit);
            i += 5;
        }
        else if (pattern.compare(i, 6, "{time}") == 0)
        {
            text += time;
            i += 5;
        }
        else
            text += pattern[i];
    }
    return text;
}

std::string CheckOutputTemplate(const std::string& pattern, std::size_t ports, bool repeat)
{
    for (std::size_t open = pattern.find('{'); open != std::string::npos; open = pattern.find('{', open + 1))
    {
        const std::string field = pattern.substr(open, pattern.find('}', open) - open + 1);
        if (field != "{port}" && field != "{unit}" && field != "{time}")
            return "the output template knows {port}, {unit} and {time}, not " + field;
    }
    if (ports > 1 && pattern.find("{port}") == std::string::npos)
        return "the output template needs {port} for several ports, or each would write the same file";
    if (repeat && pattern.find("{unit}") == std::string::npos && pattern.find("{time}") == std::string::npos)
        return "the output template needs {unit} or {time} with --repeat, or each unit would write the same file";
    return "";
}

int RunStation(const StationOptions& options)
{
    // The signals are taken through a descriptor the loop polls: block them
    // before any thread starts, so that none of the writers' threads gets one.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGCHLD);
    for (const int signal : kEndingSignals)
    {
        struct sigaction current{};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            sigaddset(&signals, signal);
    }
    std::signal(SIGPIPE, SIG_IGN); // a closed stdout or stderr is a failed write, not the end
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &signals, &previous);
    const int signalFd = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd < 0)
    {
        std::fprintf(stderr, "kavdm station: signalfd: %s\n", std::strerror(errno));
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return kExitFailed;
    }
    int code = 0;
    {
        CStation station(options, signalFd);
        code = station.Run();
    }
    ::close(signalFd);
    return code;
}
