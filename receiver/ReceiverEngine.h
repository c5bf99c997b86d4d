// The simulated receiver's protocol, without I/O: fed the bytes the PC sent and
// the time, it answers with actions (bytes to send, pauses, rate switches) that
// a line driver carries out. This base class announces the receiver (the rate
// exchange and the ready handshake) and keeps the time-outs; the roles
// (CDownloadRole, CUploadRole) do the rest.
#pragma once

#include "receiver/ReceiverFault.h"
#include "receiver/ReceiverImage.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

enum class ReceiverRole
{
    Download, // the receiver receives an image from the PC
    Upload,   // the receiver sends its memory to the PC
};

// Rate exchange choices for ReceiverOptions::nRate besides a baud rate.
inline constexpr int kReceiverAnyRate = -1;   // send 0xDC and follow whatever rate the PC picks
inline constexpr int kReceiverNoRate = 0;     // no rate exchange: straight 0xCD

struct ReceiverOptions
{
    ReceiverRole role = ReceiverRole::Download;
    // A baud rate (9600 ... 115200): send 0xDC and expect that rate's code;
    // kReceiverAnyRate or kReceiverNoRate.
    int nRate = kReceiverAnyRate;
    // The session fails when the PC sends nothing for this long.
    int nSilenceTimeoutMs = 20000;
    std::vector<ReceiverFault> faults;
    // Upload role: the memory served; empty means SyntheticMemory().
    std::vector<ReceiverModule> memory;
    // Download role: where the received image is written on success ("" = nowhere).
    std::string strSavePath;
    // Pacing: sleep the wire time of every byte (10 bits at the line rate), and
    // with nPaceBaud > 0 at that fixed rate whatever the rate exchange chose.
    bool bPace = false;
    int nPaceBaud = 0;
    // After each rate switch, wait until the PC's end of the pseudo-terminal is
    // set to the new rate too, and fail the session when it is not.
    bool bCheckLineRate = false;
};

// Checks options that do not fit together; false with the reason in `error`.
bool ValidateReceiverOptions(const ReceiverOptions& options, std::string& error);

struct ReceiverAction
{
    enum class Kind
    {
        Send,    // write `bytes`
        Pause,   // wait `nMilliseconds` before the next action
        SetRate, // switch the line to `nBaudRate`
    };
    Kind kind = Kind::Send;
    std::vector<std::uint8_t> bytes;
    int nMilliseconds = 0;
    int nBaudRate = 0;
};

class CReceiverEngine
{
public:
    using LogFunction = std::function<void(const std::string&)>;

    // Time-outs and pauses of the receiver itself (not of the PC).
    static constexpr int kAnnounceRetryMs = 2000;  // 0xDC / 0xCD repeated until the PC answers
    static constexpr int kRateSwitchPauseMs = 150; // after the rate code, while the PC reopens its port
    static constexpr int kMessageGapMs = 50;       // between two messages the PC must see apart
    static constexpr std::int64_t kNoDeadline = std::numeric_limits<std::int64_t>::max();

    explicit CReceiverEngine(const ReceiverOptions& options);
    virtual ~CReceiverEngine() = default;
    CReceiverEngine(const CReceiverEngine&) = delete;
    CReceiverEngine& operator=(const CReceiverEngine&) = delete;

    // Progress lines for --verbose and the demo's log. Set before Start.
    void SetLog(LogFunction log) { m_log = std::move(log); }

    // Power on: the receiver announces itself.
    void Start(std::int64_t nowMs);
    // Bytes from the PC, in order; chunk boundaries do not matter.
    void OnReceive(const std::uint8_t* data, std::size_t length, std::int64_t nowMs);
    // Time passes; call at or after Deadline().
    void OnTick(std::int64_t nowMs);
    // When OnTick wants to run next (kNoDeadline once finished).
    std::int64_t Deadline() const;

    // The actions produced so far, in order; the queue is emptied.
    std::vector<ReceiverAction> TakeActions();

    bool IsFinished() const { return m_bFinished; }
    bool Succeeded() const { return m_bSucceeded; }
    const std::string& ResultText() const { return m_strResult; }
    // The line rate agreed in the rate exchange (9600 before it).
    int BaudRate() const { return m_nBaudRate; }

    // Download role: the modules received, complete once Succeeded().
    virtual const std::vector<ReceiverModule>& ReceivedModules() const;

protected:
    // The PC echoed the ready: the role's exchange begins.
    virtual void OnLinkUp() = 0;
    // One byte from the PC after the link is up.
    virtual void OnRoleByte(std::uint8_t byte) = 0;
    // The role's timer (ArmTimer) ran out.
    virtual void OnRoleTimer() = 0;

    void Send(std::initializer_list<std::uint8_t> bytes);
    // Consecutive sends merge into one write unless bSeparateWrite.
    void Send(const std::uint8_t* data, std::size_t length, bool bSeparateWrite = false);
    void Pause(int milliseconds);
    // The role's timer, counted from the end of the pauses already queued.
    void ArmTimer(int milliseconds);
    void DisarmTimer() { m_nTimerDeadline = kNoDeadline; }
    // Starts over with a new ready (0xCD), as after power-on without the rate exchange.
    void AnnounceReady();
    void Finish(bool bSucceeded, const std::string& text);
    void Log(const std::string& line) const;
    std::int64_t Now() const { return m_nNowMs; }

    const ReceiverOptions& Options() const { return m_options; }
    CReceiverFaults& Faults() { return m_faults; }

private:
    enum class Phase
    {
        Off,
        WaitRateCode,
        WaitReadyEcho,
        Linked,
    };
    void OnAnnounceByte(std::uint8_t byte);

    ReceiverOptions m_options;
    CReceiverFaults m_faults;
    LogFunction m_log;
    std::vector<ReceiverAction> m_actions;
    int m_nQueuedPauseMs = 0;
    Phase m_phase = Phase::Off;
    std::int64_t m_nNowMs = 0;
    std::int64_t m_nLastHeardMs = 0;
    std::int64_t m_nTimerDeadline = kNoDeadline;
    std::int64_t m_nAnnounceDeadline = kNoDeadline;
    int m_nBaudRate = 9600;
    bool m_bFinished = false;
    bool m_bSucceeded = false;
    std::string m_strResult;
};

// The engine for options.role.
std::unique_ptr<CReceiverEngine> MakeReceiverEngine(const ReceiverOptions& options);

// "0x69 0x01 ..." for logs, at most `maxBytes` bytes shown.
std::string HexBytes(const std::uint8_t* data, std::size_t length, std::size_t maxBytes = 8);
