// The arguments of kavdm-gui: --demo (run on the simulated receiver), --comN
// PATH (point COMn at a device path or network URL for this run), an image to
// load on the DOWNLOAD page, and --help / --version.
#pragma once

#include <QString>
#include <QStringList>

#include <map>
#include <string>

struct GuiOptions
{
    bool bDemo = false;
    bool bHelp = false;
    bool bVersion = false;
    std::map<int, std::string> portDevices; // COM number -> device path
    QString strImage;                       // absolute path of the image to load, "" for none
    std::string strError;                   // not empty: the arguments were wrong
};

// `arguments` without the program's name (and without the Qt options the
// application object has taken out).
GuiOptions ParseGuiOptions(const QStringList& arguments);
// The text of --help; needs an application object (for the program's name).
QString GuiHelpText();
// Whether the arguments ask for help or the version, which are answered
// before the window system is touched (so they work without a display).
bool AsksOnlyForText(int argc, char** argv);
