// The main window: "Kavronel Download Manager", 622 x 535 pixels, the menus
// "&Menu" and "&Help", no toolbar, no status bar, and the form view inside.
// The menu also browses on the current page (Ctrl+O), reopens recent images,
// compares two images, sets the ports up, shows and saves the log and exits (Ctrl+Q); an image
// dropped on the window is loaded on the DOWNLOAD page. Closing the window
// shuts the pages and the serial port down before the window goes.
#pragma once

#include "ui/qt/GuiContext.h"

#include <QMainWindow>

#include <map>
#include <utility>
#include <vector>

class CLumView;
class CLogWindow;
class CTimedLog;
class QMenu;

class CMainFrame : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr int kWidthPx = 622;
    static constexpr int kHeightPx = 535;

    CMainFrame(GuiContext context, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CLumView* View() const { return m_pView; }
    QMenu* AddMenu(const QString& title);
    // Opens the About box (window-modal; returns at once).
    void OnAppAbout();
    void OnShowLog();
    // Asks for a text file and writes every log into it, oldest line first.
    void OnSaveLog();
    // Opens the Port Settings dialog (window-modal; returns at once).
    void OnPortSettings();
    // Opens the Compare Images dialog (window-modal; returns at once), offering
    // the image on the DOWNLOAD page and the file the UPLOAD page wrote.
    void OnCompareImages();
    // Keeps the device chosen for each port number and uses it from now on,
    // except where this run takes the port from elsewhere.
    void ApplyPortChoices(const std::map<int, QString>& choices);
    CLogWindow* LogWindow() const { return m_pLogWindow; }
    // A further log for the log window (the demo's receiver).
    void AddLogSource(const QString& title, CTimedLog* log);
    // Port numbers this run takes from an option or the environment, with
    // where from; the Port Settings dialog says so, and leaves them alone.
    void SetPortOverrides(std::map<int, QString> overrides) { m_portOverrides = std::move(overrides); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void FillRecentMenu();

    CLumView* m_pView;
    CMessageBoxBroker& m_broker;
    QMenu* m_pRecentMenu = nullptr;
    CLogWindow* m_pLogWindow = nullptr;
    std::vector<std::pair<QString, CTimedLog*>> m_logSources;
    std::map<int, QString> m_portOverrides;
};
