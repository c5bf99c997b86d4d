// kavdm-gui: the desktop application of the download manager.
#include "app/CommandLine.h"
#include "app/LumApp.h"
#include "Version.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
// Ctrl-C, SIGTERM, SIGHUP (the terminal closed) or SIGQUIT ends the program the
// way Exit does (port closed, pages ended, an unfinished upload's data kept as
// .partial), and the exit status is then 128 + the signal's number, as for a
// process the signal ended. The handler only notes the signal and writes a byte
// that the window thread reads. A signal the caller ignores (nohup) stays ignored.
int theSignalPipe[2] = {-1, -1};
volatile std::sig_atomic_t theQuitSignal = 0;

void OnQuitSignal(int signal)
{
    if (theQuitSignal == 0)
        theQuitSignal = signal;
    const char byte = 1;
    const ssize_t written = ::write(theSignalPipe[0], &byte, 1);
    (void)written;
}

void QuitOnSignals(QApplication& application)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, theSignalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(theSignalPipe[1], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [notifier] {
        char byte = 0;
        const ssize_t got = ::read(theSignalPipe[1], &byte, 1);
        (void)got;
        notifier->setEnabled(false);
        QApplication::closeAllWindows();
        QApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
    {
        struct sigaction current = {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            sigaction(signal, &action, nullptr);
    }
}
} // namespace

int main(int argc, char** argv)
{
    // Help and the version need no display: answered before the window system
    // is touched.
    if (AsksOnlyForText(argc, argv))
    {
        QCoreApplication core(argc, argv);
        const GuiOptions options = ParseGuiOptions(QCoreApplication::arguments().mid(1));
        if (options.bVersion && !options.bHelp)
            std::printf("kavdm-gui %s\n", kKavdmVersion);
        else
            std::fputs(qPrintable(GuiHelpText()), stdout);
        return 0;
    }
    QApplication application(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("kavdm-gui"));
    QuitOnSignals(application);

    // QApplication has taken its own options out of the arguments by now.
    const GuiOptions options = ParseGuiOptions(QCoreApplication::arguments().mid(1));
    if (!options.strError.empty())
    {
        std::fprintf(stderr, "kavdm-gui: %s\nTry 'kavdm-gui --help'.\n", options.strError.c_str());
        return 2;
    }

    CLumApp app(options);
    if (!app.InitInstance())
        return 1;
    const int status = QApplication::exec();
    app.ExitInstance();
    return theQuitSignal != 0 ? 128 + int(theQuitSignal) : status;
}
