// kavdm-gui as a process: the signals that end it (Ctrl-C, SIGTERM, a closed
// terminal's SIGHUP, SIGQUIT) take the Exit path - pages ended, an unfinished
// upload's data kept, the port closed - and the exit status is 128 + N, where
// an unhandled signal would kill the process outright.
#include <QProcess>
#include <QtTest>

#include <csignal>

class SignalExitTest : public QObject
{
    Q_OBJECT
private slots:
    void endingSignalsCloseTheProgramTheWayExitDoes()
    {
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        {
            QProcess gui;
            gui.start(QStringLiteral(KAVDM_GUI_BINARY), {QStringLiteral("--demo")});
            QVERIFY(gui.waitForStarted());
            QTest::qWait(1500); // the window is up and the demo's port open
            QCOMPARE(gui.state(), QProcess::Running);
            ::kill(pid_t(gui.processId()), signal);
            QVERIFY(gui.waitForFinished(10000));
            QCOMPARE(gui.exitStatus(), QProcess::NormalExit);
            QCOMPARE(gui.exitCode(), 128 + signal);
        }
    }
};

QTEST_MAIN(SignalExitTest)
#include "SignalExitTest.moc"
