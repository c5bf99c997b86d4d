#include "app/CommandLine.h"

#include <cctype>

namespace
{
// "--com3" -> 3; 0 when the argument is not a port option.
int PortOptionNumber(const std::string& name)
{
    static const std::string kPrefix = "--com";
    if (name.size() <= kPrefix.size() || name.compare(0, kPrefix.size(), kPrefix) != 0)
        return 0;
    int number = 0;
    for (size_t i = kPrefix.size(); i < name.size(); ++i)
    {
        if (!std::isdigit(static_cast<unsigned char>(name[i])) || number > 1000)
            return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}
} // namespace

GuiOptions ParseGuiOptions(const std::vector<std::string>& arguments)
{
    GuiOptions options;
    for (size_t i = 0; i < arguments.size(); ++i)
    {
        const std::string& argument = arguments[i];
        if (argument == "--demo")
        {
            options.bDemo = true;
            continue;
        }
        if (argument == "--help" || argument == "-h")
        {
            options.bHelp = true;
            continue;
        }
        std::string name = argument;
        std::string value;
        bool hasValue = false;
        if (const size_t equals = argument.find('='); equals != std::string::npos)
        {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            hasValue = true;
        }
        const int port = PortOptionNumber(name);
        if (port <= 0)
        {
            options.strError = "unknown option: " + argument;
            return options;
        }
        if (!hasValue)
        {
            if (i + 1 >= arguments.size())
            {
                options.strError = name + " needs a device path";
                return options;
            }
            value = arguments[++i];
        }
        if (value.empty())
        {
            options.strError = name + " needs a device path";
            return options;
        }
        options.portDevices[port] = value;
    }
    return options;
}

const char* GuiUsage()
{
    return "Usage: kavdm-gui [--demo] [--comN PATH]...\n"
           "  --demo        run on the built-in simulated receiver (COM2), with a Demo menu\n"
           "  --comN PATH   use the device PATH for COMn (e.g. --com3 /dev/ttyUSB0)\n"
           "Without options COM1..COM4 are /dev/ttyS0..3 unless KAVDM_COMn names another device.\n";
}
