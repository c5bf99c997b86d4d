#include "ui/InfoPage.h"

#include "protocol/Clock.h"
#include "serial/PortNames.h"
#include "serial/SerialErrorHints.h"
#include "serial/SerialPort.h"
#include "ui/ControlIds.h"
#include "ui/LinkSettings.h"
#include "ui/PortLine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace
{
// Line settings of the reopen path: 8 data bits, one stop bit (code 0), no parity.
constexpr std::uint8_t kByteSize = 8;
constexpr std::uint8_t kOneStopBit = 0;
constexpr std::uint8_t kNoParity = 0;
} // namespace

std::string PortFailureReason(const CSerialPort& port)
{
    std::string detail = port.LastErrorText();
    const std::string hint = port.LastErrorHint();
    if (!hint.empty())
        detail += detail.empty() ? hint : "\n" + hint;
    return detail;
}

int ProgressScaleFor(std::int64_t totalBytes)
{
    return int(std::max<std::int64_t>(totalBytes / 65536, 1) + 1);
}

CInfoPage::CInfoPage(CPageWindow* window, CDeliveryGate* gate, CPageLine* line)
    : m_pWindow(window), m_pGate(gate), m_pOwnLine(line ? nullptr : std::make_unique<CPortLine>(*this)),
      m_pLine(line ? line : m_pOwnLine.get())
{
}

CInfoPage::~CInfoPage()
{
    if (m_nTimerTicks != -1)
        m_pWindow->KillTimer(kPageTimerId);
    // Whichever page window goes first closes the port: no page may be left as
    // the owner of a port that outlives it.
    delete theSerialPort;
    theSerialPort = nullptr;
}

bool CInfoPage::OnInitDialog()
{
    AddLog("Dialog initial");
    AddLog("Initial crc table");
    BuildCrcTable();
    const CPageLine::OpenResult opened = m_pLine->Open();
    if (opened.created)
        AddLog("serial port create");
    if (!opened.ok())
    {
        ShowPortOpenError("ERROR : Comm port open error!", CSerialPort::kDefaultPortNumber, opened.error);
        return false;
    }
    return true;
}

int CInfoPage::ReadyBytesBeforeFunction(const std::uint8_t* data, int length)
{
    int readies = 0;
    while (readies < length && data[readies] == VR520_READY)
        ++readies;
    return readies > 0 && readies < length && data[readies] == VR520_FUNC ? readies : 0;
}

TransferEnd CInfoPage::TakeTransferEnd()
{
    TransferEnd end = m_pendingEnd.value_or(TransferEnd{});
    m_pendingEnd.reset();
    return end;
}

void CInfoPage::OnActivatePage()
{
    AddLog("Serial active change");
    m_nPendingByte = -1;
    if (theSerialPort)
        theSerialPort->SetOwner(this);
    LineWhenQuiet().Purge();
}

CPageLine& CInfoPage::LineWhenQuiet()
{
    if (m_lineQuietUntil != CClock::TimePoint{})
    {
        theClock().SleepUntil(m_lineQuietUntil);
        m_lineQuietUntil = {};
    }
    return *m_pLine;
}

void CInfoPage::KeepLineQuiet(int milliseconds)
{
    m_lineQuietUntil = theClock().SteadyNow() + std::chrono::milliseconds(milliseconds);
}

void CInfoPage::ResetState()
{
    AddLog("State Reset");
    m_nPendingByte = -1;
    if (theSerialPort)
        theSerialPort->SetOwner(this);
    LineWhenQuiet().Purge();
}

void CInfoPage::OnReceive(const char* data, int length)
{
    if (length <= 0)
        return;
    // A 'P' alone waits for its letter in the next delivery.
    std::uint8_t joined[2 + 1];
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    if (m_nPendingByte >= 0 && IsStatusLetter(bytes[0]))
    {
        joined[0] = std::uint8_t(m_nPendingByte);
        joined[1] = bytes[0];
        joined[2] = 0;
        m_nPendingByte = -1;
        ClassifyStatusReport(joined, 2);
        return;
    }
    // A 'P' not followed by a letter was no report; the new bytes count on their own.
    m_nPendingByte = -1;
    if (length == 1 && bytes[0] == VR520_STATUS)
    {
        m_nPendingByte = bytes[0];
        return;
    }
    ClassifyStatusReport(bytes, length);
}

void CInfoPage::ClassifyStatusReport(const std::uint8_t* data, int length)
{
    if (length <= 0 || data[0] != VR520_STATUS)
        return;
    // data[length] is the zero byte behind every delivery, so a one-byte block reads as 'P', 0.
    const auto report = FindStatusReport(data[1]);
    if (!report)
        return;
    const std::string text(report->text);
    SetTransferEnd(TransferEndKind::StatusReport, text);
    if (report->kind == StatusKind::Info)
        ShowInfo(text);
    else
        ShowError(text);
    ResetState();
}

void CInfoPage::OnTimeout() {}

void CInfoPage::StartTimer(int ticks, int code)
{
    if (m_nTimerTicks == -1)
        m_pWindow->SetTimer(kPageTimerId, kPageTimerPeriodMs);
    m_nTimerTicks = ticks;
    m_nTimerCode = code;
}

void CInfoPage::StopTimer()
{
    if (m_nTimerTicks != -1)
        m_pWindow->KillTimer(kPageTimerId);
    m_nTimerTicks = -1;
}

void CInfoPage::OnTimer(int id)
{
    if (id != kPageTimerId)
        return;
    if (m_nTimerTicks < 0)
        StopTimer();
    else if (m_nTimerTicks == 0)
    {
        StopTimer();
        OnTimeout();
    }
    else
        --m_nTimerTicks;
}

void CInfoPage::ShowInfo(const std::string& text)
{
    ShowBox(text, BoxIcon::Information);
}

void CInfoPage::ShowError(const std::string& text)
{
    ShowBox(text, BoxIcon::Error);
}

void CInfoPage::ShowBox(const std::string& text, BoxIcon icon)
{
    std::string detail;
    detail.swap(m_strBoxDetail);
    if (detail.empty())
        m_pWindow->MessageBox(text, icon);
    else
        m_pWindow->MessageBoxDetail(text, icon, detail);
}

void CInfoPage::AddLog(const std::string& text)
{
    (void)text;
}

std::string CInfoPage::PortLostText(int error) const
{
    const int portNumber = theLinkSettings.portIndex + 1;
    std::string text = "ERROR : Lost the COM" + std::to_string(portNumber) + " port";
    const std::string device = PortDevicePath(portNumber);
    if (!device.empty())
        text += " (" + device + ")";
    text += error != 0 ? std::string(": ") + std::strerror(error) : ": the device hung up";
    return text;
}

void CInfoPage::OnPortLost(int error)
{
    const std::string text = PortLostText(error);
    SetTransferEnd(TransferEndKind::PortLost, text);
    // A vanished adapter gets the same advice as a missing one (cable, services
    // that take new USB serial adapters).
    SetNextBoxDetail(SerialErrorHint(error != 0 ? error : EIO));
    ShowError(text);
    // The reset reopens the port on the transfer pages; should the device still
    // be missing, that failure goes to the log: the user has had the box.
    m_bResettingLostPort = true;
    ResetState();
    m_bResettingLostPort = false;
}

int CInfoPage::ReopenPort(bool announce)
{
    delete theSerialPort;
    theSerialPort = nullptr;
    theSerialPort = new CForwardingSerialPort(this, m_pGate);
    const int portNumber = theLinkSettings.portIndex + 1;
    if (theSerialPort->SetParamsAndOpen(std::uint8_t(portNumber), std::uint32_t(theLinkSettings.openBaudRate),
                                        kByteSize, kOneStopBit, kNoParity) == 1)
    {
        if (announce)
            ShowInfo("COM Port changed to COM" + std::to_string(portNumber) + " ");
        theSerialPort->Configure();
        return 1;
    }
    const std::string text = "ERROR: Cannot open COM" + std::to_string(portNumber) + " port!";
    const std::string reason = PortFailureReason(*theSerialPort);
    if (m_bResettingLostPort)
    {
        AddLog(reason.empty() ? text : text + " " + reason);
        return 0;
    }
    ShowPortOpenError(text, portNumber, reason);
    return 0;
}

void CInfoPage::ShowPortOpenError(const std::string& text, int portNumber, const std::string& reason)
{
    const std::string hint = m_pWindow->PortOpenHint(portNumber);
    SetNextBoxDetail(hint.empty() ? reason : reason.empty() ? hint : reason + "\n" + hint);
    ShowError(text);
}

void CInfoPage::ReopenAtRestingRate()
{
    static constexpr int kRestingBaudRate = 9600;
    static constexpr int kBeforeReopenMs = 10;  // between closing and reopening
    static constexpr int kAfterReopenMs = 100;  // before purging the reopened port
    LineWhenQuiet().Close();
    theLinkSettings.openBaudRate = kRestingBaudRate;
    if (!m_pWindow->ReopensLineAfterReset(m_bResettingLostPort))
        return;
    theClock().Sleep(kBeforeReopenMs);
    LineWhenQuiet().Reopen(kRestingBaudRate);
    theClock().Sleep(kAfterReopenMs);
    LineWhenQuiet().Purge();
}

void CInfoPage::ChangePort(int index)
{
    // The receiver is on the old port: a transfer there cannot go on.
    EndTransferByUser("another port was chosen");
    theLinkSettings.portIndex = index;
    delete theSerialPort;
    theSerialPort = nullptr;
    ReopenPort(true);
}

void CInfoPage::SetBaudRate(int rate)
{
    theLinkSettings.selectedBaudRate = rate;
}

int CInfoPage::GetModuleLength(const ModuleHeader& header)
{
    const int length = ModuleDataLength(header);
    if (header.firmware() != 0)
        AddLog("Program length : " + std::to_string(length) + " ");
    return length;
}
