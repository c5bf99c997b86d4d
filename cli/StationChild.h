// One unit's `kavdm download|upload --json` as a child process of the station:
// its events come through a pipe on stdout, its messages through one on stderr;
// both are read without blocking (the station polls them), so a child never
// waits on a full pipe however busy the station is. The child runs in a
// process group of its own (a Ctrl-C on the terminal reaches the station,
// which passes it on once) with the signals at their defaults, and is sent
// SIGTERM should the station die first, so it closes its port cleanly.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

class CStationChild
{
public:
    CStationChild() = default;
    // Kills and reaps a child still running (the station waits for its
    // children before it ends; this is the last resort).
    ~CStationChild();
    CStationChild(const CStationChild&) = delete;
    CStationChild& operator=(const CStationChild&) = delete;

    // Starts argv[0] with the arguments; false with the reason in `error`.
    bool Start(const std::vector<std::string>& argv, std::string& error);

    int OutFd() const { return m_outFd; } // -1 once closed
    int ErrFd() const { return m_errFd; }
    // Reads what the pipe holds now; `onLine` gets each whole line of stdout
    // (without its '\n'). Closes the pipe at its end.
    void ReadOut(const std::function<void(const std::string&)>& onLine);
    void ReadErr();
    // Reaps the child when it has exited; true once it has.
    bool TryReap();
    // Reaped and both pipes read to their end.
    bool Done() const { return m_bReaped && m_outFd < 0 && m_errFd < 0; }
    bool Running() const { return m_pid > 0 && !m_bReaped; }
    void Signal(int signal) const;

    int ExitCode() const { return m_nExitCode; }       // valid once reaped; 128 + N after signal N
    int TermSignal() const { return m_nTermSignal; }   // the signal that ended it, 0 for an exit
    // The last line the child wrote on stderr, for a child that ended without saying why.
    std::string LastErrorLine() const;

private:
    static constexpr std::size_t kMaxLine = 1 << 20; // a longer line is dropped
    static constexpr std::size_t kErrTail = 4096;

    pid_t m_pid = -1;
    bool m_bReaped = false;
    int m_nExitCode = -1;
    int m_nTermSignal = 0;
    int m_outFd = -1;
    int m_errFd = -1;
    std::string m_strLine;    // a stdout line still coming
    bool m_bSkipping = false; // inside a line that grew past kMaxLine
    std::string m_strErrTail;
};
