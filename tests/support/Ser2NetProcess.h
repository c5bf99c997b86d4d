// Runs ser2net (the Debian package) as a child process serving one device on
// the loopback interface, for end-to-end tests of network lines: writes its
// configuration, starts it in the foreground, waits (bounded) until it listens,
// and stops it by its process id.
#pragma once

#include "support/CommandProcess.h"

#include <memory>
#include <string>

namespace testsupport
{
class CSer2NetProcess
{
public:
    // Serves `device` (at 9600 8N1) on a free port of 127.0.0.1: with the Com
    // Port option (rfc2217) or as raw TCP. False with the reason in `error`.
    bool Start(const std::string& folder, const std::string& device, bool rfc2217, std::string& error);
    // "rfc2217://127.0.0.1:PORT" or "tcp://127.0.0.1:PORT".
    const std::string& Url() const { return m_strUrl; }
    // SIGTERM and a bounded wait; SIGKILL when it does not end.
    void Stop();
    std::string Output() const { return m_process ? m_process->Output() : ""; }

private:
    std::unique_ptr<CCommandProcess> m_process;
    std::string m_strUrl;
};

// A TCP port of 127.0.0.1 that nothing listens on at the moment.
int FreeLoopbackPort();
} // namespace testsupport
