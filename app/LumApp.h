// The application: brings up the protocol thread, the box broker and the main
// window with its form view, and tears them down in the right order at exit
// (boxes closed, pages and port ended on the protocol thread, thread stopped,
// then the windows).
#pragma once

#include "app/CommandLine.h"
#include "app/LumDoc.h"
#include "protocol/ProtocolThread.h"
#include "ui/qt/FileChooser.h"
#include "ui/qt/MessageBoxBroker.h"

#include <map>
#include <memory>

class CMainFrame;
class CDemoMode;

class CLumApp
{
public:
    // The name the boxes are captioned with.
    static constexpr const char* kAppName = "DOWNLOAD MANAGER";

    // `presenter` and `chooser` replace the real message boxes and file
    // dialog (tests); null/empty: the real ones.
    explicit CLumApp(GuiOptions options, std::unique_ptr<CBoxPresenter> presenter = nullptr,
                     FileChooser chooser = {});
    ~CLumApp();

    // Creates the main window and the pages and shows the window. False when
    // the window cannot be created (or demo mode cannot start).
    bool InitInstance();
    // Ends the pages, the port and the protocol thread. Idempotent.
    void ExitInstance();

    CMainFrame* MainFrame() const { return m_pMainFrame.get(); }
    CMessageBoxBroker& Broker() { return m_broker; }
    CProtocolThread& Protocol() { return m_protocol; }
    CDemoMode* Demo() const { return m_pDemo.get(); }

private:
    // Port numbers this run takes from an option, the environment or demo mode.
    std::map<int, QString> PortOverrides() const;

    GuiOptions m_options;
    CProtocolThread m_protocol;
    CMessageBoxBroker m_broker;
    FileChooser m_chooser;
    CLumDoc m_doc;
    std::unique_ptr<CDemoMode> m_pDemo;
    std::unique_ptr<CMainFrame> m_pMainFrame;
};
