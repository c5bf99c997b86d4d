// --com1 PATH ... --com9 PATH: points a port number at a device for this run.
#include "cli/Commands.h"

#include "serial/PortNames.h"

#include <string>

namespace
{
constexpr int kFirstMappedPort = 1;
constexpr int kLastMappedPort = 9;
} // namespace

void AddPortMapOptions(CLI::App& app)
{
    for (int number = kFirstMappedPort; number <= kLastMappedPort; ++number)
    {
        const std::string name = "--com" + std::to_string(number);
        const std::string help = number <= 6
                                     ? "use this device as COM" + std::to_string(number) + " (default /dev/ttyS" +
                                           std::to_string(number - 1) + ")"
                                     : "use this device or network line (rfc2217://HOST:PORT, tcp://HOST:PORT) for port " +
                                           std::to_string(number) + " (TELNET)";
        app.add_option_function<std::string>(
               name, [number](const std::string& path) { SetPortDevice(number, path); }, help)
            ->type_name("PATH|URL")
            ->group("Serial ports");
    }
    // The options may also follow the subcommand: `kavdm download --com2 /dev/ttyUSB0 ...`.
    app.fallthrough();
}
