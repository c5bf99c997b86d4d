// The --log FILE of `kavdm download` and `kavdm upload`: lines appended to the
// file, each opening with the local date and time to the millisecond. Written
// from the protocol thread and the main thread alike, so each line is whole.
//
// The log never holds up or ends a transfer: it is opened without waiting (a
// FIFO nobody reads is refused at once), and once a line cannot be written (a
// full disk, a reader that went away or lags) that is said once on stderr and
// the log is given up while the transfer goes on.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

class CTransferLog
{
public:
    // `who` opens the message about a log that could no longer be written ("kavdm upload").
    explicit CTransferLog(std::string who = "kavdm") : m_strWho(std::move(who)) {}
    ~CTransferLog(); // Close()
    CTransferLog(const CTransferLog&) = delete;
    CTransferLog& operator=(const CTransferLog&) = delete;

    // Opens `path` for appending; false with the system's reason in `error`.
    bool Open(const std::string& path, std::string& error);
    // Appends one line (several when `text` holds line breaks); nothing when not open.
    void Write(const std::string& text);
    // Closes the file; a failure is said as a failed write is.
    void Close();

private:
    // Says once why the log is given up and closes it (under the lock).
    void GiveUp(int error);

    std::mutex m_mutex;
    std::FILE* m_pFile = nullptr;
    std::string m_strPath;
    std::string m_strWho;
};
