// The state a serial port shares with its monitor thread: the device descriptor
// and its users, the wake-up event, the receive ring, the owner and the gate.
// Held through a std::shared_ptr by the port object and by the thread, so it
// outlives whichever goes first: a port deleted in the middle of a delivery
// leaves the thread a valid block that says "gone", and the thread ends.
#pragma once

#include "serial/DeliveryGate.h"
#include "serial/RingBuffer.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

class CNetworkLine;
class CSerialOwner;

class CSerialLink : public std::enable_shared_from_this<CSerialLink>
{
public:
    static constexpr int kRingCapacityBytes = 4096;
    static constexpr int kDeliveryMaxBytes = 100;
    static constexpr int kDeliveryBufferBytes = 1024;

    CSerialLink();
    ~CSerialLink();
    CSerialLink(const CSerialLink&) = delete;
    CSerialLink& operator=(const CSerialLink&) = delete;

    // The eventfd that wakes the monitor thread and blocked writers at close.
    // Returns 0 or the errno of its creation.
    int CreateWakeEvent();
    bool HasWakeEvent() const;

    // ---- the device ----
    // Takes over an open descriptor (a tty, or the socket of `network`); returns
    // the generation that a monitor thread started for it passes to Use().
    std::uint64_t Attach(int fd, std::shared_ptr<CNetworkLine> network = nullptr);
    // The network line of that generation, nullptr for a tty (or when closed).
    std::shared_ptr<CNetworkLine> Network(std::uint64_t generation = 0) const;
    // Closes the device at once: stops the monitor, wakes whoever waits on the
    // descriptor, discards both driver queues, waits for the (short) uses in
    // progress to end and closes. Never waits for a delivery. Idempotent.
    // A network line closed by the user is kept a moment for a reopen of the
    // same URL; one that was lost is closed.
    void Close();
    bool IsOpen() const;
    // The monitor thread of `generation` starts its work only once the port has
    // finished opening (a delivery may delete the port). False: closed meanwhile.
    bool WaitForMonitorStart(std::uint64_t generation);
    void StartMonitor(std::uint64_t generation);

    // A short use of the descriptor; invalid (fd() < 0) once the device is closing.
    class CDeviceUse
    {
    public:
        CDeviceUse() = default;
        CDeviceUse(CSerialLink* link, int fd) : m_pLink(link), m_nFd(fd) {}
        CDeviceUse(CDeviceUse&& other) noexcept : m_pLink(other.m_pLink), m_nFd(other.m_nFd)
        {
            other.m_pLink = nullptr;
            other.m_nFd = -1;
        }
        CDeviceUse& operator=(CDeviceUse&&) = delete;
        ~CDeviceUse();
        int fd() const { return m_nFd; }
        explicit operator bool() const { return m_nFd >= 0; }

    private:
        CSerialLink* m_pLink = nullptr;
        int m_nFd = -1;
    };
    // generation 0: any open device; otherwise only the device of that Attach.
    CDeviceUse Use(std::uint64_t generation = 0);
    int WakeFd() const { return m_nWakeFd; }

    // ---- transmission ----
    // Hands every byte to the driver, one caller at a time, then waits until the
    // driver has sent them. 0 or the errno (ECANCELED when closed meanwhile).
    int WriteAll(const void* data, std::size_t length);
    // Discards both driver queues and empties the ring.
    void Purge();

    // ---- reception ----
    // Appends to the ring; bytes that do not fit are dropped. Returns the count stored.
    int StoreReceived(const void* data, int length);
    // Takes up to `maximum` bytes and a zero byte behind them.
    int TakeReceived(char* destination, int maximum);
    int HeldCount();

    // ---- the owner ----
    void SetForwarding(CSerialOwner* owner, CDeliveryGate* gate);
    void SetOwner(CSerialOwner* owner);
    // The port object is gone: nothing more is delivered.
    void MarkPortDeleted();
    // Hands what the ring holds to the owner, at most 100 bytes per call, until
    // the ring is empty, the port is closed or deleted, or no owner is set.
    // Runs on the calling thread.
    void DeliverPending();
    // Monitor thread: DeliverPending. Without a gate it runs here; with one it is
    // posted and this returns at once: the monitor reads nothing more until it has
    // run (DeliveryPending, WaitForDelivery). Run on the gate's thread, it goes on
    // with bytes that came while the owner handled the last ones, reading them
    // from the device of `generation` itself instead of handing the monitor a
    // wake-up and waiting for its hand-over. It looks only when the owner wrote
    // something meanwhile: bytes come soon only as the answer to an answer.
    void DeliverFromMonitor(std::uint64_t generation);
    bool DeliveryPending();
    // Monitor thread: waits until the delivery it posted has run or was dropped.
    void WaitForDelivery();
    // Monitor thread: tells the owner once that the device went away.
    void ReportLostFromMonitor(int error, std::uint64_t generation);
    // Whether the monitor thread is inside a delivery or waiting for the gate
    // to run one; the port then must not wait for the thread to end.
    bool MonitorInDelivery();

private:
    void ReleaseUse();
    // Closes the device of `generation` (0: whichever is open); false when
    // another device has been attached since.
    bool CloseDevice(bool byUser, std::uint64_t generation);
    // Runs `delivery` with the in-delivery mark set, through the gate if any;
    // false when the port is gone or closed.
    template <typename Delivery>
    bool RunMonitorDelivery(Delivery delivery);

    class CGatedDelivery : public CPostedDelivery
    {
    public:
        explicit CGatedDelivery(CSerialLink& link) : m_link(link) {}
        void Run() override;
        void Dropped() override { m_link.FinishDelivery(); }
        std::uint64_t m_nGeneration = 0;

    private:
        CSerialLink& m_link;
    };
    // Gate thread, inside a posted delivery: reads what the device holds into
    // the ring without waiting; false when nothing was read.
    bool ReadWaiting(std::uint64_t generation);
    void FinishDelivery();

    // The descriptor, its users and the close sequence.
    mutable std::mutex m_deviceMutex;
    std::condition_variable m_deviceChanged;
    enum class DeviceState
    {
        Closed,
        Open,
        Closing
    };
    DeviceState m_deviceState = DeviceState::Closed;
    int m_nFd = -1;
    int m_nUsers = 0;
    std::uint64_t m_nGeneration = 0;
    std::uint64_t m_nStartedGeneration = 0;
    int m_nWakeFd = -1;
    std::shared_ptr<CNetworkLine> m_pNetwork; // set while a network line is attached

    std::mutex m_writeMutex; // one writer at a time
    std::atomic<std::uint64_t> m_nWrites{0};

    // Ring, owner and flags, read by deliveries.
    std::mutex m_mutex;
    CRingBuffer m_receiveRing{kRingCapacityBytes};
    CSerialOwner* m_pOwner = nullptr;
    CDeliveryGate* m_pGate = nullptr;
    bool m_bForwarding = false;
    bool m_bPortAlive = true;
    bool m_bClosedByUser = false;
    bool m_bLostReported = false;
    bool m_bMonitorInDelivery = false;
    bool m_bDeliveryPending = false;       // a posted delivery is queued or running
    bool m_bMonitorWaitsForDelivery = false;
    std::condition_variable m_deliveryDone;
    CGatedDelivery m_gatedDelivery{*this};
    unsigned char m_waitingBlock[kDeliveryBufferBytes]; // ReadWaiting's; only one reader at a time
};
