// Message boxes asked for by the protocol thread and shown on the window
// thread. The protocol thread waits until the user has closed its box; the
// window thread never waits. How a box is shown is up to a presenter (a real
// message box, or a test's recorder), so tests never block on a modal box.
// At shutdown the broker closes every open box and releases the waiting
// thread, and later requests return at once.
#pragma once

#include "ui/PageWindow.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>


struct BoxRequest
{
    std::string text;
    BoxIcon icon = BoxIcon::Information;
    std::string detail; // the system's reason and a hint; shown as the box's details
};

class CBoxPresenter
{
public:
    virtual ~CBoxPresenter() = default;
    // Shows the box on the window thread and returns at once; `closed` is called
    // (on the window thread) when the user has closed it.
    virtual void Present(const BoxRequest& request, std::function<void()> closed) = 0;
    // Closes whatever is still open (program exit).
    virtual void CloseAll() = 0;
};

// The real thing: a window-modal QMessageBox captioned "DOWNLOAD MANAGER".
class CQtBoxPresenter : public CBoxPresenter
{
public:
    explicit CQtBoxPresenter(QWidget* parent) : m_pParent(parent) {}
    void Present(const BoxRequest& request, std::function<void()> closed) override;
    void CloseAll() override;

private:
    QPointer<QWidget> m_pParent;
    std::vector<QPointer<QWidget>> m_boxes;
};

class CMessageBoxBroker : public QObject
{
    Q_OBJECT
public:
    explicit CMessageBoxBroker(std::unique_ptr<CBoxPresenter> presenter, QObject* parent = nullptr);
    ~CMessageBoxBroker() override;

    // From any thread but the window thread: shows the box and waits until it
    // is closed or the broker shuts down.
    void ShowAndWait(const BoxRequest& request);

    // Window thread: closes open boxes, releases every waiting caller.
    void Shutdown();
    bool IsShutDown() const;

    void SetPresenter(std::unique_ptr<CBoxPresenter> presenter);
    CBoxPresenter* Presenter() const { return m_presenter.get(); }

private:
    struct Pending
    {
        bool bClosed = false;
    };
    void Release(const std::shared_ptr<Pending>& pending);

    std::unique_ptr<CBoxPresenter> m_presenter;
    mutable std::mutex m_mutex;
    std::condition_variable m_closed;
    bool m_bShutDown = false;
};
