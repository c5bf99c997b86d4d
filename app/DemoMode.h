// Demo mode: the simulated receiver runs in this process on a pseudo-terminal
// that stands in for COM2, and the "Demo" menu powers it on for a download or
// an upload, with a fault to inject if wanted. The receiver keeps what a
// download brought, so an upload after it reads that data back (a byte of it
// changed, with the corrupt fault). A newcomer with no receiver can
// Browse a shipped sample image and watch a whole transfer at the chosen baud
// rate: the receiver is paced at the line's rate.
#pragma once

#include "receiver/SimulatedReceiver.h"
#include "ui/qt/TimedLog.h"

#include <QObject>
#include <QString>

#include <functional>
#include <string>

class CLumView;
class CMainFrame;
class CMessageBoxBroker;
class QActionGroup;
class QMenu;

class CDemoMode : public QObject
{
    Q_OBJECT
public:
    // A fault the menu offers: its receiver syntax and the role it applies to.
    struct FaultChoice
    {
        const char* label;
        const char* spec; // "" for none
        ReceiverRole role;
    };
    static const std::vector<FaultChoice>& FaultChoices();

    CDemoMode();
    ~CDemoMode() override;

    // Starts the receiver and points COM2 at its line. Before the pages are
    // built. False with the reason when that fails.
    bool Start(std::string& error);
    // Adds the "&Demo" menu and the receiver's log to the main window.
    void Install(CMainFrame* frame, CMessageBoxBroker* broker);

    // Menu actions (window thread).
    bool PowerOn(ReceiverRole role);
    void PowerOff();
    void SetFault(const std::string& spec) { m_strFault = spec; }
    void SetPaced(bool paced) { m_bPaced = paced; }

    // Where the shipped sample images are (made on first use when the program
    // runs from a folder that has none).
    QString SamplesFolder() const { return m_strSamples; }
    CTimedLog* LogModel() { return &m_log; }
    CSimulatedReceiver& Receiver() { return m_receiver; }
    // The end of the last session, as the receiver reported it.
    QString LastResult() const { return m_strLastResult; }

signals:
    void SessionEnded(bool succeeded, const QString& text);

private:
    void AddLine(const QString& line);
    void Tell(const std::string& text);
    static QString FindOrMakeSamples();

    CSimulatedReceiver m_receiver;
    CMessageBoxBroker* m_pBroker = nullptr;
    CLumView* m_pView = nullptr; // the form, for the chosen baud rate
    CTimedLog m_log;
    QString m_strSamples;
    QString m_strLastResult;
    std::string m_strFault;
    bool m_bPaced = true;
};
