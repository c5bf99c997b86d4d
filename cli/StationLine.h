// What a station knows of one of its lines: the port, the unit being served
// and where it stands (from that unit's events), and the units so far. The
// station's loop keeps it; the display and the summary read it.
#pragma once

#include "cli/StationChild.h"
#include "cli/StationPorts.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

enum class StationPhase
{
    Armed,    // the unit's kavdm is starting
    Waiting,  // for the receiver to be switched on
    Transfer, // the receiver started
    Done,     // no more units on this line
};

struct StationLine
{
    StationPort port;

    // The unit under way (or the last one, once Done).
    int unit = 0;
    StationPhase phase = StationPhase::Armed;
    std::unique_ptr<CStationChild> child;
    std::string output; // an upload unit's file (the template filled in)
    std::chrono::system_clock::time_point armedAt;
    std::optional<std::chrono::system_clock::time_point> startedAt;
    int module = 0;
    std::string moduleKind;
    std::int64_t bytesDone = 0;
    std::int64_t bytesTotal = 0;
    double rate = 0;
    double elapsed = 0;
    std::optional<double> estimate;
    int lastDecile = -1; // of the plain lines' progress
    std::string endedLine; // the unit's "ended" event, "" until it came

    // The units so far.
    int complete = 0;
    int failed = 0;
    int timedOut = 0;
    std::string lastResult; // the last unit's result and reason, for the row
    std::vector<std::string> failures; // "unit 2: status-report: ..."

    int Units() const { return complete + failed + timedOut; }
};
