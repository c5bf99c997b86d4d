// kavdm station download IMAGE / kavdm station upload TEMPLATE: the options,
// their checks, and the station run (cli/Station.h).
#include "cli/Commands.h"
#include "cli/Station.h"
#include "cli/TransferEventWindow.h"
#include "cli/TransferRunner.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <unistd.h>

namespace
{
struct StationArguments
{
    std::string direction;
    std::string file;
    std::vector<std::string> ports;
    std::string portsOption;
    int baud = 0;
    double waitSeconds = 0;
    bool verbose = false;
    bool quiet = false;
    bool json = false;
    bool verify = false;
    std::vector<std::string> repeat; // given without a value: {""}
    std::string reportPath;
    std::string logDir;
};

// The program as this process runs it, for the children; and as the user
// called it (the first word of the command line), for the retry command.
std::string ThisProgram()
{
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, std::size_t(length)) : std::string("kavdm");
}

std::string CalledAs()
{
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string first;
    std::getline(in, first, '\0');
    return first.empty() ? "kavdm" : first;
}

int Usage(const std::string& message)
{
    std::fprintf(stderr, "kavdm station: %s\n", message.c_str());
    return kExitUsage;
}

int RunStationCommand(const StationArguments& args, const CLI::App& command)
{
    StationOptions options;
    options.direction = args.direction;
    options.file = args.file;
    options.baud = args.baud;
    if (command.count("--wait") > 0)
        options.waitSeconds = args.waitSeconds;
    options.verbose = args.verbose;
    options.quiet = args.quiet;
    options.json = args.json;
    options.verify = args.verify;
    options.reportPath = args.reportPath;
    options.logDir = args.logDir;
    options.program = ThisProgram();
    options.shownProgram = CalledAs();
    if (!args.repeat.empty())
    {
        const std::string& count = args.repeat.back();
        options.repeat = 0;
        if (!count.empty())
        {
            std::size_t used = 0;
            int units = 0;
            try
            {
                units = std::stoi(count, &used);
            }
            catch (const std::exception&)
            {
                used = 0;
            }
            if (used != count.size() || units < 1)
                return Usage("--repeat takes a number of units per port (1 or more), not \"" + count + "\"");
            options.repeat = units;
        }
    }
    std::string error;
    if (!GatherStationPorts(args.ports, args.portsOption, ListSerialDevices(), options.ports, error))
        return Usage(error);
    if (options.direction == "upload")
    {
        error = CheckOutputTemplate(options.file, options.ports.size(), options.repeat.has_value());
        if (!error.empty())
            return Usage(error);
    }
    return RunStation(options);
}

void AddStationOptions(CLI::App* command, StationArguments& args)
{
    command->add_option("-p,--port", args.ports,
                        "a port to serve (again for each port): a device path, /dev/serial/by-path/..., COMn, "
                        "rfc2217://HOST:PORT or tcp://HOST:PORT")
        ->type_name("PORT")
        ->check(CheckPortArgument, "a device path, COMn or a network URL");
    command->add_option("--ports", args.portsOption,
                        "the ports in a file (one a line, # comments, URLs allowed), or auto: every USB serial "
                        "adapter present, by its /dev/serial/by-path name (the socket)")
        ->type_name("FILE|auto");
    command->add_option("-b,--baud", args.baud, "the rate, as for the single command")
        ->check(CLI::IsMember({9600, 19200, 38400, 57600, 115200}));
    command->add_option("-w,--wait", args.waitSeconds,
                        "a unit times out when its receiver stays silent that long, before or during the transfer")
        ->check(CheckWaitSeconds, "SECONDS > 0")
        ->type_name("SECONDS");
    auto* verbose = command->add_flag("-v,--verbose", args.verbose, "show the pages' log lines");
    command->add_flag("-q,--quiet", args.quiet, "show only the summary (no rows or progress lines)")->excludes(verbose);
    command->add_flag("--json", args.json,
                      "JSON Lines on stdout: every unit's events with its \"port\", and the station's own "
                      "(armed, unit, summary)");
    command->add_option("--repeat", args.repeat,
                        "the production loop: when a unit ends the port is armed for the next receiver; N units "
                        "a port, or until Ctrl-C without N")
        ->expected(0, 1)
        ->type_name("[N]");
    command->add_option("--report", args.reportPath,
                        "append one record per unit to FILE: JSON Lines, or CSV when FILE ends in .csv")
        ->type_name("FILE");
    command->add_option("--log-dir", args.logDir, "one log file per port in DIR, in the --log format")
        ->type_name("DIR");
    command->footer("Each port runs its own kavdm download|upload --json; the healthy ports go on when one fails.\n"
                    "Exit status: 0 every unit complete, 1 any unit failed or timed out, 2 usage, 128+N on "
                    "signal N (the units end cleanly first).\n"
                    "Report records (JSON Lines, or CSV for a .csv FILE; one write and fsync each): unit, start, "
                    "end, port, identity, by_id, usb_serial, direction, baud, file, file_size, file_crc32, bytes, "
                    "seconds, result, reason, exit_code, host, version, verified (the read-back check of --verify: "
                    "true, false, or null/empty when none was made).\n" +
                    std::string(kTransferEventsHelp) +
                    " With --json a station passes on each unit's events with \"port\" added, and adds armed "
                    "(port, unit), unit (port and the report record's fields) and summary (ports, retry, exit_code, "
                    "wall_seconds, cpu_seconds); a station's result may also be crashed or failed (the unit's kavdm "
                    "ended without an ended event).");
}
} // namespace

void AddStationCommand(CLI::App& app, CommandAction& action)
{
    auto* station = app.add_subcommand("station", "serve many receivers at once, one port each")->require_subcommand(1);
    for (const char* direction : {"download", "upload"})
    {
        auto args = std::make_shared<StationArguments>();
        args->direction = direction;
        const bool download = args->direction == "download";
        auto* command = station->add_subcommand(
            direction, download ? "send a BIN or STB image to the receiver on every port"
                                : "read every port's receiver back into a BIN file of its own");
        if (download)
            command->add_option("IMAGE", args->file, "the image file (.bin or .stb)")->required();
        else
            command->add_option("TEMPLATE", args->file,
                                "the BIN file of each unit: {port} (the port as a file name), {unit} (counted per "
                                "port from 1) and {time} (UTC, 20240501T120304Z) are filled in")
                ->required();
        AddStationOptions(command, *args);
        if (download)
            command->add_flag("--verify", args->verify,
                              "each unit reads its receiver's memory back after the download and checks it (as "
                              "kavdm download --verify): a unit that differs fails");
        command->callback(
            [&action, args, command] { action = [args, command] { return RunStationCommand(*args, *command); }; });
    }
}
