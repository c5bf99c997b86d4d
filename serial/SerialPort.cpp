#include "serial/SerialPort.h"

#include "serial/NetworkLine.h"
#include "serial/NetworkLinePark.h"
#include "serial/PortNames.h"
#include "serial/PosixPortLayer.h"
#include "serial/SerialErrorHints.h"
#include "serial/SerialLink.h"
#include "serial/SerialMonitor.h"

#include <cerrno>
#include <cstring>
#include <termios.h>
#include <system_error>

CForwardingSerialPort* theSerialPort = nullptr;

CSerialPort::CSerialPort() : m_pLink(std::make_shared<CSerialLink>())
{
}

CSerialPort::~CSerialPort()
{
    m_pLink->MarkPortDeleted();
    ShutDown();
    StopMonitor();
}

int CSerialPort::SetParams(std::uint8_t portNumber, std::uint32_t baudRate, std::uint8_t byteSize,
                           std::uint8_t stopBits, std::uint8_t parity)
{
    m_nPortNumber = portNumber;
    m_dwBaudRate = baudRate;
    m_nByteSize = byteSize;
    m_nStopBits = stopBits;
    m_nParity = parity;
    return CreateTransferEvents();
}

int CSerialPort::CreateTransferEvents()
{
    const int error = m_pLink->CreateWakeEvent();
    if (error != 0)
    {
        m_nLastError = error;
        m_strLastErrorDetail.clear();
        return 0;
    }
    return 1;
}

int CSerialPort::SetParamsAndOpen(std::uint8_t portNumber, std::uint32_t baudRate, std::uint8_t byteSize,
                                  std::uint8_t stopBits, std::uint8_t parity)
{
    SetParams(portNumber, baudRate, byteSize, stopBits, parity);
    return Open();
}

int CSerialPort::Open()
{
    m_nLastError = 0;
    m_strLastErrorDetail.clear();
    if (m_pLink->IsOpen())
    {
        m_nLastError = EBUSY;
        m_strLastErrorDetail = "the port object is open already";
        return 0;
    }
    // Without the wake-up event the monitor could never be stopped: refuse to open.
    if (!m_pLink->HasWakeEvent() && CreateTransferEvents() == 0)
        return 0;
    const std::string path = DevicePath();
    if (path.empty())
    {
        m_nLastError = ENOENT;
        m_strLastErrorDetail = m_nPortNumber < 1 ? "no such port"
                                                 : "no device mapped to port " + std::to_string(m_nPortNumber);
        return 0;
    }
    int fd = -1;
    std::shared_ptr<CNetworkLine> network;
    if (IsNetworkLineUrl(path))
    {
        if (OpenNetworkLine(path, network) == 0)
            return 0;
        fd = network->Fd();
    }
    else if (const int error = posixport::OpenExclusive(path, fd); error != 0)
    {
        m_nLastError = error;
        return 0;
    }
    // A monitor left from an earlier open of this object (its device was lost)
    // is let go: it may still be telling the owner, and it can no longer touch
    // the new device, which has a generation of its own.
    if (m_monitorThread.joinable())
        m_monitorThread.detach();
    if (!network)
    {
        posixport::RequestLowLatency(fd);
        posixport::FlushInput(fd);
    }
    const std::uint64_t generation = m_pLink->Attach(fd, network);
    if (network)
    {
        const std::string early = network->TakeEarlyData();
        m_pLink->StoreReceived(early.data(), int(early.size()));
    }
    else if (Configure() == 0)
    {
        m_pLink->Close();
        return 0;
    }
    NoteMonitorThreadStarting();
    try
    {
        m_monitorThread = std::thread(MonitorThread, m_pLink, generation);
    }
    catch (const std::system_error& failure)
    {
        NoteMonitorThreadEnded();
        m_pLink->Close();
        m_nLastError = failure.code().value();
        m_strLastErrorDetail = "cannot start the monitor thread";
        return 0;
    }
    // Only now may a delivery run, and it may delete this port at once: the
    // block is held locally and nothing of the object is touched afterwards.
    const std::shared_ptr<CSerialLink> link = m_pLink;
    link->StartMonitor(generation);
    return 1;
}

posixport::LineSettings CSerialPort::Settings() const
{
    posixport::LineSettings settings;
    settings.baudRate = m_dwBaudRate;
    settings.byteSize = m_nByteSize;
    settings.parity = m_nParity;
    settings.stopBits = m_nStopBits;
    return settings;
}

int CSerialPort::OpenNetworkLine(const std::string& path, std::shared_ptr<CNetworkLine>& network)
{
    NetworkLineUrl url;
    if (!ParseNetworkLineUrl(path, url, m_strLastErrorDetail))
    {
        m_nLastError = EINVAL;
        return 0;
    }
    // The same settings are checked as on a tty, before anything goes out.
    termios unused{};
    if (const int error = posixport::FillLineSettings(unused, Settings()); error != 0)
    {
        m_nLastError = error;
        return 0;
    }
    // A line this process closed a moment ago (a rate switch) is taken back:
    // the reopen becomes a change of settings on the same connection.
    network = TakeParkedNetworkLine(url.text);
    if (!network)
    {
        network = CNetworkLine::Connect(url, m_nLastError, m_strLastErrorDetail);
        if (!network)
            return 0;
    }
    if (const int error = network->Prepare(Settings(), m_strLastErrorDetail); error != 0)
    {
        m_nLastError = error;
        network.reset();
        return 0;
    }
    return 1;
}

int CSerialPort::Configure()
{
    auto use = m_pLink->Use();
    if (!use)
    {
        m_nLastError = EBADF;
        m_strLastErrorDetail = "the port is not open";
        return 0;
    }
    const posixport::LineSettings settings = Settings();
    if (auto network = m_pLink->Network())
    {
        if (const int error = network->ApplySettings(settings, m_pLink->WakeFd()); error != 0)
        {
            m_nLastError = error;
            m_strLastErrorDetail.clear();
            return 0;
        }
        return 1;
    }
    if (const int error = posixport::ApplyLineSettings(use.fd(), settings); error != 0)
    {
        m_nLastError = error;
        m_strLastErrorDetail.clear();
        return 0;
    }
    posixport::SetModemLines(use.fd(), true, true);
    return 1;
}

int CSerialPort::ClosePort()
{
    m_pLink->Close();
    return 1;
}

int CSerialPort::ShutDown()
{
    if (m_pLink->IsOpen())
        ClosePort();
    return 1;
}

void CSerialPort::StopMonitor()
{
    if (!m_monitorThread.joinable())
        return;
    // Waiting for the thread is safe only when it is not inside a delivery: that
    // delivery may be the very call that deletes us, on this thread or on the
    // gate's thread that the monitor waits for. Once the port is closed (or
    // deleted) the thread starts no delivery any more and ends at once.
    if (m_monitorThread.get_id() == std::this_thread::get_id() || m_pLink->MonitorInDelivery() ||
        m_pLink->IsOpen())
        m_monitorThread.detach();
    else
        m_monitorThread.join();
}

void CSerialPort::Purge()
{
    // Held locally: should another thread delete the port meanwhile, the block
    // (and its locks) outlive this call.
    const std::shared_ptr<CSerialLink> link = m_pLink;
    link->Purge();
}

int CSerialPort::WriteByte(std::uint8_t byte)
{
    return Write(&byte, 1);
}

int CSerialPort::Write(const void* data, std::uint32_t length)
{
    if (data == nullptr && length != 0)
        return 0;
    // Held locally: a deletion on another thread closes the device, which ends
    // this write, and the block must outlive the write's unwinding.
    const std::shared_ptr<CSerialLink> link = m_pLink;
    return link->WriteAll(data, length) == 0 ? 1 : 0;
}

bool CSerialPort::IsOpen() const
{
    return m_pLink->IsOpen();
}

int CSerialPort::LastError() const
{
    return m_nLastError;
}

std::string CSerialPort::DevicePath() const
{
    return PortDevicePath(m_nPortNumber);
}

std::string CSerialPort::LastErrorText() const
{
    if (m_nLastError == 0)
        return {};
    std::string text = PortName(m_nPortNumber);
    const std::string path = DevicePath();
    if (!path.empty())
        text += " (" + path + ")";
    text += ": ";
    text += m_strLastErrorDetail.empty() ? std::strerror(m_nLastError) : m_strLastErrorDetail;
    return text;
}

std::string CSerialPort::LastErrorHint() const
{
    if (m_nLastError == 0)
        return {};
    if (m_nLastError == ENOENT && DevicePath().empty() && m_nPortNumber >= 1)
    {
        const std::string n = std::to_string(m_nPortNumber);
        return "map it to a device or a network line with --com" + n + " PATH|URL, KAVDM_COM" + n +
               "=PATH|URL or com" + n + "= in the [ports] section of the configuration file (URL: " +
               "rfc2217://HOST:PORT or tcp://HOST:PORT)";
    }
    if (IsNetworkLineUrl(DevicePath()))
        return NetworkLineErrorHint(m_nLastError);
    return SerialErrorHint(m_nLastError);
}

void CSerialPort::NotifyReceived()
{
}

CForwardingSerialPort::CForwardingSerialPort(CSerialOwner* owner, CDeliveryGate* gate)
{
    Link()->SetForwarding(owner, gate);
}

CForwardingSerialPort::~CForwardingSerialPort()
{
    // From here on nothing is delivered, also not by a delivery already queued.
    Link()->MarkPortDeleted();
}

void CForwardingSerialPort::SetOwner(CSerialOwner* owner)
{
    Link()->SetOwner(owner);
}

void CForwardingSerialPort::NotifyReceived()
{
    // The block is held across the call: the owner may delete this port.
    const std::shared_ptr<CSerialLink> link = Link();
    link->DeliverPending();
}
