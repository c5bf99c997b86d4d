// kavdm-gui: the desktop application of the download manager.
#include "app/CommandLine.h"
#include "app/LumApp.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    // Help needs no display.
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
        {
            std::fputs(GuiUsage(), stdout);
            return 0;
        }
    }
    QApplication application(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("kavdm-gui"));

    // QApplication has taken its own options out of argv by now.
    std::vector<std::string> arguments;
    for (const QString& argument : QCoreApplication::arguments().mid(1))
        arguments.push_back(argument.toStdString());
    const GuiOptions options = ParseGuiOptions(arguments);
    if (options.bHelp)
    {
        std::fputs(GuiUsage(), stdout);
        return 0;
    }
    if (!options.strError.empty())
    {
        std::fprintf(stderr, "kavdm-gui: %s\n%s", options.strError.c_str(), GuiUsage());
        return 2;
    }

    CLumApp app(options);
    if (!app.InitInstance())
        return 1;
    const int status = QApplication::exec();
    app.ExitInstance();
    return status;
}
