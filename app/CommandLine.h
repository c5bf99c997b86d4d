// The options of kavdm-gui: --demo (run on the simulated receiver) and
// --comN PATH (point COMn at a device path, e.g. a USB adapter or a pty).
#pragma once

#include <map>
#include <string>
#include <vector>

struct GuiOptions
{
    bool bDemo = false;
    bool bHelp = false;
    std::map<int, std::string> portDevices; // COM number -> device path
    std::string strError;                   // not empty: the arguments were wrong
};

GuiOptions ParseGuiOptions(const std::vector<std::string>& arguments);
const char* GuiUsage();
