// Writes text to a file descriptor on a thread of its own, so that whoever
// produces it never waits for a slow reader, a stalled pipe or a disk that takes
// its time to sync. Each chunk goes out in one write (more only when the system
// takes part of it) and, when asked, is followed by fsync before the next.
// The first failed write stops the writer: later chunks are dropped, the
// producer goes on. A queue that grows past its bound drops the new chunks too,
// and counts them.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

class CAsyncWriter
{
public:
    struct Options
    {
        bool syncEach = false;                  // fsync after every chunk (records that must survive a crash)
        bool ownsFd = false;                    // close the descriptor when done
        std::size_t maxQueuedBytes = 64u << 20; // drop chunks beyond this much unwritten text
    };

    CAsyncWriter(int fd, Options options);
    explicit CAsyncWriter(int fd) : CAsyncWriter(fd, Options{}) {}
    // Finish(kDrainTime).
    ~CAsyncWriter();
    CAsyncWriter(const CAsyncWriter&) = delete;
    CAsyncWriter& operator=(const CAsyncWriter&) = delete;

    static constexpr std::chrono::milliseconds kDrainTime{5000};

    // Queues one chunk; returns at once. Thread-safe.
    void Write(std::string chunk);
    // Waits until everything queued is written (or dropped), at most `timeout`:
    // true when the queue is empty. A reader that never reads cannot hold the
    // program past that time.
    bool Flush(std::chrono::milliseconds timeout);
    // True once a write failed; the system's error number.
    bool Failed() const;
    int Error() const;
    // Chunks dropped because the queue was full or the writer had stopped.
    std::size_t Dropped() const;

private:
    struct State;
    std::shared_ptr<State> m_state; // shared with the thread, which may outlive a writer that gave up waiting
};
