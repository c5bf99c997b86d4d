// A simulated receiver running on a thread of its own, for `kavdm receiver`, the
// tests and the GUI's demo mode. Start() opens the line (a pseudo-terminal whose
// slave the PC opens, or a device); the receiver is then powered off and ignores
// what arrives. PowerOn() starts one session in a role (download or upload) with
// its options and faults; the session ends on its own (complete or failed), or
// with PowerOff() or Stop(). Sessions can follow one another on the same line.
// Told to keep what it receives (KeepReceived), the receiver holds a memory
// across sessions, as a real one does: a download writes into it, an upload
// reads it back.
//
// All member functions are thread-safe. The callbacks run on the receiver's
// thread: a GUI must hand them over to its own thread (a queued call) and must
// not call Stop() from inside them.
#pragma once

#include "receiver/ReceiverEngine.h"
#include "receiver/ReceiverLine.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

struct ReceiverResult
{
    bool bSucceeded = false;
    std::string strText;                  // what happened, one line
    std::vector<ReceiverModule> modules;  // download role: the modules received
};

class CSimulatedReceiver
{
public:
    using LogFunction = std::function<void(const std::string&)>;
    using FinishedFunction = std::function<void(const ReceiverResult&)>;

    CSimulatedReceiver() = default;
    ~CSimulatedReceiver();
    CSimulatedReceiver(const CSimulatedReceiver&) = delete;
    CSimulatedReceiver& operator=(const CSimulatedReceiver&) = delete;

    // Progress lines and the end of each session; may be set at any time.
    void SetLog(LogFunction log);
    void SetFinished(FinishedFunction finished);

    // Opens a pseudo-terminal and starts the thread; `slavePath` is the device
    // for the PC. False with the reason in `error`.
    bool Start(std::string& slavePath, std::string& error);
    // The same on a serial device.
    bool StartOnDevice(const std::string& path, std::string& error);
    // Ends the session and the thread promptly and closes the line.
    void Stop();
    std::string SlavePath() const;

    // Powers the receiver on: a session begins with `options`. False (and the
    // reason) when the options do not fit together, the line is not started, or
    // the receiver is on. Right after PowerOff() it may be called at once: the
    // new session begins as soon as the old one has ended.
    bool PowerOn(const ReceiverOptions& options, std::string& error);
    // Ends the running session (its result says "powered off"). Returns at once;
    // the session ends promptly. A session powered on and off again before it
    // began is dropped; only the last one powered on reports.
    void PowerOff();
    // On from PowerOn() until the session ends or PowerOff() is called.
    bool IsPoweredOn() const;

    // From now on a complete download's data modules replace the modules of their kinds in the
    // receiver's memory (StoreReceivedModules), and an upload session given no memory of its own
    // serves that memory. It starts as `memory`, or SyntheticMemory() when that is empty.
    void KeepReceived(std::vector<ReceiverModule> memory = {});
    // The memory kept now; empty when the receiver does not keep what it receives.
    std::vector<ReceiverModule> KeptMemory() const;

    // Waits for the result of the session started last; nothing when it has not
    // ended within `timeout` or no session was started.
    std::optional<ReceiverResult> WaitForResult(std::chrono::milliseconds timeout);
    // A pseudo-terminal: waits up to `timeoutMs` for the PC's end to be set to
    // `baudRate`; the rate it is set to then (0 if not a common one).
    int WaitForLineRate(int baudRate, int timeoutMs) const;
    static constexpr int kLineRateWaitMs = 2000;

private:
    bool StartThread();
    void Run();
    // Carries out the engine's actions; false when a power-off or stop cut them
    // short or the line failed (`failure` then says why).
    bool m_bCheckLineRate = false; // receiver thread only
    bool RunActions(CReceiverEngine& engine, int nSessionId, int stallTimeoutMs, std::string& failure);
    bool StopOrPowerOffRequested(int nSessionId);
    void EndSession(int nSessionId, std::unique_ptr<CReceiverEngine>& engine, const ReceiverOptions& options,
                    bool bSucceeded, const std::string& text);
    void Log(const std::string& line);

    CReceiverLine m_line;
    std::thread m_thread;
    std::mutex m_stopMutex;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    LogFunction m_log;
    FinishedFunction m_finished;
    std::string m_strSlavePath;
    bool m_bRunning = false;
    bool m_bStopRequested = false;
    // Sessions are numbered from 1 in the order PowerOn() accepted them; they
    // run one at a time in that order.
    int m_nStartedId = 0;
    int m_nEndedId = 0;
    int m_nPowerOffUpTo = 0; // PowerOff() ends every session up to this one
    std::optional<ReceiverOptions> m_pendingOptions;
    int m_nPendingId = 0;
    ReceiverResult m_lastResult;
    bool m_bKeepReceived = false;
    std::vector<ReceiverModule> m_keptMemory;
};
