#include "serial/SerialMonitor.h"

#include "serial/NetworkLine.h"
#include "serial/SerialLink.h"
#include "serial/ThreadPriority.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace
{
constexpr int kBlockBytes = 1024;
// A tty that polls readable but has nothing to read (no hang-up flagged) is
// given this many short pauses before it counts as gone, so it cannot spin.
constexpr int kEmptyReadsBeforeLost = 1000;
constexpr useconds_t kEmptyReadPauseUs = 1000;
std::atomic<int> theRunningMonitors{0};

// Counts the thread as ended when its body leaves, however it leaves, and
// only once the delivery it handed over has run.
struct CMonitorEndNote
{
    CSerialLink& link;
    ~CMonitorEndNote()
    {
        link.WaitForDelivery();
        NoteMonitorThreadEnded();
    }
};
} // namespace

int MonitorThreadsRunning()
{
    return theRunningMonitors.load(std::memory_order_acquire);
}

void NoteMonitorThreadStarting()
{
    theRunningMonitors.fetch_add(1, std::memory_order_acq_rel);
}

void NoteMonitorThreadEnded()
{
    theRunningMonitors.fetch_sub(1, std::memory_order_acq_rel);
}

void MonitorThread(std::shared_ptr<CSerialLink> link, std::uint64_t generation)
{
    const CMonitorEndNote endNote{*link};
    if (!link->WaitForMonitorStart(generation))
        return;
    RaiseThreadPriority({-20, -10, -5, -1});
    // A network line carries Telnet commands among the line bytes, and may
    // have brought line bytes already while it was being opened.
    const std::shared_ptr<CNetworkLine> network = link->Network(generation);
    std::string lineBytes;
    if (link->HeldCount() > 0)
        link->DeliverFromMonitor(generation);
    char block[kBlockBytes];
    int emptyReads = 0;
    for (;;)
    {
        int received = 0;
        bool lost = false;
        int lostError = 0;
        bool deliveryRunning = false;
        {
            auto use = link->Use(generation);
            if (!use)
                return; // closed
            pollfd fds[2] = {{use.fd(), POLLIN, 0}, {link->WakeFd(), POLLIN, 0}};
            const int ready = ::poll(fds, 2, -1);
            if (ready < 0)
            {
                if (errno == EINTR)
                    continue;
                lost = true;
                lostError = errno;
            }
            else if (fds[1].revents != 0)
            {
                return; // the close woke us
            }
            else if (fds[0].revents != 0 && link->DeliveryPending())
            {
                // Bytes came while the last delivery runs: they stay in the driver
                // until it has run (it may read them itself).
                deliveryRunning = true;
            }
            else if (fds[0].revents != 0)
            {
                const ssize_t n = ::read(use.fd(), block, sizeof block);
                if (n > 0 && network)
                {
                    network->Received(block, std::size_t(n), link->WakeFd(), lineBytes);
                    received = int(lineBytes.size());
                    emptyReads = 0;
                    if (received == 0)
                        continue; // commands only
                }
                else if (n > 0)
                {
                    received = int(n);
                    emptyReads = 0;
                }
                else if (n < 0 && errno == EINTR)
                {
                    continue;
                }
                else if (n < 0 && errno == EAGAIN)
                {
                    // Readable without data: only a hang-up or an error explains it.
                    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
                        lost = true;
                    else if (++emptyReads >= kEmptyReadsBeforeLost)
                        lost = true;
                    else
                        ::usleep(kEmptyReadPauseUs);
                }
                else if (n == 0)
                {
                    // End of file on a tty: it was hung up; on a socket: the server closed it.
                    lost = true;
                    lostError = network ? ECONNRESET : 0;
                }
                else
                {
                    lost = true;
                    lostError = errno;
                }
            }
        }
        if (deliveryRunning)
        {
            link->WaitForDelivery();
            continue;
        }
        if (received > 0)
        {
            link->StoreReceived(network ? lineBytes.data() : block, received);
            link->DeliverFromMonitor(generation);
            continue;
        }
        if (lost)
        {
            link->ReportLostFromMonitor(lostError, generation);
            return;
        }
    }
}
