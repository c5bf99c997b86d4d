// The line a page's transfer engine talks over: every byte the download and
// upload engines send, every purge of what the receiver sent, every reopen at a
// new rate goes through this interface. The pages use CPortLine (the serial
// port object, theSerialPort); tests put a recording line in its place, so the
// engines run in memory against a scripted receiver and the virtual clock.
//
// All calls are made on the protocol thread, as every page call is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CPageLine
{
public:
    virtual ~CPageLine() = default;

    // The page's initialisation: when no line is open yet, opens one with its
    // own defaults; then drops what is waiting in its input. The reason why the
    // line could not be opened in `error` ("" when it is open).
    struct OpenResult
    {
        bool created = false; // a new line was made (opened or not)
        std::string error;
        bool ok() const { return error.empty(); }
    };
    virtual OpenResult Open() = 0;
    // Sends bytes; returns once they were handed to the line, in call order.
    virtual void Send(const std::uint8_t* data, std::size_t length) = 0;
    // Drops what was received and not yet delivered.
    virtual void Purge() = 0;
    // Closes the line and opens it again at `baudRate`; a failure is reported
    // to the user by the page. True when the line is open afterwards.
    virtual bool Reopen(int baudRate) = 0;
    // Closes the line; the next Reopen opens it again.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Why the last Open or Reopen failed, in the system's words ("" when unknown).
    virtual std::string OpenFailure() const { return {}; }

    void SendByte(std::uint8_t byte) { Send(&byte, 1); }
};
