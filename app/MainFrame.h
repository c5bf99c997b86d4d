// The main window: "Kavronel Download Manager", 622 x 535 pixels, the menus
// "&Menu" and "&Help", no toolbar, no status bar, and the form view inside.
// Closing it shuts the pages and the serial port down before the window goes.
#pragma once

#include "ui/qt/GuiContext.h"

#include <QMainWindow>

#include <utility>
#include <vector>

class CLumView;
class CLogWindow;
class QAbstractItemModel;
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
    CLogWindow* LogWindow() const { return m_pLogWindow; }
    // A further log for the log window (the demo's receiver).
    void AddLogSource(const QString& title, QAbstractItemModel* model);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    CLumView* m_pView;
    CLogWindow* m_pLogWindow = nullptr;
    std::vector<std::pair<QString, QAbstractItemModel*>> m_logSources;
};
