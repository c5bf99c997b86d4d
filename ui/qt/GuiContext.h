// What the window side shares with the pages: the protocol thread every page
// call runs on, the broker that shows the pages' message boxes, and the file
// dialog of Browse. Owned by the application (or a test) and handed to the view.
#pragma once

#include "ui/qt/FileChooser.h"

class CProtocolThread;
class CMessageBoxBroker;

struct GuiContext
{
    CProtocolThread& protocol;
    CMessageBoxBroker& broker;
    FileChooser chooseFile;
};
