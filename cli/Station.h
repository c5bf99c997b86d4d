// `kavdm station download IMAGE` / `kavdm station upload TEMPLATE`: many
// receivers at once, one `kavdm download|upload --json` child per port, all
// started together and read through their events with poll(), so a fault or a
// crash on one line never touches another and no child waits for the station.
// With --repeat a port is armed again when its unit ends (the next receiver);
// every unit can be appended to a report; signals are passed to the children,
// which end cleanly, and the station then exits 128+N.
#pragma once

#include "cli/StationPorts.h"

#include <optional>
#include <string>
#include <vector>

struct StationOptions
{
    std::string direction; // "download" or "upload"
    std::string file;      // the image, or the upload's template with {port}, {unit}, {time}
    std::vector<StationPort> ports;
    int baud = 0;          // 0: the single command's default
    std::optional<double> waitSeconds;
    bool verbose = false;
    bool quiet = false;
    bool json = false;
    bool verify = false;       // download: each unit reads its receiver back and checks it (--verify)
    std::optional<int> repeat; // none: one unit a port; 0: until interrupted; N units a port
    std::string reportPath;
    std::string logDir;
    std::string program;      // the kavdm the children run
    std::string shownProgram; // how the user called it, for the retry command
};

// Runs the station to its end; the exit code (0 all complete, 1 any failed or
// timed out or a file could not be written, 128+N on signal N).
int RunStation(const StationOptions& options);

// The upload template with {port}, {unit} and {time} filled in.
std::string FillOutputTemplate(const std::string& pattern, const std::string& port, int unit, const std::string& time);
// "" when the template is usable for `ports` ports and `repeat`, else why not.
std::string CheckOutputTemplate(const std::string& pattern, std::size_t ports, bool repeat);
