#include "receiver/ReceiverEngine.h"

#include "receiver/DownloadRole.h"
#include "receiver/UploadRole.h"

#include <cstdio>

bool ValidateReceiverOptions(const ReceiverOptions& options, std::string& error)
{
    if (options.nRate != kReceiverAnyRate && options.nRate != kReceiverNoRate && RateCodeFor(options.nRate) == 0)
    {
        error = "unsupported rate " + std::to_string(options.nRate) + " (9600, 19200, 38400, 57600 or 115200)";
        return false;
    }
    if (options.nPaceBaud != 0 && (options.nPaceBaud < 300 || options.nPaceBaud > 4000000))
    {
        error = "pace rate " + std::to_string(options.nPaceBaud) + " out of range (300 to 4000000 baud)";
        return false;
    }
    if (options.nSilenceTimeoutMs <= 0)
    {
        error = "the time-out must be positive";
        return false;
    }
    if (options.role == ReceiverRole::Upload && !options.strSavePath.empty())
    {
        error = "--save belongs to the download role (the receiver saves what it received)";
        return false;
    }
    if (options.role == ReceiverRole::Download && !options.memory.empty())
    {
        error = "--image belongs to the upload role (the memory the receiver sends)";
        return false;
    }
    for (const auto& fault : options.faults)
    {
        const bool bDownload = options.role == ReceiverRole::Download;
        if (bDownload ? !IsDownloadFault(fault.kind) : !IsUploadFault(fault.kind))
        {
            error = std::string("a fault of the ") + (bDownload ? "upload" : "download") +
                    " role was given for the " + (bDownload ? "download" : "upload") + " role";
            return false;
        }
    }
    return true;
}

std::string HexBytes(const std::uint8_t* data, std::size_t length, std::size_t maxBytes)
{
    std::string text;
    char hex[8];
    for (std::size_t i = 0; i < length && i < maxBytes; ++i)
    {
        std::snprintf(hex, sizeof hex, "%s0x%02x", i ? " " : "", data[i]);
        text += hex;
    }
    if (length > maxBytes)
        text += " ... (" + std::to_string(length) + " bytes)";
    return text;
}

CReceiverEngine::CReceiverEngine(const ReceiverOptions& options) : m_options(options), m_faults(options.faults)
{
}

const std::vector<ReceiverModule>& CReceiverEngine::ReceivedModules() const
{
    static const std::vector<ReceiverModule> kNone;
    return kNone;
}

void CReceiverEngine::Start(std::int64_t nowMs)
{
    m_nNowMs = nowMs;
    m_nLastHeardMs = nowMs;
    if (m_options.nRate == kReceiverNoRate)
    {
        AnnounceReady();
        return;
    }
    Log("power on: asking for the rate (0xDC)");
    Send({VR520_RATE});
    m_phase = Phase::WaitRateCode;
    m_nAnnounceDeadline = m_nNowMs + kAnnounceRetryMs;
}

void CReceiverEngine::AnnounceReady()
{
    Log("ready (0xCD)");
    Send({VR520_READY});
    m_phase = Phase::WaitReadyEcho;
    DisarmTimer();
    m_nAnnounceDeadline = m_nNowMs + m_nQueuedPauseMs + kAnnounceRetryMs;
}

void CReceiverEngine::OnReceive(const std::uint8_t* data, std::size_t length, std::int64_t nowMs)
{
    m_nNowMs = nowMs;
    if (length > 0)
        m_nLastHeardMs = nowMs;
    for (std::size_t i = 0; i < length && !m_bFinished; ++i)
    {
        if (m_phase == Phase::Linked)
            OnRoleByte(data[i]);
        else
            OnAnnounceByte(data[i]);
    }
}

void CReceiverEngine::OnAnnounceByte(std::uint8_t byte)
{
    if (m_phase == Phase::WaitRateCode)
    {
        const int baud = BaudRateFor(byte);
        if (baud == 0)
        {
            Log("ignored while waiting for the rate code: " + HexBytes(&byte, 1));
            return;
        }
        if (m_options.nRate != kReceiverAnyRate && baud != m_options.nRate)
        {
            Finish(false, "the PC answered the rate query with code " + std::to_string(byte) + " (" +
                              std::to_string(baud) + " baud); expected " + std::to_string(m_options.nRate) +
                              " baud");
            return;
        }
        Log("rate code " + std::to_string(byte) + ": switching to " + std::to_string(baud) + " baud");
        Pause(kRateSwitchPauseMs);
        ReceiverAction action;
        action.kind = ReceiverAction::Kind::SetRate;
        action.nBaudRate = baud;
        m_actions.push_back(std::move(action));
        m_nBaudRate = baud;
        AnnounceReady();
        return;
    }
    if (m_phase == Phase::WaitReadyEcho)
    {
        if (byte != VR520_READY)
        {
            Log("ignored while waiting for the ready echo: " + HexBytes(&byte, 1));
            return;
        }
        Log("the PC answered the ready");
        m_phase = Phase::Linked;
        m_nAnnounceDeadline = kNoDeadline;
        OnLinkUp();
    }
}

void CReceiverEngine::OnTick(std::int64_t nowMs)
{
    m_nNowMs = nowMs;
    if (m_bFinished)
        return;
    if (nowMs - m_nLastHeardMs >= m_options.nSilenceTimeoutMs)
    {
        Finish(false, "no answer from the PC for " + std::to_string(m_options.nSilenceTimeoutMs / 1000) + " s");
        return;
    }
    if (nowMs >= m_nAnnounceDeadline)
    {
        if (m_phase == Phase::WaitRateCode)
        {
            Log("no rate code yet: asking again (0xDC)");
            Send({VR520_RATE});
        }
        else
        {
            Log("no ready echo yet: ready again (0xCD)");
            Send({VR520_READY});
        }
        m_nAnnounceDeadline = nowMs + kAnnounceRetryMs;
    }
    if (nowMs >= m_nTimerDeadline)
    {
        m_nTimerDeadline = kNoDeadline;
        OnRoleTimer();
    }
}

std::int64_t CReceiverEngine::Deadline() const
{
    if (m_bFinished)
        return kNoDeadline;
    std::int64_t deadline = m_nLastHeardMs + m_options.nSilenceTimeoutMs;
    deadline = std::min(deadline, m_nAnnounceDeadline);
    return std::min(deadline, m_nTimerDeadline);
}

std::vector<ReceiverAction> CReceiverEngine::TakeActions()
{
    m_nQueuedPauseMs = 0;
    std::vector<ReceiverAction> actions;
    actions.swap(m_actions);
    return actions;
}

void CReceiverEngine::Send(std::initializer_list<std::uint8_t> bytes)
{
    Send(bytes.begin(), bytes.size());
}

void CReceiverEngine::Send(const std::uint8_t* data, std::size_t length, bool bSeparateWrite)
{
    if (length == 0)
        return;
    // Consecutive sends merge into one write, as a UART would put them on the line.
    if (!bSeparateWrite && !m_actions.empty() && m_actions.back().kind == ReceiverAction::Kind::Send)
    {
        m_actions.back().bytes.insert(m_actions.back().bytes.end(), data, data + length);
        return;
    }
    ReceiverAction action;
    action.kind = ReceiverAction::Kind::Send;
    action.bytes.assign(data, data + length);
    m_actions.push_back(std::move(action));
}

void CReceiverEngine::Pause(int milliseconds)
{
    if (milliseconds <= 0)
        return;
    ReceiverAction action;
    action.kind = ReceiverAction::Kind::Pause;
    action.nMilliseconds = milliseconds;
    m_actions.push_back(std::move(action));
    m_nQueuedPauseMs += milliseconds;
}

void CReceiverEngine::ArmTimer(int milliseconds)
{
    m_nTimerDeadline = m_nNowMs + m_nQueuedPauseMs + milliseconds;
}

void CReceiverEngine::Finish(bool bSucceeded, const std::string& text)
{
    if (m_bFinished)
        return;
    m_bFinished = true;
    m_bSucceeded = bSucceeded;
    m_strResult = text;
    m_nTimerDeadline = kNoDeadline;
    m_nAnnounceDeadline = kNoDeadline;
    Log((bSucceeded ? "done: " : "failed: ") + text);
}

void CReceiverEngine::Log(const std::string& line) const
{
    if (m_log)
        m_log(line);
}

std::unique_ptr<CReceiverEngine> MakeReceiverEngine(const ReceiverOptions& options)
{
    if (options.role == ReceiverRole::Upload)
        return std::make_unique<CUploadRole>(options);
    return std::make_unique<CDownloadRole>(options);
}
