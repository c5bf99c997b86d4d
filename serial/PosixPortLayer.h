// The platform layer under the serial port: a handful of operations on a Linux
// tty (termios, ioctl, flock). Each returns 0 on success or the errno of the
// failure; nothing here keeps state or starts threads.
#pragma once

#include <cstdint>
#include <string>

struct termios;

namespace posixport
{
struct LineSettings
{
    std::uint32_t baudRate = 9600;
    std::uint8_t byteSize = 8; // 5..8
    std::uint8_t parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t stopBits = 0; // 0 one, 1 one and a half (two on Linux), 2 two
};

// Opens `path` for exclusive use: O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC, then
// flock(LOCK_EX|LOCK_NB) and TIOCEXCL, so a second program is refused as busy
// (EBUSY). Stores the descriptor in `fd`; returns 0 or the errno.
int OpenExclusive(const std::string& path, int& fd);

// Raw 8-bit line with the given settings, receiver on, modem lines ignored, no
// flow control, reads that never block (VMIN 1, VTIME 0 on a non-blocking fd).
// Returns 0 or the errno (EINVAL for an unsupported rate, size or code).
int ApplyLineSettings(int fd, const LineSettings& settings);
// The same on a termios record alone (pseudo-terminals ignore size and parity,
// so this is where those are checked). Returns 0 or EINVAL.
int FillLineSettings(termios& tio, const LineSettings& settings);

// Raises or drops DTR and RTS. Pseudo-terminals refuse these; that is ignored.
void SetModemLines(int fd, bool dtr, bool rts);

// Asks the driver to pass received bytes on at once (USB adapters otherwise
// wait up to 16 ms per turnaround). A refusal is ignored.
void RequestLowLatency(int fd);

// Discards both driver queues.
void FlushBoth(int fd);

// Discards the input queue only. Our writes return after tcdrain, so on a real
// line the output queue is already empty when we purge; on a pseudo-terminal
// flushing the output would throw away bytes the far side has not read yet
// (the rate code before a reopen, the end message before a reset).
void FlushInput(int fd);

// Waits until the driver has sent every byte written so far; 0 or the errno.
int DrainOutput(int fd);

// Clears the exclusive flag (the far side of a pseudo-terminal may keep the tty
// open, and a flag left behind would refuse our own reopen), drops DTR and
// closes. The flock goes with the descriptor.
void CloseExclusive(int fd);

// termios speed constant for a rate, 0 when unsupported.
unsigned SpeedCode(std::uint32_t baudRate);
} // namespace posixport
