// kavdm: the command line of the download manager.
#include "Version.h"
#include "cli/Commands.h"

#include <iostream>

int main(int argc, char** argv)
{
    CLI::App app{"kavdm: send images to a satellite receiver over a serial line, read its memory back, "
                 "and work with image files",
                 "kavdm"};
    app.require_subcommand(1);
    app.set_version_flag("-V,--version", std::string("kavdm ") + kKavdmVersion);

    CommandAction action;
    AddPortMapOptions(app);
    AddImageCommand(app, action);
    AddPortsCommand(app, action);
    AddDownloadCommand(app, action);
    AddUploadCommand(app, action);
    AddVerifyCommand(app, action);
    AddReceiverCommand(app, action);
    AddStationCommand(app, action);

    try
    {
        app.parse(argc, argv);
    }
    catch (const CLI::ParseError& e)
    {
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }
    return action ? action() : kExitUsage;
}
