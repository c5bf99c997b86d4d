// Temporary skeleton: the port opens nothing yet.
#include "serial/SerialPort.h"

#include "serial/PortNames.h"

#include <cerrno>

class CSerialLink
{
};

CForwardingSerialPort* theSerialPort = nullptr;

CSerialPort::CSerialPort() = default;
CSerialPort::~CSerialPort() { ShutDown(); }

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

int CSerialPort::CreateTransferEvents() { return 1; }

int CSerialPort::SetParamsAndOpen(std::uint8_t portNumber, std::uint32_t baudRate, std::uint8_t byteSize,
                                  std::uint8_t stopBits, std::uint8_t parity)
{
    SetParams(portNumber, baudRate, byteSize, stopBits, parity);
    return Open();
}

int CSerialPort::Open()
{
    m_nLastError = ENOSYS;
    return 0;
}
int CSerialPort::Configure() { return 0; }
int CSerialPort::ClosePort() { return 1; }
int CSerialPort::ShutDown() { return 1; }
void CSerialPort::Purge() {}
int CSerialPort::WriteByte(std::uint8_t byte) { return Write(&byte, 1); }
int CSerialPort::Write(const void*, std::uint32_t) { return 0; }
bool CSerialPort::IsOpen() const { return false; }
int CSerialPort::LastError() const { return m_nLastError; }
std::string CSerialPort::DevicePath() const { return PortDevicePath(m_nPortNumber); }
std::string CSerialPort::LastErrorText() const { return PortName(m_nPortNumber) + ": not available yet"; }
std::string CSerialPort::LastErrorHint() const { return {}; }
void CSerialPort::NotifyReceived() {}
void CSerialPort::StopMonitor() {}

CForwardingSerialPort::CForwardingSerialPort(CSerialOwner*, CDeliveryGate*) {}
CForwardingSerialPort::~CForwardingSerialPort() = default;
void CForwardingSerialPort::SetOwner(CSerialOwner*) {}
void CForwardingSerialPort::NotifyReceived() {}
