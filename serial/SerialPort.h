// The serial port object: opens one device exclusively (or a network line,
// rfc2217:// or tcp://, in its place), configures the line,
// runs a monitor thread that collects received bytes in a ring and hands them to
// the owner, and sends bytes. There is one such object at a time, reached through
// `theSerialPort`; a new object is made for every reopen.
//
// The port may be deleted from any thread at any moment, also from inside one of
// its own deliveries. Everything the monitor thread needs lives in a shared block
// (CSerialLink) that outlives the object, so the thread never touches a deleted
// port: after the deletion it delivers nothing more and ends on its own.
#pragma once

#include "serial/SerialOwner.h"

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

class CDeliveryGate;
class CNetworkLine;
class CSerialLink;
namespace posixport
{
struct LineSettings;
}

class CSerialPort
{
public:
    static constexpr std::uint8_t kDefaultPortNumber = 2;
    static constexpr std::uint32_t kDefaultBaudRate = 9600;
    static constexpr std::uint8_t kDefaultByteSize = 8;
    static constexpr std::uint8_t kDefaultParity = 0;   // none
    static constexpr std::uint8_t kDefaultStopBits = 2; // code 2: two stop bits

    CSerialPort();
    virtual ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Stores the five values and creates the wake-up event (1, or 0 when it
    // cannot be created). Stop-bit codes: 0 one, 1 one and a half, 2 two;
    // parity codes: 0 none, 1 odd, 2 even, 3 mark, 4 space.
    int SetParams(std::uint8_t portNumber, std::uint32_t baudRate, std::uint8_t byteSize,
                  std::uint8_t stopBits, std::uint8_t parity);
    int CreateTransferEvents();
    // SetParams (result not looked at), then Open; returns Open's result.
    int SetParamsAndOpen(std::uint8_t portNumber, std::uint32_t baudRate, std::uint8_t byteSize,
                         std::uint8_t stopBits, std::uint8_t parity);
    // Opens and configures the device and starts the monitor thread: 1 on
    // success, 0 on failure (LastError / LastErrorText tell why).
    int Open();
    // Applies the line settings again; 1 on success, 0 on failure.
    int Configure();
    // Stops the monitor loop and closes the device; 1.
    int ClosePort();
    // ClosePort when open; 1. Run by the destructor.
    int ShutDown();
    // Drops everything in the driver's queues and in the receive ring.
    void Purge();
    // Sends bytes; returns once the driver has sent them, in call order, one
    // caller at a time. 1 when every byte went out, 0 otherwise.
    int WriteByte(std::uint8_t byte);
    int Write(const void* data, std::uint32_t length);

    bool IsOpen() const;
    int LastError() const;             // errno of the last failed open/configure (0 if none)
    std::string DevicePath() const;    // the device the port number maps to ("" if unmapped)
    std::string LastErrorText() const; // "COM3 (/dev/ttyUSB0): Permission denied"
    std::string LastErrorHint() const; // what the user can do about it, "" if nothing known

    std::uint8_t PortNumber() const { return m_nPortNumber; }
    std::uint32_t BaudRate() const { return m_dwBaudRate; }
    std::uint8_t ByteSize() const { return m_nByteSize; }
    std::uint8_t Parity() const { return m_nParity; }
    std::uint8_t StopBits() const { return m_nStopBits; }

protected:
    // Receive hook: hands what the ring holds to whoever wants it. Nothing here.
    virtual void NotifyReceived();

    // The state shared with the monitor thread.
    const std::shared_ptr<CSerialLink>& Link() const { return m_pLink; }

private:
    void StopMonitor();
    posixport::LineSettings Settings() const;
    // Connects to (or takes back) the network line `path` names and brings its
    // far end to our settings; 1, or 0 with the error set.
    int OpenNetworkLine(const std::string& path, std::shared_ptr<CNetworkLine>& network);

    std::shared_ptr<CSerialLink> m_pLink;
    std::thread m_monitorThread;
    std::uint8_t m_nPortNumber = kDefaultPortNumber;
    std::uint8_t m_nByteSize = kDefaultByteSize;
    std::uint8_t m_nParity = kDefaultParity;
    std::uint8_t m_nStopBits = kDefaultStopBits;
    std::uint32_t m_dwBaudRate = kDefaultBaudRate;
    int m_nLastError = 0;
    std::string m_strLastErrorDetail; // set when the failure has no errno of its own
};

class CForwardingSerialPort : public CSerialPort
{
public:
    // gate == nullptr: the monitor thread calls the owner itself.
    // gate != nullptr: each delivery is posted to the gate (gate->PostDelivery)
    // and runs on the gate's thread; the monitor thread reads nothing more until
    // it has run. The port-lost notice runs through gate->RunDelivery() while the
    // monitor thread waits. A delivery whose port was deleted meanwhile is
    // dropped unrun. The owner is read inside the delivery. The gate must outlive
    // the port.
    explicit CForwardingSerialPort(CSerialOwner* owner, CDeliveryGate* gate = nullptr);
    ~CForwardingSerialPort() override;
    virtual void SetOwner(CSerialOwner* owner);

protected:
    // Delivers what the ring holds to the owner, 100 bytes at a time.
    void NotifyReceived() override;
};

// The one program-wide port object, or nullptr. Touched only on the protocol thread.
extern CForwardingSerialPort* theSerialPort;
