#include "receiver/SimulatedReceiver.h"

#include <sys/prctl.h>

#include <algorithm>

namespace
{
// The PC gets this long to read what the receiver sent last before a session's
// end is reported (the caller may close the line right after).
constexpr int kDrainTimeoutMs = 2000;
constexpr std::size_t kReadBufferBytes = 4096;

std::int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

CSimulatedReceiver::~CSimulatedReceiver()
{
    Stop();
}

void CSimulatedReceiver::SetLog(LogFunction log)
{
    std::lock_guard lock(m_mutex);
    m_log = std::move(log);
}

void CSimulatedReceiver::SetFinished(FinishedFunction finished)
{
    std::lock_guard lock(m_mutex);
    m_finished = std::move(finished);
}

bool CSimulatedReceiver::Start(std::string& slavePath, std::string& error)
{
    std::lock_guard lock(m_mutex);
    if (m_bRunning)
    {
        error = "the receiver is already started";
        return false;
    }
    if (!m_line.OpenPty(error))
        return false;
    m_strSlavePath = m_line.SlavePath();
    slavePath = m_strSlavePath;
    return StartThread();
}

bool CSimulatedReceiver::StartOnDevice(const std::string& path, std::string& error)
{
    std::lock_guard lock(m_mutex);
    if (m_bRunning)
    {
        error = "the receiver is already started";
        return false;
    }
    if (!m_line.OpenDevice(path, error))
        return false;
    m_strSlavePath = path;
    return StartThread();
}

bool CSimulatedReceiver::StartThread()
{
    m_bRunning = true;
    m_bStopRequested = false;
    m_line.ClearWake();
    m_thread = std::thread([this] { Run(); });
    return true;
}

void CSimulatedReceiver::Stop()
{
    // Two callers at once: the second waits until the first has closed the line.
    std::lock_guard stopping(m_stopMutex);
    {
        std::lock_guard lock(m_mutex);
        if (!m_bRunning)
            return;
        m_bStopRequested = true;
    }
    m_line.Wake();
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard lock(m_mutex);
    m_line.Close();
    m_bRunning = false;
    m_strSlavePath.clear();
    m_pendingOptions.reset();
    m_nEndedId = m_nStartedId;
    m_changed.notify_all();
}

std::string CSimulatedReceiver::SlavePath() const
{
    std::lock_guard lock(m_mutex);
    return m_strSlavePath;
}

bool CSimulatedReceiver::PowerOn(const ReceiverOptions& options, std::string& error)
{
    if (!ValidateReceiverOptions(options, error))
        return false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_bRunning || m_bStopRequested)
        {
            error = "the receiver's line is not started";
            return false;
        }
        if (m_nStartedId > std::max(m_nEndedId, m_nPowerOffUpTo))
        {
            error = "the receiver is already on";
            return false;
        }
        m_pendingOptions = options;
        m_nPendingId = ++m_nStartedId;
    }
    m_line.Wake();
    return true;
}

void CSimulatedReceiver::PowerOff()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_nStartedId <= std::max(m_nEndedId, m_nPowerOffUpTo))
            return;
        m_nPowerOffUpTo = m_nStartedId;
    }
    m_line.Wake();
}

bool CSimulatedReceiver::IsPoweredOn() const
{
    std::lock_guard lock(m_mutex);
    return m_nStartedId > std::max(m_nEndedId, m_nPowerOffUpTo);
}

void CSimulatedReceiver::KeepReceived(std::vector<ReceiverModule> memory)
{
    std::lock_guard lock(m_mutex);
    m_bKeepReceived = true;
    m_keptMemory = memory.empty() ? SyntheticMemory() : std::move(memory);
}

std::vector<ReceiverModule> CSimulatedReceiver::KeptMemory() const
{
    std::lock_guard lock(m_mutex);
    return m_keptMemory;
}

std::optional<ReceiverResult> CSimulatedReceiver::WaitForResult(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    if (m_nStartedId == 0)
        return std::nullopt;
    const bool bEnded = m_changed.wait_for(lock, timeout, [this] { return m_nEndedId == m_nStartedId; });
    if (!bEnded)
        return std::nullopt;
    return m_lastResult;
}

void CSimulatedReceiver::Log(const std::string& line)
{
    LogFunction log;
    {
        std::lock_guard lock(m_mutex);
        log = m_log;
    }
    if (log)
        log(line);
}

bool CSimulatedReceiver::StopOrPowerOffRequested(int nSessionId)
{
    std::lock_guard lock(m_mutex);
    return m_bStopRequested || nSessionId <= m_nPowerOffUpTo;
}

bool CSimulatedReceiver::RunActions(CReceiverEngine& engine, int nSessionId, int stallTimeoutMs,
                                    std::string& failure)
{
    for (const auto& action : engine.TakeActions())
    {
        switch (action.kind)
        {
        case ReceiverAction::Kind::Send:
        {
            std::size_t done = 0;
            while (done < action.bytes.size())
            {
                std::size_t written = 0;
                const auto result =
                    m_line.Write(action.bytes.data() + done, action.bytes.size() - done, stallTimeoutMs, written);
                done += written;
                if (result == CReceiverLine::Result::Failed)
                {
                    failure = m_line.LastError();
                    return false;
                }
                if (result == CReceiverLine::Result::Woken)
                {
                    if (StopOrPowerOffRequested(nSessionId))
                        return false;
                    m_line.ClearWake();
                }
            }
            break;
        }
        case ReceiverAction::Kind::Pause:
        {
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(action.nMilliseconds);
            while (true)
            {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      until - std::chrono::steady_clock::now())
                                      .count();
                if (left <= 0 || m_line.Pause(int(left)) == CReceiverLine::Result::Ok)
                    break;
                if (StopOrPowerOffRequested(nSessionId))
                    return false;
                m_line.ClearWake();
            }
            break;
        }
        case ReceiverAction::Kind::SetRate:
            m_line.SetRate(action.nBaudRate);
            if (m_bCheckLineRate)
            {
                const int seen = m_line.WaitForPeerRate(action.nBaudRate, kLineRateWaitMs);
                if (seen != action.nBaudRate)
                {
                    failure = "the PC's line stayed at " + std::to_string(seen) + " baud after the switch to " +
                              std::to_string(action.nBaudRate);
                    return false;
                }
                Log("the PC's line followed to " + std::to_string(seen) + " baud");
            }
            break;
        }
    }
    return true;
}

void CSimulatedReceiver::EndSession(int nSessionId, std::unique_ptr<CReceiverEngine>& engine,
                                    const ReceiverOptions& options, bool bSucceeded, const std::string& text)
{
    ReceiverResult result;
    result.bSucceeded = bSucceeded;
    result.strText = text;
    if (engine)
        result.modules = engine->ReceivedModules();
    engine.reset();
    if (result.bSucceeded && !options.strSavePath.empty())
    {
        std::string error;
        if (SaveBinImage(options.strSavePath, result.modules, error))
        {
            result.strText += "; saved to " + options.strSavePath;
        }
        else
        {
            result.bSucceeded = false;
            result.strText += "; but " + error;
        }
    }
    if (result.bSucceeded && options.role == ReceiverRole::Download)
    {
        std::lock_guard lock(m_mutex);
        if (m_bKeepReceived)
        {
            StoreReceivedModules(m_keptMemory, result.modules);
            const auto nData = std::count_if(result.modules.begin(), result.modules.end(),
                                             [](const ReceiverModule& module) { return module.header.firmware() == 0; });
            result.strText += "; kept " + std::to_string(nData) + " data module(s) for the next upload";
        }
    }
    Log(result.strText);
    FinishedFunction finished;
    {
        std::lock_guard lock(m_mutex);
        m_nEndedId = std::max(m_nEndedId, nSessionId);
        m_lastResult = result;
        finished = m_finished;
    }
    if (finished)
        finished(result);
    std::lock_guard lock(m_mutex);
    m_changed.notify_all();
}

void CSimulatedReceiver::Run()
{
    // A paced line's byte times are 87 us at 115200 baud: a timer that may
    // fire 50 us late (a normal thread's default) would slow the simulated line.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::vector<std::uint8_t> buffer(kReadBufferBytes);
    std::unique_ptr<CReceiverEngine> engine;
    int nSessionId = 0;
    ReceiverOptions options;
    bool bLineFailed = false;
    while (true)
    {
        m_line.ClearWake();
        bool bStop = false;
        int nPowerOffUpTo = 0;
        std::optional<ReceiverOptions> pending;
        int nPendingId = 0;
        {
            std::lock_guard lock(m_mutex);
            bStop = m_bStopRequested;
            nPowerOffUpTo = m_nPowerOffUpTo;
            // A session waiting to begin is taken once none runs (or to be dropped).
            if (m_pendingOptions && (!engine || bStop || m_nPendingId <= nPowerOffUpTo))
            {
                pending.swap(m_pendingOptions);
                nPendingId = m_nPendingId;
            }
        }
        bool bEnded = false;
        if (engine && (bStop || nSessionId <= nPowerOffUpTo))
        {
            EndSession(nSessionId, engine, options, false, bStop ? "stopped" : "powered off");
            bEnded = true;
        }
        if (pending && (bStop || nPendingId <= nPowerOffUpTo))
        {
            std::unique_ptr<CReceiverEngine> none;
            EndSession(nPendingId, none, *pending, false, bStop ? "stopped" : "powered off");
            pending.reset();
        }
        if (bStop)
            return;
        if (bEnded && !pending)
            continue; // a session powered on meanwhile begins now
        if (pending)
        {
            options = *pending;
            nSessionId = nPendingId;
            {
                std::lock_guard lock(m_mutex);
                if (m_bKeepReceived && options.role == ReceiverRole::Upload && options.memory.empty())
                    options.memory = m_keptMemory;
            }
            if (bLineFailed)
            {
                EndSession(nSessionId, engine, options, false, "the line failed: " + m_line.LastError());
                continue;
            }
            // Whatever the PC sent while the receiver was off is not for this session.
            m_line.DiscardInput();
            m_line.SetRate(9600);
            m_line.SetPace(options.bPace, options.nPaceBaud);
            m_bCheckLineRate = options.bCheckLineRate;
            engine = MakeReceiverEngine(options);
            engine->SetLog([this](const std::string& line) { Log(line); });
            Log(std::string("power on (") + (options.role == ReceiverRole::Download ? "download" : "upload") +
                " role)");
            engine->Start(NowMs());
        }

        int timeoutMs = -1;
        if (engine)
        {
            std::string failure;
            if (!RunActions(*engine, nSessionId, options.nSilenceTimeoutMs, failure))
            {
                if (!failure.empty())
                    EndSession(nSessionId, engine, options, false, "the line failed: " + failure);
                continue;
            }
            if (engine->IsFinished())
            {
                m_line.DrainToPeer(kDrainTimeoutMs);
                EndSession(nSessionId, engine, options, engine->Succeeded(), engine->ResultText());
                continue;
            }
            timeoutMs = int(std::clamp<std::int64_t>(engine->Deadline() - NowMs(), 0, 1000));
        }
        if (bLineFailed)
        {
            // A device that failed is left alone until the receiver is stopped.
            m_line.Pause(1000);
            continue;
        }
        std::size_t length = 0;
        const auto result = m_line.Read(buffer.data(), buffer.size(), timeoutMs, length);
        if (result == CReceiverLine::Result::Failed)
        {
            bLineFailed = true;
            if (engine)
                EndSession(nSessionId, engine, options, false, "the line failed: " + m_line.LastError());
            continue;
        }
        if (result == CReceiverLine::Result::Ok && length > 0)
        {
            if (engine)
                engine->OnReceive(buffer.data(), length, NowMs());
            else
                Log("powered off: ignored " + HexBytes(buffer.data(), length));
        }
        if (engine && NowMs() >= engine->Deadline())
            engine->OnTick(NowMs());
    }
}

int CSimulatedReceiver::WaitForLineRate(int baudRate, int timeoutMs) const
{
    return m_line.WaitForPeerRate(baudRate, timeoutMs);
}
