// The page base: what every tab page shares. It binds the page to the one
// serial port object (theSerialPort), holds the transfer counters and the page
// timer, and defines the operations the transfer engines call and the derived
// pages override. The Information page is a plain CInfoPage.
//
// Threads. A page is framework-free and single-threaded: every call on it -
// construction, OnInitDialog, deliveries (OnReceive, OnPortLost), timer ticks
// (OnTimer), the user's commands (OnActivatePage, ChangePort, SetBaudRate,
// Browse, Clear) and destruction - runs on the one protocol thread
// (CProtocolThread), in order. The front ends Post() those calls and never
// wait for them. Ports are created as `new CForwardingSerialPort(this, gate)`,
// so their monitor threads hand each delivery to the gate and wait there while
// it runs on the protocol thread; bytes arriving meanwhile stay in the port's
// buffers. Hence OnReceive is never re-entered, no lock guards the page's
// members, and replacing theSerialPort from inside a delivery (rate switch,
// reset) is an ordinary call on the protocol thread: the serial layer drops
// what the old port still had queued. The page draws through CPageWindow,
// whose control updates never wait; only a message box blocks, until the user
// has closed it.
//
// The page timer is the window layer's timer 1 with 500 ms ticks; the front
// end posts each tick to OnTimer(1) on the protocol thread.
#pragma once

#include "protocol/Clock.h"
#include "protocol/WireFormat.h"
#include "serial/SerialOwner.h"
#include "ui/PageLine.h"
#include "ui/PageWindow.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

class CDeliveryGate;
class CSerialPort;

class CInfoPage : public CSerialOwner
{
public:
    // In WaitFunction a 0xCD is the receiver's ready again - it never saw our
    // answer (the first 0xCD was noise ahead of its start) - once our answer
    // is this old, and is answered again. One sooner crossed our answer on the
    // line and gets none: an answer crosses a repeat within a few tens of
    // milliseconds (1 ms per byte at 9600 baud, USB adapters' 16 ms latency
    // timers each way, the 10 ms delivery pause), while a receiver that missed
    // it waits far longer before asking again (the simulated one 2 s).
    static constexpr int kReadyRepeatGuardMs = 250;

    // The number of 0xCD bytes that begin `data` when the receiver's function
    // request (0xD0) follows them in the same delivery, else 0. Such a ready
    // was already answered - the request is the receiver's reply to our
    // answer - so it gets no answer again, and the request is served: the
    // receiver repeated its ready as our answer crossed it, or our answer to
    // noise reached it as the echo of its own ready.
    static int ReadyBytesBeforeFunction(const std::uint8_t* data, int length);

    // `window` draws the page (it must outlive the page); `gate` is where the
    // page's ports run their deliveries: the protocol thread, or nullptr when
    // the caller (a unit test) calls OnReceive itself. `line` is what the
    // page sends over (it must outlive the page); nullptr: the serial port
    // object, through a CPortLine of the page's own.
    CInfoPage(CPageWindow* window, CDeliveryGate* gate, CPageLine* line = nullptr);
    // The page window is destroyed: deletes theSerialPort, whoever owns it.
    ~CInfoPage() override;

    CInfoPage(const CInfoPage&) = delete;
    CInfoPage& operator=(const CInfoPage&) = delete;

    // Creation of the page's window: logs, builds the CRC table and, when no
    // port object exists yet, creates one with the port's own defaults (COM2,
    // 9600 baud, 8 data bits, no parity, two stop bits) owned by this page.
    // False when that port cannot be opened (an error box was shown).
    virtual bool OnInitDialog();

    // The page's virtual operations, in this order.
    // The page's tab was selected: it becomes the port's owner; the port is purged.
    virtual void OnActivatePage();
    // Back to rest: "State Reset", this page owns the port, the port is purged.
    virtual void ResetState();
    // One delivery of received bytes: the base page acts on status reports only.
    void OnReceive(const char* data, int length) override;
    // The page timer ran out. Nothing here.
    virtual void OnTimeout();
    // Arms the page timer: OnTimeout() runs at the (ticks + 1)-th 500 ms tick.
    // While the timer runs only the count is replaced. `code` is stored only.
    virtual void StartTimer(int ticks, int code);
    virtual void StopTimer();
    // Modal boxes with the information or the error icon.
    virtual void ShowInfo(const std::string& text);
    virtual void ShowError(const std::string& text);
    // A log line. Nothing here; the transfer pages keep a log.
    virtual void AddLog(const std::string& text);

    // The port's device went away (unplugged, hung up): one error box naming
    // the port and the system's reason, then ResetState().
    void OnPortLost(int error) override;

    // Replaces theSerialPort by a new port owned by this page, opened on
    // COM(portIndex + 1) at openBaudRate, 8 data bits, one stop bit, no parity.
    // `announce` shows "COM Port changed to COM%d " on success. On failure
    // shows "ERROR: Cannot open COM%d port!" with the system's reason as the
    // box's detail, and keeps the unopened object. Returns 1 on success.
    int ReopenPort(bool announce);
    // The transfer resets' last step: closes the port, opens it again at 9600
    // baud (where every transfer begins) with short pauses around the reopen,
    // and purges it.
    void ReopenAtRestingRate();
    // The user chose COM(index + 1) (index 0 to 3): a transfer under way is
    // ended first (EndTransferByUser), then the port reopens, announcing it.
    void ChangePort(int index);
    // The user chose a rate; used when the next transfer switches the speed.
    void SetBaudRate(int rate);
    // One tick of window timer `id` (the page timer is id 1).
    void OnTimer(int id);

    // For front ends and tests.
    int State() const { return m_nState; }
    int TimerTicks() const { return m_nTimerTicks; }
    int TimerCode() const { return m_nTimerCode; }
    CPageWindow* Window() const { return m_pWindow; }
    CDeliveryGate* Gate() const { return m_pGate; }
    CPageLine& Line() const { return *m_pLine; }

protected:
    // The data length of a module by its header; logs "Program length : %d "
    // for a firmware module.
    int GetModuleLength(const ModuleHeader& header);

    // Status-report classification: 'P' and a letter show the report's text
    // and reset the page. Examines data[0] and data[1] (the zero byte behind a
    // one-byte delivery).
    void ClassifyStatusReport(const std::uint8_t* data, int length);

    // The detail text of the next box (the system's reason why a port would not
    // open); the base ShowInfo/ShowError hand it to the window and clear it.
    void SetNextBoxDetail(const std::string& detail) { m_strBoxDetail = detail; }
    // The error box of a port that could not be opened: the system's reason
    // and the window's hint for that port number in its details.
    void ShowPortOpenError(const std::string& text, int portNumber, const std::string& reason);

    // How the transfer that the next reset ends ended: the engine says so just
    // before it resets; a reset nobody explained is the user's (Reset).
    void SetTransferEnd(TransferEndKind kind, std::string reason = {})
    {
        m_pendingEnd = TransferEnd{kind, std::move(reason)};
    }
    // The end set by SetTransferEnd(), or a plain Reset; clears it.
    TransferEnd TakeTransferEnd();
    // The user did something that ends a transfer under way (chose another
    // port): the transfer pages end it as Reset with `reason`. Nothing here.
    virtual void EndTransferByUser(const std::string& reason) { (void)reason; }
    // The error box text of a lost port: "ERROR : Lost the COM2 port (...): reason".
    std::string PortLostText(int error) const;

    // The page's line, once the quiet time set by KeepLineQuiet() has passed:
    // every send, purge, reopen and close of the engines goes through here.
    CPageLine& LineWhenQuiet();
    // A pause after the byte just written that keeps the line quiet without
    // holding the thread: the next use of the line waits for its end, while a
    // delivery arriving meanwhile is taken in and its own pause counts from
    // its arrival.
    void KeepLineQuiet(int milliseconds);

    // The engines' sends, through the page's line.
    void SendByte(std::uint8_t byte) { LineWhenQuiet().SendByte(byte); }
    void SendBlock(const void* data, std::uint32_t length)
    {
        LineWhenQuiet().Send(static_cast<const std::uint8_t*>(data), length);
    }

    // A lone first byte of a two-byte message ('P' without its letter) kept
    // until the next delivery, which is then handled as if it had come whole
    // (for a 'P', only when that delivery begins with a status letter).
    // -1 when nothing is pending. Emptied by ResetState() (the port is purged).
    int m_nPendingByte = -1;

    // Set while a lost port's reset runs: a failed reopen is then logged, not
    // boxed, so the user sees one box for the loss; and the window is asked
    // whether the lost port is to be reopened at all.
    bool m_bResettingLostPort = false;

    CPageWindow* m_pWindow;
    CDeliveryGate* m_pGate;
    std::unique_ptr<CPageLine> m_pOwnLine; // the port line, when no other line was given
    CPageLine* m_pLine;
    CClock::TimePoint m_lineQuietUntil{}; // see KeepLineQuiet()

    // Members shared by the transfer engines.
    int m_nState = 0;
    int m_nPacketNumber = 0;
    std::uint8_t m_receiveBuffer[kPacketSize] = {};
    int m_nTimerTicks = -1;
    int m_nTimerCode = 0;
    int m_nModuleSize = 0;
    int m_nBytesDone = 0;
    int m_nTotalBytes = 0;
    int m_nEstimatedTime = 0;
    int m_nElapsedTime = 0;
    std::time_t m_startTime = 0;
    int m_nProgressScale = 2;

    // When the last 0xCD answered a ready (CClock::SteadyMs()).
    std::int64_t m_nReadyAnsweredMs = 0;

private:
    void ShowBox(const std::string& text, BoxIcon icon);

    std::string m_strBoxDetail;
    std::optional<TransferEnd> m_pendingEnd;
};

// Why `port` would not open: the system's reason and, when one is known, a
// hint at what to do.
std::string PortFailureReason(const CSerialPort& port);

// The scale that maps byte counts onto a progress bar's 16-bit range:
// max(total / 65536, 1) + 1, so at least 2.
int ProgressScaleFor(std::int64_t totalBytes);
