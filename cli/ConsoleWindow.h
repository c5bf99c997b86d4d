// The window layer of `kavdm`: a page drawn on the terminal. Message boxes are
// printed and the program goes on (the console has no one to press OK); log
// lines are printed with --verbose; a transfer's progress goes to stderr as a
// bar that redraws itself on a terminal, as plain lines otherwise; --quiet
// leaves only the error boxes. With --log, log lines, boxes, progress at each
// tenth and the end go to the log file too. Transfer milestones are handed to
// the runner through callbacks.
//
// Called on the protocol thread only; prints to the stream it was given, until
// a write there fails.
#pragma once

#include "cli/ProgressEstimate.h"
#include "ui/NullWindow.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>

class CProtocolThread;
class CTransferLog;

class CConsoleWindow : public CNullWindow
{
public:
    struct Options
    {
        bool verbose = false;      // print the page's log lines
        bool progressBar = false;  // redraw one progress line (a terminal) rather than print lines
        bool quiet = false;        // print error boxes only
        CTransferLog* log = nullptr; // --log FILE, when given
        std::FILE* out = stderr;
    };

    // Timer ticks become steps on `thread` that call `onTimer(id)`.
    CConsoleWindow(const Options& options, CProtocolThread* thread);
    ~CConsoleWindow() override;

    std::function<void(int)> onTimer;
    std::function<void()> onTransferStarted;
    std::function<void(const TransferEnd&)> onTransferEnded;

    // The controls are not drawn: only the log, the boxes and the progress show.
    void InsertLog(int id, const std::string& text) override;
    void MessageBox(const std::string& text, BoxIcon icon) override;
    void MessageBoxDetail(const std::string& text, BoxIcon icon, const std::string& detail) override;
    void SetTimer(int id, int periodMs) override;
    void KillTimer(int id) override;
    void TransferStarted() override;
    void ShowProgress(const TransferProgress& progress) override;
    void TransferEnded(const TransferEnd& end) override;
    // A command's run ends with its first transfer end or a lost port, and
    // closes the port then: the reset after either leaves the line closed.
    bool ReopensLineAfterReset(bool afterLoss) override { return !m_bTransferEnded && !afterLoss; }

    // The progress line: "module 2  packet 37  ...". The rate is worked out over
    // `rateSeconds` (finer than the page's whole seconds) when it is positive.
    static std::string FormatProgress(const TransferProgress& progress, double rateSeconds = 0);

private:
    void EndProgressLine();
    void Log(const std::string& text);
    // Writes to the output and flushes it. Once a write there fails (its
    // reader went away, a full disk) nothing more is printed: the transfer
    // and the log go on.
    void Print(const std::string& text);

    Options m_options;
    CProtocolThread* m_pThread;
    std::map<int, int> m_timers; // window timer id -> protocol thread timer id
    bool m_bProgressShown = false;
    bool m_bOutputLost = false;
    // Once the outcome is known the page's reset may still report (a receiver
    // that has gone closes its line): such boxes are printed with --verbose only.
    bool m_bTransferEnded = false;
    int m_nLastModule = 0;
    int m_nLastDecile = -1;
    int m_nLastLoggedDecile = -1;
    CProgressEstimate m_estimate;
    std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
};
