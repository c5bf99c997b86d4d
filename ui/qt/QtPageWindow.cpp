#include "ui/qt/QtPageWindow.h"

#include "protocol/ProtocolThread.h"
#include "serial/PortNames.h"
#include "ui/ControlIds.h"
#include "ui/qt/MessageBoxBroker.h"
#include "ui/qt/PageWidget.h"
#include "ui/qt/PortSetupHint.h"

#include <QApplication>
#include <QCursor>

CQtPageWindow::CQtPageWindow(CPageWidget* widget, CMessageBoxBroker& broker, CProtocolThread& protocol)
    : m_pWidget(widget), m_broker(broker), m_protocol(protocol)
{
}

CQtPageWindow::~CQtPageWindow()
{
    KillAllTimers();
}

template <typename F> void CQtPageWindow::Queue(F&& update)
{
    // Queued with the widget as context: a call still queued when the widget
    // goes away is dropped by Qt.
    QMetaObject::invokeMethod(m_pWidget, std::forward<F>(update), Qt::QueuedConnection);
}

void CQtPageWindow::SetRange(int id, int lower, int upper)
{
    Queue([w = m_pWidget, id, lower, upper] { w->SetRange(id, lower, upper); });
}

void CQtPageWindow::SetPos(int id, int position)
{
    Queue([w = m_pWidget, id, position] { w->SetPos(id, position); });
}

void CQtPageWindow::SetCheck(int id, bool checked)
{
    Queue([w = m_pWidget, id, checked] { w->SetCheck(id, checked); });
}

void CQtPageWindow::SetText(int id, const std::string& text)
{
    Queue([w = m_pWidget, id, text = QString::fromStdString(text)] { w->SetText(id, text); });
}

void CQtPageWindow::SetColor(int id, ColorRef color)
{
    Queue([w = m_pWidget, id, color] { w->SetColor(id, color); });
}

void CQtPageWindow::SetHighlight(int id, bool on)
{
    Queue([w = m_pWidget, id, on] { w->SetHighlight(id, on); });
}

void CQtPageWindow::PlayAnimation(int id, int repeat, int first, int last)
{
    Queue([w = m_pWidget, id, repeat, first, last] { w->PlayAnimation(id, repeat, first, last); });
}

void CQtPageWindow::StopAnimation(int id)
{
    Queue([w = m_pWidget, id] { w->StopAnimation(id); });
}

void CQtPageWindow::InsertLog(int id, const std::string& text)
{
    // Stamped here, when the page writes the line, not when the window shows it.
    Queue([w = m_pWidget, id, text = QString::fromStdString(text), when = QDateTime::currentDateTime()]
          { w->InsertLog(id, text, when); });
}

void CQtPageWindow::MessageBox(const std::string& text, BoxIcon icon)
{
    MessageBoxDetail(text, icon, std::string());
}

void CQtPageWindow::MessageBoxDetail(const std::string& text, BoxIcon icon, const std::string& detail)
{
    m_broker.ShowAndWait(BoxRequest{text, icon, detail});
}

std::string CQtPageWindow::PortOpenHint(int portNumber)
{
    // USB adapters plugged in while the port is none of them: where to assign one.
    return PortSetupHint(portNumber, PortDevicePath(portNumber), ListSerialDevices());
}

void CQtPageWindow::SetTimer(int id, int periodMs)
{
    KillTimer(id);
    m_timers[id] = m_protocol.StartTimer(std::chrono::milliseconds(periodMs), [this, id] {
        if (m_tickHandler)
            m_tickHandler(id);
    });
}

void CQtPageWindow::KillTimer(int id)
{
    auto found = m_timers.find(id);
    if (found == m_timers.end())
        return;
    m_protocol.StopTimer(found->second);
    m_timers.erase(found);
}

void CQtPageWindow::KillAllTimers()
{
    for (const auto& [id, timer] : m_timers)
        m_protocol.StopTimer(timer);
    m_timers.clear();
}

void CQtPageWindow::BeginWaitCursor()
{
    Queue([] { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); });
}

void CQtPageWindow::EndWaitCursor()
{
    Queue([] { QApplication::restoreOverrideCursor(); });
}

void CQtPageWindow::Beep(int /*frequencyHz*/, int /*durationMs*/)
{
    // Desktop sessions have no tone generator; the system bell stands in.
    Queue([] { QApplication::beep(); });
}

void CQtPageWindow::TransferEnded(const TransferEnd& end)
{
    InsertLog(IDC_LOG_LIST, "Transfer ended: " + DescribeTransferEnd(end));
}
