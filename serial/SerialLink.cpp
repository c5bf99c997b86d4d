#include "serial/SerialLink.h"

#include "serial/DeliveryGate.h"
#include "serial/NetworkLine.h"
#include "serial/NetworkLinePark.h"
#include "serial/PosixPortLayer.h"
#include "serial/SerialOwner.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace
{
// How long a close lets a writer finish draining before it discards the output.
constexpr std::chrono::milliseconds kStuckWriterGrace{100};
} // namespace

CSerialLink::CSerialLink() = default;

CSerialLink::~CSerialLink()
{
    // The last holder is gone, so nobody uses the descriptor any more. A
    // network line closes its socket itself.
    if (m_nFd >= 0 && !m_pNetwork)
        posixport::CloseExclusive(m_nFd);
    if (m_nWakeFd >= 0)
        ::close(m_nWakeFd);
}

int CSerialLink::CreateWakeEvent()
{
    std::lock_guard lock(m_deviceMutex);
    if (m_nWakeFd >= 0)
        return 0;
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return errno;
    m_nWakeFd = fd;
    return 0;
}

bool CSerialLink::HasWakeEvent() const
{
    std::lock_guard lock(m_deviceMutex);
    return m_nWakeFd >= 0;
}

std::uint64_t CSerialLink::Attach(int fd, std::shared_ptr<CNetworkLine> network)
{
    {
        std::lock_guard lock(m_mutex);
        m_bClosedByUser = false;
        m_bLostReported = false;
        m_receiveRing.Reset();
    }
    std::lock_guard lock(m_deviceMutex);
    // A wake-up left from an earlier close would end the new monitor at once.
    std::uint64_t pending;
    while (m_nWakeFd >= 0 && ::read(m_nWakeFd, &pending, sizeof pending) > 0)
    {
    }
    m_nFd = fd;
    m_pNetwork = std::move(network);
    m_deviceState = DeviceState::Open;
    return ++m_nGeneration;
}

std::shared_ptr<CNetworkLine> CSerialLink::Network(std::uint64_t generation) const
{
    std::lock_guard lock(m_deviceMutex);
    if (m_deviceState != DeviceState::Open || (generation != 0 && generation != m_nGeneration))
        return nullptr;
    return m_pNetwork;
}

bool CSerialLink::IsOpen() const
{
    std::lock_guard lock(m_deviceMutex);
    return m_deviceState == DeviceState::Open;
}

bool CSerialLink::WaitForMonitorStart(std::uint64_t generation)
{
    std::unique_lock lock(m_deviceMutex);
    m_deviceChanged.wait(lock, [&] {
        return m_nStartedGeneration >= generation || m_deviceState != DeviceState::Open ||
               m_nGeneration != generation;
    });
    return m_deviceState == DeviceState::Open && m_nGeneration == generation;
}

void CSerialLink::StartMonitor(std::uint64_t generation)
{
    std::lock_guard lock(m_deviceMutex);
    m_nStartedGeneration = generation;
    m_deviceChanged.notify_all();
}

CSerialLink::CDeviceUse::~CDeviceUse()
{
    if (m_pLink != nullptr)
        m_pLink->ReleaseUse();
}

CSerialLink::CDeviceUse CSerialLink::Use(std::uint64_t generation)
{
    std::lock_guard lock(m_deviceMutex);
    if (m_deviceState != DeviceState::Open || (generation != 0 && generation != m_nGeneration))
        return {};
    ++m_nUsers;
    return CDeviceUse(this, m_nFd);
}

void CSerialLink::ReleaseUse()
{
    std::lock_guard lock(m_deviceMutex);
    if (--m_nUsers == 0)
        m_deviceChanged.notify_all();
}

void CSerialLink::Close()
{
    CloseDevice(true, 0);
}

bool CSerialLink::CloseDevice(bool byUser, std::uint64_t generation)
{
    if (byUser)
    {
        std::lock_guard lock(m_mutex);
        m_bClosedByUser = true;
    }
    std::unique_lock lock(m_deviceMutex);
    if (generation != 0 && generation != m_nGeneration)
        return false;
    if (m_deviceState == DeviceState::Closed)
        return true;
    if (m_deviceState == DeviceState::Closing)
    {
        m_deviceChanged.wait(lock, [this] { return m_deviceState == DeviceState::Closed; });
        return true;
    }
    m_deviceState = DeviceState::Closing;
    // Wake the monitor's poll and any writer waiting for room; the event stays
    // set, so a poll begun after this returns at once as well.
    if (m_nWakeFd >= 0)
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(m_nWakeFd, &one, sizeof one);
    }
    if (m_pNetwork)
    {
        // Every use of a socket is a non-blocking call or a poll that the wake-up ends.
        m_deviceChanged.wait(lock, [this] { return m_nUsers == 0; });
        std::shared_ptr<CNetworkLine> network = std::move(m_pNetwork);
        m_nFd = -1;
        m_deviceState = DeviceState::Closed;
        m_deviceChanged.notify_all();
        lock.unlock();
        // A lost line closes as the last holder lets it go.
        if (byUser)
            ParkNetworkLine(std::move(network));
        return true;
    }
    // Keep what was written: the far side may not have read it yet. Only a
    // writer still stuck in tcdrain after a moment (a far side that stopped
    // reading) has the output discarded to release it.
    posixport::FlushInput(m_nFd);
    if (!m_deviceChanged.wait_for(lock, kStuckWriterGrace, [this] { return m_nUsers == 0; }))
        posixport::FlushBoth(m_nFd);
    // Every use is a non-blocking call or a poll that the wake-up ends, so this is short.
    m_deviceChanged.wait(lock, [this] { return m_nUsers == 0; });
    posixport::CloseExclusive(m_nFd);
    m_nFd = -1;
    m_deviceState = DeviceState::Closed;
    m_deviceChanged.notify_all();
    return true;
}

int CSerialLink::WriteAll(const void* data, std::size_t length)
{
    std::lock_guard writer(m_writeMutex);
    m_nWrites.fetch_add(1, std::memory_order_relaxed);
    auto use = Use();
    if (!use)
        return EBADF;
    if (auto network = Network())
        return network->Send(data, length, m_nWakeFd);
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t sent = 0;
    while (sent < length)
    {
        const ssize_t n = ::write(use.fd(), bytes + sent, length - sent);
        if (n > 0)
        {
            sent += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return errno;
        // The driver's queue is full: wait for room or for the close.
        pollfd fds[2] = {{use.fd(), POLLOUT, 0}, {m_nWakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, m_nWakeFd >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno != EINTR)
            return errno;
        if (fds[1].revents != 0)
            return ECANCELED;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
            return EIO;
    }
    if (length == 0)
        return 0;
    // The caller's next step (a pause, another write, a reopen at another rate)
    // must come after these bytes have left.
    return posixport::DrainOutput(use.fd());
}

void CSerialLink::Purge()
{
    if (auto use = Use())
    {
        if (auto network = Network())
            network->Purge(m_nWakeFd);
        else
            posixport::FlushInput(use.fd());
    }
    std::lock_guard lock(m_mutex);
    m_receiveRing.Reset();
}

int CSerialLink::StoreReceived(const void* data, int length)
{
    std::lock_guard lock(m_mutex);
    return m_receiveRing.Write(data, length);
}

int CSerialLink::TakeReceived(char* destination, int maximum)
{
    std::lock_guard lock(m_mutex);
    return m_receiveRing.Read(destination, std::min(maximum, m_receiveRing.Count()));
}

int CSerialLink::HeldCount()
{
    std::lock_guard lock(m_mutex);
    return m_receiveRing.Count();
}

void CSerialLink::SetForwarding(CSerialOwner* owner, CDeliveryGate* gate)
{
    std::lock_guard lock(m_mutex);
    m_bForwarding = true;
    m_pOwner = owner;
    m_pGate = gate;
}

void CSerialLink::SetOwner(CSerialOwner* owner)
{
    std::lock_guard lock(m_mutex);
    m_pOwner = owner;
}

void CSerialLink::MarkPortDeleted()
{
    std::lock_guard lock(m_mutex);
    m_bPortAlive = false;
    m_pOwner = nullptr;
}

bool CSerialLink::MonitorInDelivery()
{
    std::lock_guard lock(m_mutex);
    return m_bMonitorInDelivery || m_bDeliveryPending;
}

void CSerialLink::DeliverPending()
{
    char chunk[kDeliveryBufferBytes];
    for (;;)
    {
        CSerialOwner* owner;
        int count;
        {
            // The bytes and the owner are taken together, so one delivery goes
            // wholly to the owner of that moment.
            std::lock_guard lock(m_mutex);
            if (!m_bPortAlive || m_bClosedByUser || !m_bForwarding)
                return;
            if (m_pOwner == nullptr)
            {
                // Nobody listens: the bytes go, rather than reach a later owner stale.
                m_receiveRing.Reset();
                return;
            }
            count = m_receiveRing.Read(chunk, std::min(kDeliveryMaxBytes, m_receiveRing.Count()));
            if (count == 0)
                return;
            owner = m_pOwner;
        }
        // The owner may delete the port, purge it or switch owners in here; the
        // next round sees that under the lock.
        owner->OnReceive(chunk, count);
    }
}

template <typename Delivery>
bool CSerialLink::RunMonitorDelivery(Delivery delivery)
{
    CDeliveryGate* gate;
    {
        std::lock_guard lock(m_mutex);
        if (!m_bPortAlive || m_bClosedByUser || !m_bForwarding)
            return false;
        m_bMonitorInDelivery = true;
        gate = m_pGate;
    }
    if (gate != nullptr)
    {
        // The step holds the block, so it stays valid even if the gate runs it
        // after this thread stopped waiting.
        auto self = shared_from_this();
        gate->RunDelivery([self, delivery] { delivery(*self); });
    }
    else
    {
        delivery(*this);
    }
    std::lock_guard lock(m_mutex);
    m_bMonitorInDelivery = false;
    return true;
}

void CSerialLink::DeliverFromMonitor(std::uint64_t generation)
{
    CDeliveryGate* gate;
    {
        std::lock_guard lock(m_mutex);
        if (!m_bPortAlive || m_bClosedByUser || !m_bForwarding)
            return;
        gate = m_pGate;
        if (gate != nullptr)
        {
            m_bDeliveryPending = true;
            m_gatedDelivery.m_nGeneration = generation;
        }
    }
    if (gate != nullptr)
        gate->PostDelivery(m_gatedDelivery);
    else
        RunMonitorDelivery([](CSerialLink& link) { link.DeliverPending(); });
}

bool CSerialLink::DeliveryPending()
{
    std::lock_guard lock(m_mutex);
    return m_bDeliveryPending;
}

void CSerialLink::WaitForDelivery()
{
    std::unique_lock lock(m_mutex);
    m_bMonitorWaitsForDelivery = true;
    m_deliveryDone.wait(lock, [this] { return !m_bDeliveryPending; });
    m_bMonitorWaitsForDelivery = false;
}

void CSerialLink::FinishDelivery()
{
    std::lock_guard lock(m_mutex);
    m_bDeliveryPending = false;
    if (m_bMonitorWaitsForDelivery)
        m_deliveryDone.notify_all();
}

bool CSerialLink::ReadWaiting(std::uint64_t generation)
{
    // A network line's bytes hold Telnet commands: only the monitor decodes them.
    if (Network(generation))
        return false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_bPortAlive || m_bClosedByUser || !m_bForwarding || m_pOwner == nullptr)
            return false;
    }
    ssize_t n;
    {
        auto use = Use(generation);
        if (!use)
            return false;
        n = ::read(use.fd(), m_waitingBlock, sizeof m_waitingBlock);
    }
    // Nothing there (EAGAIN), or an end the monitor's poll will see and report.
    if (n <= 0)
        return false;
    StoreReceived(m_waitingBlock, int(n));
    return true;
}

void CSerialLink::CGatedDelivery::Run()
{
    const std::uint64_t writesBefore = m_link.m_nWrites.load(std::memory_order_relaxed);
    m_link.DeliverPending();
    const bool answered = m_link.m_nWrites.load(std::memory_order_relaxed) != writesBefore;
    CDeliveryGate* gate;
    {
        std::lock_guard lock(m_link.m_mutex);
        gate = m_link.m_pGate;
    }
    // Queued again rather than looped here, so steps posted meanwhile keep their turn.
    if (answered && gate != nullptr && m_link.ReadWaiting(m_nGeneration))
        gate->PostDelivery(*this);
    else
        m_link.FinishDelivery();
}

void CSerialLink::ReportLostFromMonitor(int error, std::uint64_t generation)
{
    // The device is closed first, so the owner may reopen the same port at once.
    // A device opened again on this block meanwhile is not the one lost.
    if (!CloseDevice(false, generation))
        return;
    RunMonitorDelivery([error, generation](CSerialLink& link) {
        {
            std::lock_guard lock(link.m_deviceMutex);
            if (generation != link.m_nGeneration)
                return;
        }
        CSerialOwner* owner;
        {
            std::lock_guard lock(link.m_mutex);
            if (!link.m_bPortAlive || link.m_bClosedByUser || link.m_bLostReported || link.m_pOwner == nullptr)
                return;
            link.m_bLostReported = true;
            owner = link.m_pOwner;
        }
        owner->OnPortLost(error);
    });
}
