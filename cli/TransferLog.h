// The --log FILE of `kavdm download` and `kavdm upload`: lines appended to the
// file, each opening with the local date and time to the millisecond. Written
// from the protocol thread and the main thread alike, so each line is whole.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

class CTransferLog
{
public:
    CTransferLog() = default;
    ~CTransferLog();
    CTransferLog(const CTransferLog&) = delete;
    CTransferLog& operator=(const CTransferLog&) = delete;

    // Opens `path` for appending; false with the system's reason in `error`.
    bool Open(const std::string& path, std::string& error);
    // Appends one line (several when `text` holds line breaks); nothing when not open.
    void Write(const std::string& text);

private:
    std::mutex m_mutex;
    std::FILE* m_pFile = nullptr;
};
