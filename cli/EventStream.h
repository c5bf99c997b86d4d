// JSON Lines events for factory systems: one object per line, each opening with
// the schema version and the event's name ({"v":1,"event":"progress",...}),
// then its time (UTC, ISO 8601) and its own fields. Written to a file
// descriptor by a thread of its own (cli/AsyncWriter.h), one write per line, so
// lines from several threads never mix and a slow reader never holds up a
// transfer. A write that fails (a reader that went away, a full disk) stops
// the stream and nothing else: the program goes on without events.
#pragma once

#include "cli/AsyncWriter.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <string>

inline constexpr int kEventSchemaVersion = 1;

// The line of one event, '\n' included. Text that is not UTF-8 is replaced, not refused.
std::string EncodeEvent(const std::string& name, const nlohmann::ordered_json& fields,
                        std::chrono::system_clock::time_point time);

class CEventStream
{
public:
    // Writes to `fd` (not owned). A broken pipe is reported as a failed write,
    // not by SIGPIPE: the process ignores that signal from here on.
    explicit CEventStream(int fd);

    // Queues one event; thread-safe, never waits for the reader.
    void Emit(const std::string& name, const nlohmann::ordered_json& fields = nlohmann::ordered_json::object());
    // Queues a line as it is ('\n' included), for events passed on from elsewhere.
    void EmitLine(std::string line);
    // Waits, at most CAsyncWriter::kDrainTime, until the events are written.
    void Flush();

private:
    CAsyncWriter m_writer;
};

// Writes all of `text` to `fd`, going on after interruptions and short writes.
// False with errno set when a write fails.
bool WriteAll(int fd, const std::string& text);
