#include "cli/TransferRunner.h"

#include "cli/Commands.h"
#include "cli/ConsoleWindow.h"
#include "cli/HeardGate.h"
#include "cli/PortChoice.h"
#include "cli/SilenceWatch.h"
#include "cli/TransferLog.h"
#include "protocol/ProtocolThread.h"
#include "serial/NetworkLineUrl.h"
#include "serial/PortNames.h"
#include "serial/SettingsFile.h"
#include "ui/InfoPage.h"
#include "ui/LinkSettings.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <unistd.h>

namespace
{
constexpr int kPathPortNumber = 2; // a device path given as --port becomes COM2
// How often the waiting thread looks at the transfer's state between signals.
constexpr auto kSignalPoll = std::chrono::milliseconds(50);

// The signals that end a run as Ctrl-C does. One the caller set to be ignored
// (nohup, a background job of a script) stays ignored.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// What the page reports, read by the waiting main thread.
struct CRunState
{
    std::mutex mutex;
    bool started = false;
    std::optional<TransferEnd> ended;
};
} // namespace

namespace
{
// The COM number a "COMn" argument names, 0 if it is none; -1 when it is not of that form.
int ComNumber(const std::string& port)
{
    if (port.size() <= 3 || std::toupper(static_cast<unsigned char>(port[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(port[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(port[2])) != 'M')
        return -1;
    const std::string digits = port.substr(3);
    if (digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::stoi(digits);
}
} // namespace

std::string CheckPortArgument(const std::string& port)
{
    const int number = ComNumber(port);
    if (number > 0 || (number < 0 && !port.empty() && port[0] == '/'))
        return "";
    if (port == "auto")
        return "";
    if (IsNetworkLineUrl(port))
    {
        NetworkLineUrl url;
        std::string error;
        return ParseNetworkLineUrl(port, url, error) ? "" : error;
    }
    return "not a port: \"" + port +
           "\" (use COM1, COM2, ..., a device path such as /dev/ttyUSB0, rfc2217://HOST:PORT, tcp://HOST:PORT or auto)";
}

std::string CheckWaitSeconds(const std::string& text)
{
    // Seconds are counted as a double, so a large value waits that long instead
    // of overflowing a clock's count.
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || end == text.c_str() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0)
        return "not a time to wait: \"" + text + "\" (give a number of seconds greater than 0)";
    return "";
}

int ResolvePortArgument(const std::string& port, std::string& error)
{
    error = CheckPortArgument(port);
    if (!error.empty())
        return 0;
    const int number = ComNumber(port);
    if (number > 0)
    {
        // The settings file may map the number to another device: one that
        // cannot be read must not leave the default device in its place.
        CSettingsFile settings;
        if (!IsPortMapped(number) && !settings.Load(CSettingsFile::DefaultPath()))
        {
            error = settings.LastError() + " (it may map " + port + " to a device)";
            return 0;
        }
        return number;
    }
    SetPortDevice(kPathPortNumber, port);
    return kPathPortNumber;
}

std::string OutcomeText(TransferOutcome outcome)
{
    switch (outcome)
    {
    case TransferOutcome::Completed:
        return "complete";
    case TransferOutcome::Failed:
        return "ended without completing";
    case TransferOutcome::NotStarted:
        return "not started";
    case TransferOutcome::NoPort:
        return "no port";
    case TransferOutcome::TimedOut:
        return "the receiver did not start in time";
    case TransferOutcome::Interrupted:
        return "interrupted";
    }
    return "unknown";
}

int ExitCodeFor(TransferOutcome outcome, int signal)
{
    switch (outcome)
    {
    case TransferOutcome::Completed:
        return kExitOk;
    case TransferOutcome::TimedOut:
        return kExitTimedOut;
    case TransferOutcome::NoPort:
        return kExitUsage;
    case TransferOutcome::Interrupted:
        return 128 + signal;
    case TransferOutcome::Failed:
    case TransferOutcome::NotStarted:
        break;
    }
    return kExitFailed;
}

TransferOutcome CTransferRunner::Run(const TransferOptions& options, const PageFactory& makePage,
                                     const PageStart& start, const PageEnd& end)
{
    // No port anywhere, or a rate the settings file gets wrong, is a usage error.
    std::string error;
    std::string port = ChoosePort(options.port, error);
    const int baudRate = port.empty() ? 0 : ChooseBaud(options.baudRate, error);
    if (baudRate == 0)
    {
        std::fprintf(stderr, "kavdm %s: %s\n", m_strWhat.c_str(), error.c_str());
        return TransferOutcome::NoPort;
    }
    if (port == "auto")
        port = AutoPort(ListSerialDevices(), error);
    const int portNumber = port.empty() ? 0 : ResolvePortArgument(port, error);
    CTransferLog log("kavdm " + m_strWhat);
    if (portNumber == 0 || (!options.logPath.empty() && !log.Open(options.logPath, error)))
    {
        std::fprintf(stderr, "kavdm %s: %s\n", m_strWhat.c_str(), error.c_str());
        return TransferOutcome::NotStarted;
    }

    // A closed standard output or error (`2>&1 | head -1`) must not end the
    // transfer: writes there fail instead, the console stops printing, and
    // the transfer and its result go on.
    std::signal(SIGPIPE, SIG_IGN);

    // Signals are taken by this thread alone: block them before any thread
    // starts. They stay blocked after the run: once an end has begun (the
    // first signal, or the transfer's own end), a later signal waits for it -
    // the port closed, an upload's data kept and said - and the exit status
    // is that of the first.
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : kEndingSignals)
    {
        struct sigaction current{};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            sigaddset(&signals, signal);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    CRunState state;
    CProtocolThread thread;
    CHeardGate heard(thread);
    CConsoleWindow::Options windowOptions;
    windowOptions.verbose = options.verbose;
    windowOptions.progressBar = isatty(STDERR_FILENO) != 0;
    windowOptions.quiet = options.quiet;
    windowOptions.log = &log;
    CConsoleWindow window(windowOptions, &thread);
    window.onTransferStarted = [&state] {
        std::lock_guard lock(state.mutex);
        state.started = true;
    };
    window.onTransferEnded = [&state](const TransferEnd& end) {
        std::lock_guard lock(state.mutex);
        if (!state.ended)
            state.ended = end;
    };

    CInfoPage* page = nullptr;
    bool ready = false;
    thread.RunDelivery([&] {
        theLinkSettings = kInitialLinkSettings;
        theLinkSettings.portIndex = portNumber - 1;
        page = makePage(&window, &heard);
        window.onTimer = [page](int id) { page->OnTimer(id); };
        page->OnInitDialog();
        page->OnActivatePage();
        page->SetBaudRate(baudRate);
        // A port that would not open was reported by the page; nothing can come.
        ready = start(*page) && page->Line().IsOpen();
    });

    TransferOutcome outcome = TransferOutcome::NotStarted;
    if (ready)
    {
        const std::string waiting = "kavdm " + m_strWhat + ": waiting for the receiver on " + PortName(portNumber) +
                                    " (" + PortDevicePath(portNumber) + ") at " + std::to_string(baudRate) + " baud";
        log.Write(waiting);
        if (!options.quiet)
            std::fprintf(stderr, "%s\n", waiting.c_str());
        heard.Stamp();
        std::optional<CSilenceWatch> silence;
        if (options.waitSeconds)
            silence.emplace(*options.waitSeconds);
        for (;;)
        {
            {
                std::lock_guard lock(state.mutex);
                if (state.ended)
                {
                    m_end = *state.ended;
                    m_bEnded = true;
                    outcome = m_end.Completed() ? TransferOutcome::Completed : TransferOutcome::Failed;
                    break;
                }
                // --wait bounds every silence of the receiver, not just the start.
                if (silence && silence->IsOver(heard.SilentSeconds()))
                {
                    outcome = TransferOutcome::TimedOut;
                    char seconds[32];
                    std::snprintf(seconds, sizeof seconds, "%g", *options.waitSeconds);
                    m_end = TransferEnd{TransferEndKind::TimedOut,
                                        state.started ? std::string(seconds) + " seconds in the middle of the transfer"
                                                      : "it did not start within " + std::string(seconds) + " seconds"};
                    std::fprintf(stderr,
                                 state.started ? "\nkavdm %s: the receiver was silent for %g seconds\n"
                                               : "kavdm %s: the receiver did not start within %g seconds\n",
                                 m_strWhat.c_str(), *options.waitSeconds);
                    break;
                }
            }
            // Waiting for the signals themselves takes each as it comes, so a
            // second one just after the first cannot pass for the first.
            const timespec poll{0, std::chrono::duration_cast<std::chrono::nanoseconds>(kSignalPoll).count()};
            const int signal = sigtimedwait(&signals, nullptr, &poll);
            if (signal > 0)
            {
                m_nSignal = signal;
                outcome = TransferOutcome::Interrupted;
                m_end = TransferEnd{TransferEndKind::Interrupted, std::string("signal SIG") + sigabbrev_np(signal)};
                std::fprintf(stderr, "\nkavdm %s: interrupted, closing the port\n", m_strWhat.c_str());
                break;
            }
        }
    }

    // The page goes on the protocol thread, taking the port with it.
    thread.RunDelivery([&] {
        window.onTimer = nullptr;
        // The runner's own ends reach the window and the log as the page's do.
        if (outcome == TransferOutcome::TimedOut || outcome == TransferOutcome::Interrupted)
        {
            m_bEnded = true;
            window.TransferEnded(m_end);
        }
        if (page && end)
            end(*page);
        delete page; // its port goes with it
    });
    thread.Stop();
    log.Write("kavdm " + m_strWhat + ": result: " + OutcomeText(outcome));
    log.Close();
    return outcome;
}

std::string CTransferRunner::EndLine() const
{
    if (!m_bEnded || m_end.Completed())
        return {};
    return "the transfer ended without completing: " + DescribeTransferEnd(m_end);
}

void AddTransferOptions(CLI::App* command, TransferOptions& transfer, double& waitSeconds, const std::string& baudHelp)
{
    command->add_option("-p,--port", transfer.port,
                        "COMn, a serial device path or network URL (mapped to COM2) or auto (the one USB serial adapter); "
                        "default: KAVDM_PORT, then port= in the settings file")
        ->type_name("DEV")
        ->check(CheckPortArgument, "COMn, a device path, a network URL or auto");
    command->add_option("-b,--baud", transfer.baudRate, baudHelp + " (default: baud= in the settings file, else 9600)")
        ->check(CLI::IsMember({9600, 19200, 38400, 57600, 115200}));
    command->add_option("-w,--wait", waitSeconds,
                        "give up (exit 3) when the receiver stays silent that long, before or during "
                        "the transfer")
        ->check(CheckWaitSeconds, "SECONDS > 0")
        ->type_name("SECONDS");
    auto* verbose = command->add_flag("-v,--verbose", transfer.verbose, "print the page's log lines");
    command->add_flag("-q,--quiet", transfer.quiet, "print errors only (no progress)")->excludes(verbose);
    command->add_option("--log", transfer.logPath,
                        "append timestamped log lines, progress at each tenth and the result to FILE")
        ->type_name("FILE");
    command->footer("Settings file: $XDG_CONFIG_HOME/kavdm/kavdm.conf (~/.config/kavdm/kavdm.conf), "
                    "[General] port= and baud=, [ports] com1= ...\n"
                    "Exit status: 0 complete, 1 failed or reset without completing, 2 usage, 3 --wait passed, "
                    "128+N on signal N.");
}
