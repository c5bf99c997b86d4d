// The Qt window layer of a page. The page calls it on the protocol thread;
// control updates are queued to the page's widget on the window thread and
// never wait. MessageBox waits for the user through the box broker. The page
// timer runs on the protocol thread itself, so its ticks reach the page in
// order with the deliveries and commands.
#pragma once

#include "ui/PageWindow.h"

#include <QPointer>

#include <functional>
#include <map>

class CPageWidget;
class CMessageBoxBroker;
class CProtocolThread;

class CQtPageWindow : public CPageWindow
{
public:
    CQtPageWindow(CPageWidget* widget, CMessageBoxBroker& broker, CProtocolThread& protocol);
    ~CQtPageWindow() override;

    // What a timer tick calls, with the timer's id (the page's OnTimer). Set on
    // the protocol thread before the page starts its timer.
    void SetTickHandler(std::function<void(int)> handler) { m_tickHandler = std::move(handler); }

    void SetRange(int id, int lower, int upper) override;
    void SetPos(int id, int position) override;
    void SetCheck(int id, bool checked) override;
    void SetText(int id, const std::string& text) override;
    void SetColor(int id, ColorRef color) override;
    void SetHighlight(int id, bool on) override;
    void PlayAnimation(int id, int repeat, int first, int last) override;
    void StopAnimation(int id) override;
    void InsertLog(int id, const std::string& text) override;
    void MessageBox(const std::string& text, BoxIcon icon) override;
    void MessageBoxDetail(const std::string& text, BoxIcon icon, const std::string& detail) override;
    std::string PortOpenHint(int portNumber) override;
    void SetTimer(int id, int periodMs) override;
    void KillTimer(int id) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void Beep(int frequencyHz, int durationMs) override;
    // A line in the page's log: how the transfer ended and why.
    void TransferEnded(const TransferEnd& end) override;

    // Protocol thread: stops every timer of this window (page teardown).
    void KillAllTimers();

private:
    template <typename F> void Queue(F&& update);

    CPageWidget* m_pWidget;
    CMessageBoxBroker& m_broker;
    CProtocolThread& m_protocol;
    std::function<void(int)> m_tickHandler;
    std::map<int, int> m_timers; // page timer id -> protocol thread timer id
};
