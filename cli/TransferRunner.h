// Runs one page-driven transfer from the command line: `kavdm download` and
// `kavdm upload` share it. It maps the --port value to a COM number, starts the
// protocol thread, creates and initialises the page on it, lets the caller
// prepare the page (Browse), and then waits - the command line's main thread is
// no window thread, so it may - until the page reports the transfer's end, the
// receiver stays silent for the --wait time (before or during the transfer), or
// SIGINT, SIGTERM, SIGHUP or SIGQUIT arrives.
// The page is deleted on the protocol thread, which closes the port. The
// ending signals stay blocked once Run has begun, so the caller's last words
// are said before a later signal could end the process.
#pragma once

#include "ui/TransferEnd.h"

#include <functional>
#include <optional>
#include <string>

class CInfoPage;
class CPageWindow;
class CDeliveryGate;

struct TransferOptions
{
    std::string port;                   // "COMn", a device path or "auto"; "" for the default (cli/PortChoice.h)
    int baudRate = 0;                   // the rate the receiver is asked to switch to; 0 for the default
    std::optional<double> waitSeconds;  // the longest silence of the receiver to wait through
    bool verbose = false;               // print the page's log lines
    bool quiet = false;                 // print errors only
    std::string logPath;                // --log FILE: append timestamped lines there
};

enum class TransferOutcome
{
    Completed,   // the transfer ended complete
    Failed,      // the page reset without completing
    NotStarted,  // the port would not open or the page could not serve a receiver (reported)
    NoPort,      // no port on the line, in the environment or the settings file (reported)
    TimedOut,    // the receiver was silent for the --wait time
    Interrupted, // SIGINT, SIGTERM, SIGHUP or SIGQUIT
};

// Maps "COMn" (any case, n >= 1) to n, and a device path to COM2 pointed at
// that path (SetPortDevice). Returns 0 and fills `error` for anything else,
// and for a COMn that no --comN or KAVDM_COMn maps while the settings file
// (whose [ports] may map it) cannot be read.
int ResolvePortArgument(const std::string& port, std::string& error);
// For the --port option's check: "" when `port` is COMn, a device path, a
// network port URL or "auto", else why not.
std::string CheckPortArgument(const std::string& port);
// For the --wait option's check: "" for a finite number of seconds above 0, else why not.
std::string CheckWaitSeconds(const std::string& text);

class CTransferRunner
{
public:
    using PageFactory = std::function<CInfoPage*(CPageWindow*, CDeliveryGate*)>;
    // Runs on the protocol thread after the page's initialisation: prepares it
    // (e.g. Browse). False when the page cannot serve a receiver; the run also
    // ends when the page's line is not open afterwards.
    using PageStart = std::function<bool(CInfoPage&)>;
    // Runs on the protocol thread just before the page is deleted.
    using PageEnd = std::function<void(CInfoPage&)>;

    // `what` names the transfer in messages ("download", "upload").
    explicit CTransferRunner(std::string what) : m_strWhat(std::move(what)) {}

    TransferOutcome Run(const TransferOptions& options, const PageFactory& makePage, const PageStart& start,
                        const PageEnd& end = {});
    // The signal that interrupted the run (0 if none).
    int Signal() const { return m_nSignal; }
    // How the transfer (or the wait for one) ended: the page's word, or the
    // runner's for a time-out or a signal. Reset when nothing ended.
    const TransferEnd& End() const { return m_end; }
    // The last line for a transfer that ended without completing ("the
    // transfer ended without completing: ..." with the reason); "" otherwise.
    std::string EndLine() const;

private:
    std::string m_strWhat;
    int m_nSignal = 0;
    bool m_bEnded = false;
    TransferEnd m_end;
};

// The outcome in words, for the log: "complete", "interrupted", ...
std::string OutcomeText(TransferOutcome outcome);
// The process exit code of an outcome: 0, 1, 2, 3, or 128 + the signal.
int ExitCodeFor(TransferOutcome outcome, int signal);
