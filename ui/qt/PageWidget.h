// A tab page's window: the controls of its dialog template, addressed by
// control id. Lives on the window thread; CQtPageWindow forwards the page's
// drawing calls here. Button clicks leave as the signal CommandClicked(id).
#pragma once

#include "ui/PageWindow.h"
#include "ui/qt/DialogTemplates.h"
#include "ui/qt/DialogUnits.h"
#include "ui/qt/TimedLog.h"

#include <QStringListModel>
#include <QWidget>

#include <map>

class CColorText;

class CPageWidget : public QWidget
{
    Q_OBJECT
public:
    CPageWidget(const DialogTemplate& dialog, QWidget* parent = nullptr);

    int TemplateId() const { return m_nTemplateId; }
    QWidget* Control(int id) const;
    template <typename T> T* ControlAs(int id) const { return qobject_cast<T*>(Control(id)); }
    // The log lines, newest first (the list box 1023 shows this model).
    QStringListModel* LogModel() { return &m_logModel; }
    QStringList LogLines() const { return m_logModel.stringList(); }
    // The same lines with the time each was written (the log window's view).
    CTimedLog* TimedLog() { return &m_timedLog; }

    // The page's answer to a child control's colour request: the normal text
    // colour, except for a CColorText whose highlight is on.
    QColor TextColorFor(const QWidget* child) const;

    // The window operations of CPageWindow, on the window thread.
    void SetRange(int id, int lower, int upper);
    void SetPos(int id, int position);
    void SetCheck(int id, bool checked);
    void SetText(int id, const QString& text);
    void SetColor(int id, ColorRef color);
    void SetHighlight(int id, bool on);
    void PlayAnimation(int id, int repeat, int first, int last);
    void StopAnimation(int id);
    void InsertLog(int id, const QString& text, const QDateTime& when = QDateTime::currentDateTime());

signals:
    void CommandClicked(int id);

private:
    void CreateControl(const ControlTemplate& control, const CDialogUnits& units);

    int m_nTemplateId;
    std::map<int, QWidget*> m_controls;
    QStringListModel m_logModel;
    CTimedLog m_timedLog;
};
