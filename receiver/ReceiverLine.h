// The simulated receiver's end of the serial line: the master side of a
// pseudo-terminal (the PC opens the slave) or a real serial device. It reads and
// writes raw bytes, optionally paced at a line rate, and every wait in it can be
// cut short from another thread with Wake().
//
// On a pseudo-terminal the receiver keeps a descriptor of its own open on the
// slave, in raw mode: the PC closes and reopens its end at every rate change and
// reset, and without that descriptor the last close would hang up the line.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class CReceiverLine
{
public:
    using Clock = std::chrono::steady_clock;

    CReceiverLine();
    ~CReceiverLine();
    CReceiverLine(const CReceiverLine&) = delete;
    CReceiverLine& operator=(const CReceiverLine&) = delete;

    // Creates a pseudo-terminal; SlavePath() is the device the PC opens.
    bool OpenPty(std::string& error);
    // Uses a serial device, raw 8N1 at 9600 baud.
    bool OpenDevice(const std::string& path, std::string& error);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    const std::string& SlavePath() const { return m_strSlavePath; }

    // The line rate: a device is switched to it; pacing follows it unless a
    // fixed pace rate was set.
    void SetRate(int baudRate);
    int Rate() const { return m_nBaudRate; }
    // A pseudo-terminal: waits up to `timeoutMs` for the PC's end to be set to
    // `baudRate` and returns the rate it is set to then (0 if not a common one).
    int WaitForPeerRate(int baudRate, int timeoutMs) const;
    // bPace: every byte sent and received costs its wire time (10 bits at the
    // line rate, or at nFixedBaud when that is nonzero).
    void SetPace(bool bPace, int nFixedBaud = 0);

    enum class Result
    {
        Ok,
        TimedOut, // nothing within the time given
        Woken,    // Wake() was called
        Failed,   // the line failed (see LastError())
    };
    // Waits up to `timeoutMs` (negative: no limit) for bytes and reads what is
    // there, at most `capacity`; with pacing it returns once their wire time has
    // passed. `length` is the count read.
    Result Read(std::uint8_t* buffer, std::size_t capacity, int timeoutMs, std::size_t& length);
    // Writes all bytes (paced when pacing is on). Gives up with Failed when the PC
    // takes none of them for `stallTimeoutMs`. Woken comes only between slices;
    // `written` tells how far it got, so the caller can go on from there.
    Result Write(const std::uint8_t* data, std::size_t length, int stallTimeoutMs, std::size_t& written);
    // Sleeps; Woken when cut short.
    Result Pause(int milliseconds);
    // Waits until the PC has read what was sent (a pseudo-terminal) or the device
    // has sent it, at most `timeoutMs`.
    void DrainToPeer(int timeoutMs);
    // Drops whatever the PC sent that was not read yet.
    void DiscardInput();

    // Cuts the current or next wait short (any thread). ClearWake() re-arms.
    void Wake();
    void ClearWake();

    const std::string& LastError() const { return m_strLastError; }

private:
    bool ApplyRawMode(int fd, int baudRate, std::string& error);
    Result SleepUntil(Clock::time_point until);
    void PaceReceived(Clock::time_point start, std::size_t length);
    Clock::duration ByteTime() const;
    int PaceBaud() const;

    int m_fd = -1;        // master side or device
    int m_slaveFd = -1;   // our own hold on the slave (pseudo-terminal only)
    int m_wakeFd = -1;    // eventfd
    bool m_bIsDevice = false;
    std::string m_strSlavePath;
    int m_nBaudRate = 9600;
    bool m_bPace = false;
    int m_nFixedPaceBaud = 0;
    Clock::time_point m_txFree{};
    Clock::time_point m_rxFree{};
    std::chrono::nanoseconds m_wakeLateness{0}; // see SleepUntil()
    bool m_bRxBusy = false; // the last read ended with its wire time; more may wait behind it
    std::string m_strLastError;
};
