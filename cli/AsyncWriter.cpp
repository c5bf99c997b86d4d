#include "cli/AsyncWriter.h"

#include "cli/EventStream.h"

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>
#include <thread>
#include <unistd.h>

struct CAsyncWriter::State
{
    explicit State(int descriptor, Options writerOptions) : fd(descriptor), options(writerOptions) {}

    const int fd;
    const Options options;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> queue;
    std::size_t queuedBytes = 0;
    bool writing = false; // a chunk taken from the queue is being written
    bool closing = false;
    bool failed = false;
    int error = 0;
    std::size_t dropped = 0;

    void Run()
    {
        std::unique_lock lock(mutex);
        for (;;)
        {
            changed.wait(lock, [this] { return closing || !queue.empty(); });
            if (queue.empty())
                break;
            std::string chunk = std::move(queue.front());
            queue.pop_front();
            queuedBytes -= chunk.size();
            writing = true;
            lock.unlock();
            bool ok = WriteAll(fd, chunk);
            int writeError = ok ? 0 : errno;
            if (ok && options.syncEach && ::fsync(fd) != 0)
            {
                ok = false;
                writeError = errno;
            }
            lock.lock();
            writing = false;
            if (!ok && !failed)
            {
                failed = true;
                error = writeError;
                dropped += queue.size();
                queue.clear();
                queuedBytes = 0;
            }
            changed.notify_all();
        }
        if (options.ownsFd)
            ::close(fd);
    }
};

CAsyncWriter::CAsyncWriter(int fd, Options options) : m_state(std::make_shared<State>(fd, options))
{
    // The thread takes no signals: they stay with the thread that waits for
    // them (a command ends cleanly on SIGINT, it is not killed by it here).
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    // Detached: a writer stuck on a reader that never reads must not keep the
    // program from ending; the thread holds the state it uses.
    std::thread([state = m_state] { state->Run(); }).detach();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

CAsyncWriter::~CAsyncWriter()
{
    Flush(kDrainTime);
    std::lock_guard lock(m_state->mutex);
    m_state->closing = true;
    m_state->changed.notify_all();
}

void CAsyncWriter::Write(std::string chunk)
{
    std::lock_guard lock(m_state->mutex);
    if (m_state->failed || m_state->closing ||
        m_state->queuedBytes + chunk.size() > m_state->options.maxQueuedBytes)
    {
        ++m_state->dropped;
        return;
    }
    m_state->queuedBytes += chunk.size();
    m_state->queue.push_back(std::move(chunk));
    m_state->changed.notify_all();
}

bool CAsyncWriter::Flush(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_for(lock, timeout,
                                     [this] { return m_state->queue.empty() && !m_state->writing; });
}

bool CAsyncWriter::Failed() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->failed;
}

int CAsyncWriter::Error() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->error;
}

std::size_t CAsyncWriter::Dropped() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->dropped;
}
