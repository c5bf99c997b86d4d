#include "ui/qt/MessageBoxBroker.h"

#include <QMessageBox>
#include <QThread>

void CQtBoxPresenter::Present(const BoxRequest& request, std::function<void()> closed)
{
    auto* box = new QMessageBox(request.icon == BoxIcon::Error         ? QMessageBox::Critical
                                : request.icon == BoxIcon::Exclamation ? QMessageBox::Warning
                                                                       : QMessageBox::Information,
                                QString::fromUtf8(kBoxCaption), QString::fromStdString(request.text),
                                QMessageBox::Ok, m_pParent);
    if (!request.detail.empty())
        box->setDetailedText(QString::fromStdString(request.detail));
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box, [closed] { closed(); });
    m_boxes.emplace_back(box);
    box->open();
}

void CQtBoxPresenter::CloseAll()
{
    for (QPointer<QWidget>& box : m_boxes)
    {
        if (auto* open = qobject_cast<QMessageBox*>(box.data()))
            open->done(QMessageBox::Ok);
    }
    m_boxes.clear();
}

CMessageBoxBroker::CMessageBoxBroker(std::unique_ptr<CBoxPresenter> presenter, QObject* parent)
    : QObject(parent), m_presenter(std::move(presenter))
{
}

CMessageBoxBroker::~CMessageBoxBroker()
{
    Shutdown();
}

void CMessageBoxBroker::SetPresenter(std::unique_ptr<CBoxPresenter> presenter)
{
    m_presenter = std::move(presenter);
}

void CMessageBoxBroker::ShowAndWait(const BoxRequest& request)
{
    auto pending = std::make_shared<Pending>();
    {
        std::lock_guard lock(m_mutex);
        if (m_bShutDown)
            return;
    }
    const bool onWindowThread = QThread::currentThread() == thread();
    QMetaObject::invokeMethod(
        this,
        [this, request, pending] {
            if (IsShutDown() || !m_presenter)
            {
                Release(pending);
                return;
            }
            m_presenter->Present(request, [this, pending] { Release(pending); });
        },
        onWindowThread ? Qt::DirectConnection : Qt::QueuedConnection);
    if (onWindowThread)
        return; // never wait on the thread that has to show the box
    std::unique_lock lock(m_mutex);
    m_closed.wait(lock, [&] { return pending->bClosed || m_bShutDown; });
}

void CMessageBoxBroker::Release(const std::shared_ptr<Pending>& pending)
{
    {
        std::lock_guard lock(m_mutex);
        pending->bClosed = true;
    }
    m_closed.notify_all();
}

void CMessageBoxBroker::Shutdown()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_bShutDown)
            return;
        m_bShutDown = true;
    }
    m_closed.notify_all();
    if (m_presenter)
        m_presenter->CloseAll();
}

bool CMessageBoxBroker::IsShutDown() const
{
    std::lock_guard lock(m_mutex);
    return m_bShutDown;
}
