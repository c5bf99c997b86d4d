#include "ui/qt/QtPageWindow.h"

#include "protocol/ProtocolThread.h"
#include "serial/PortNames.h"
#include "ui/ControlIds.h"
#include "ui/qt/MessageBoxBroker.h"
#include "ui/qt/PageWidget.h"
#include "ui/qt/PortSetupHint.h"

#include <QApplication>
#include <QCursor>

namespace
{
constexpr const char* kUploadCompleteText = "Upload Complete";
} // namespace

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
    if (id == IDC_FILE_LOCATION)
        m_strFileLocation = text;
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
    // The end of an upload says where the file now is (the box's text stays
    // as the page words it; the place goes into its details).
    std::string detail;
    if (text == kUploadCompleteText && !m_strFileLocation.empty())
        detail = "Saved as " + m_strFileLocation;
    MessageBoxDetail(text, icon, detail);
}

void CQtPageWindow::MessageBoxDetail(const std::string& text, BoxIcon icon, const std::string& detail)
{
    // A port that cannot be opened while USB adapters are plugged in: the
    // details say where to assign one to the port.
    std::string fullDetail = detail;
    if (const int port = FailedPortNumber(text); port > 0)
    {
        const std::string hint = PortSetupHint(port, PortDevicePath(port), ListSerialDevices());
        if (!hint.empty())
            fullDetail += (fullDetail.empty() ? "" : "\n") + hint;
    }
    m_broker.ShowAndWait(BoxRequest{text, icon, fullDetail});
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
