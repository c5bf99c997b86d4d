// The log of the transfer pages. The pages keep their log list and status line
// hidden as their templates do; this window lets the user read both logs,
// newest line first and with the time of each line, while they grow, and
// save them ("Save Log...").
#pragma once

#include <QDialog>

class CPageWidget;
class CTimedLog;
class QTabWidget;

class CLogWindow : public QDialog
{
    Q_OBJECT
public:
    CLogWindow(CPageWidget* download, CPageWidget* upload, QWidget* parent = nullptr);
    QTabWidget* Tabs() const { return m_pTabs; }
    // Another log to show, in a tab of its own (the demo's receiver).
    void AddLog(const QString& title, CTimedLog* log);

signals:
    void SaveRequested();

private:
    QTabWidget* m_pTabs;
};
