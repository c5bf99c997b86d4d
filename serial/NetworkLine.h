// One open network serial line: the TCP connection, and for rfc2217:// lines
// the Telnet codec with the line settings in force at the far end.
//
// Threads: Connect and Prepare run on the opening thread before the monitor
// thread reads; afterwards the monitor thread calls Received, and the port's
// callers Send, Purge and ApplySettings. One lock keeps the codec, another keeps
// whole commands and data blocks from interleaving on the socket.
#pragma once

#include "serial/NetworkLineUrl.h"
#include "serial/PosixPortLayer.h"
#include "serial/TelnetCodec.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

class CNetworkLine
{
public:
    static constexpr std::chrono::milliseconds kConnectTimeout{4000};
    static constexpr std::chrono::milliseconds kNegotiationTimeout{3000};
    static constexpr std::chrono::milliseconds kReplyTimeout{2000};
    // How long a close waits for the server to end its side, so that the last
    // bytes sent are not cut off by a reset.
    static constexpr std::chrono::milliseconds kCloseGrace{200};

    // Connects, and for rfc2217:// negotiates the options. nullptr on failure,
    // with the errno in `error` and a sentence in `detail` ("" to use strerror).
    static std::shared_ptr<CNetworkLine> Connect(const NetworkLineUrl& url, int& error, std::string& detail);
    ~CNetworkLine();
    CNetworkLine(const CNetworkLine&) = delete;
    CNetworkLine& operator=(const CNetworkLine&) = delete;

    // Before the monitor thread reads: drops what arrived so far (as opening a
    // tty flushes its input), sends the line settings when they differ from
    // those in force and waits, bounded, for the server to confirm the rate.
    // Line bytes that came after the confirmation are kept for TakeEarlyData.
    // 0 or the errno, with `detail` as for Connect.
    int Prepare(const posixport::LineSettings& settings, std::string& detail);
    std::string TakeEarlyData();
    // While the monitor thread reads: sends changed settings without waiting.
    int ApplySettings(const posixport::LineSettings& settings, int wakeFd);

    // Sends line bytes (escaped on rfc2217:// lines); returns when the kernel
    // has them, or when `wakeFd` is signalled (ECANCELED). 0 or the errno.
    int Send(const void* data, std::size_t length, int wakeFd);
    // Asks the server to drop what it received from the line and not sent yet.
    void Purge(int wakeFd);
    // Monitor thread: the line bytes among `length` received bytes; answers
    // the server's negotiation on the way.
    void Received(const void* bytes, std::size_t length, int wakeFd, std::string& data);

    int Fd() const { return m_nFd; }
    const NetworkLineUrl& Url() const { return m_url; }

private:
    CNetworkLine(const NetworkLineUrl& url, int fd) : m_url(url), m_nFd(fd) {}
    int Negotiate(std::string& detail);
    // Reads until `done` says so or `timeout` passes, feeding the codec and
    // sending its replies. 0, ETIMEDOUT, or the errno of a failed read.
    template <typename Done>
    int ReadUntil(std::chrono::milliseconds timeout, Done done, std::string& detail);
    int SendRaw(const std::string& bytes, int wakeFd);
    std::string SettingsRequests(const posixport::LineSettings& settings) const;
    void NoteRawRate(std::uint32_t baudRate);
    // True when these settings still have to go to the server and are now
    // recorded as sent; a raw TCP line never sends them (the rate is noted once).
    bool SettingsToSend(const posixport::LineSettings& settings);

    const NetworkLineUrl m_url;
    const int m_nFd;
    std::mutex m_sendMutex;
    std::mutex m_codecMutex;
    CTelnetCodec m_codec;
    bool m_bSettingsSent = false;
    posixport::LineSettings m_applied;
    std::string m_strEarlyData;
    std::uint32_t m_nRawRate = 0; // tcp:// lines: the rate of the first open (codec lock)
    bool m_bRawRateNoted = false;
};
