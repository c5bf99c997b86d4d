// The monitor thread of an open port: waits for input or for the close, drains
// the driver in blocks into the receive ring and has the ring delivered to the
// owner after each block. A device that goes away (hang-up, read error, end of
// file) ends the thread after the owner has been told once.
#pragma once

#include <cstdint>
#include <memory>

class CSerialLink;

// The thread's body; `generation` is what Attach() returned for the device.
void MonitorThread(std::shared_ptr<CSerialLink> link, std::uint64_t generation);

// Monitor threads started and not yet ended, in the whole process. A thread
// counts from just before its start until it has made its last delivery, so
// once this reads 0 no owner will be called again (tests, shutdown checks).
int MonitorThreadsRunning();
// Bookkeeping of the count above, for the code that starts a monitor thread.
void NoteMonitorThreadStarting();
void NoteMonitorThreadEnded();
