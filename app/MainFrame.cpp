#include "app/MainFrame.h"

#include "Version.h"
#include "app/AboutDlg.h"
#include "app/PortSettingsDlg.h"
#include "serial/PortNames.h"
#include "ui/ControlIds.h"
#include "ui/UploadPage.h"
#include "ui/qt/CompareDialog.h"
#include "ui/qt/GuiSettings.h"
#include "ui/qt/LogWindow.h"
#include "ui/qt/LumView.h"
#include "ui/qt/MessageBoxBroker.h"
#include "ui/qt/PageWidget.h"
#include "ui/qt/Pictures.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QSaveFile>
#include <QScrollArea>

namespace
{
// The first local file among the dropped items, "" when there is none.
QString DroppedFile(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return {};
    for (const QUrl& url : data->urls())
    {
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile())
            return url.toLocalFile();
    }
    return {};
}
} // namespace

CMainFrame::CMainFrame(GuiContext context, QWidget* parent) : QMainWindow(parent), m_broker(context.broker)
{
    setObjectName(QStringLiteral("CMainFrame"));
    setWindowTitle(QStringLiteral("Kavronel Download Manager"));
    setWindowIcon(Pictures::AppIcon());
    resize(kWidthPx, kHeightPx);
    setAcceptDrops(true);

    QMenu* menu = menuBar()->addMenu(QStringLiteral("&Menu"));
    QAction* browse = menu->addAction(QStringLiteral("&Browse..."));
    browse->setObjectName(QStringLiteral("actionBrowse"));
    browse->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(browse, &QAction::triggered, this, [this] { m_pView->BrowseCurrentPage(); });
    m_pRecentMenu = menu->addMenu(QStringLiteral("&Recent Images"));
    m_pRecentMenu->setObjectName(QStringLiteral("menuRecent"));
    connect(m_pRecentMenu, &QMenu::aboutToShow, this, &CMainFrame::FillRecentMenu);
    QAction* compare = menu->addAction(QStringLiteral("&Compare Images..."));
    compare->setObjectName(QStringLiteral("actionCompareImages"));
    connect(compare, &QAction::triggered, this, &CMainFrame::OnCompareImages);
    menu->addSeparator();
    QAction* ports = menu->addAction(QStringLiteral("&Port Settings..."));
    ports->setObjectName(QStringLiteral("actionPortSettings"));
    connect(ports, &QAction::triggered, this, &CMainFrame::OnPortSettings);
    menu->addSeparator();
    QAction* showLog = menu->addAction(QStringLiteral("Show &Log"));
    showLog->setObjectName(QStringLiteral("actionShowLog"));
    connect(showLog, &QAction::triggered, this, &CMainFrame::OnShowLog);
    QAction* saveLog = menu->addAction(QStringLiteral("&Save Log..."));
    saveLog->setObjectName(QStringLiteral("actionSaveLog"));
    connect(saveLog, &QAction::triggered, this, &CMainFrame::OnSaveLog);
    menu->addSeparator();
    QAction* exitAction = menu->addAction(QStringLiteral("E&xit"));
    exitAction->setObjectName(QStringLiteral("actionExit"));
    exitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(exitAction, &QAction::triggered, this, &QWidget::close);
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    QAction* about = help->addAction(QStringLiteral("&About Download Manager"));
    about->setObjectName(QStringLiteral("actionAbout"));
    connect(about, &QAction::triggered, this, &CMainFrame::OnAppAbout);

    // The form scrolls when the window is smaller than it.
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    m_pView = new CLumView(std::move(context), scroll);
    scroll->setWidget(m_pView);
    scroll->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setCentralWidget(scroll);
}

CMainFrame::~CMainFrame()
{
    m_pView->ShutDown();
}

QMenu* CMainFrame::AddMenu(const QString& title)
{
    return menuBar()->addMenu(title);
}

void CMainFrame::AddLogSource(const QString& title, CTimedLog* log)
{
    m_logSources.emplace_back(title, log);
    if (m_pLogWindow)
        m_pLogWindow->AddLog(title, log);
}

void CMainFrame::OnAppAbout()
{
    auto* about = new CAboutDlg(this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->open();
}

void CMainFrame::OnShowLog()
{
    if (!m_pView->PageWidget(1))
        return; // the pages are not built yet
    if (!m_pLogWindow)
    {
        m_pLogWindow = new CLogWindow(m_pView->PageWidget(1), m_pView->PageWidget(2), this);
        for (const auto& [title, log] : m_logSources)
            m_pLogWindow->AddLog(title, log);
        connect(m_pLogWindow, &CLogWindow::SaveRequested, this, &CMainFrame::OnSaveLog);
    }
    m_pLogWindow->show();
    m_pLogWindow->raise();
}

void CMainFrame::OnSaveLog()
{
    if (!m_pView->PageWidget(1))
        return;
    const QString name = QStringLiteral("kavdm-log-%1.txt")
                             .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")));
    const std::optional<QString> path =
        m_pView->ChooseFile(FileDialogRequest{QStringLiteral("Text file (*.txt)|*.txt|All file (*.*)|*.*|"),
                                              name, QStringLiteral("txt"), true, QDir::homePath(), true});
    if (!path)
        return;

    std::vector<std::pair<QString, const CTimedLog*>> logs = {
        {QStringLiteral("DOWNLOAD"), m_pView->PageWidget(1)->TimedLog()},
        {QStringLiteral("UPLOAD"), m_pView->PageWidget(2)->TimedLog()}};
    for (const auto& [title, log] : m_logSources)
        logs.emplace_back(title, log);
    const int port = m_pView->ComPort() + 1;
    QStringList lines = {
        QStringLiteral("Kavronel Download Manager %1, log saved %2")
            .arg(QString::fromLatin1(kKavdmVersion), QDateTime::currentDateTime().toString(Qt::ISODate)),
        QStringLiteral("Port: COM%1 (%2)").arg(port).arg(QString::fromStdString(PortDevicePath(port))),
        QString()};
    lines += CTimedLog::MergedLines(logs);

    QSaveFile file(*path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) ||
        file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) < 0 || !file.commit())
    {
        m_broker.ShowAndWait(BoxRequest{"Cannot save the log", BoxIcon::Error,
                                        (*path + QStringLiteral(": ") + file.errorString()).toStdString()});
    }
}

void CMainFrame::OnPortSettings()
{
    auto* dialog = new CPortSettingsDlg(ListSerialDevices(), CGuiSettings().Ports(), m_portOverrides, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] { ApplyPortChoices(dialog->Choices()); });
    dialog->open();
}

void CMainFrame::OnCompareImages()
{
    // The image being sent, else the newest recent one; and the file an upload read back, once written.
    const auto pageText = [this](int page, int id)
    {
        const auto* edit = m_pView->PageWidget(page) ? m_pView->PageWidget(page)->ControlAs<QLineEdit>(id) : nullptr;
        return edit ? edit->text() : QString();
    };
    QString first = pageText(CLumView::DownloadPage, IDC_FILE_EDIT);
    if (first.isEmpty())
        first = CGuiSettings().RecentFiles().value(0);
    QString second = pageText(CLumView::UploadPage, IDC_UPLOAD_FILE_EDIT);
    if (!QFileInfo(second).isFile())
        second.clear();
    auto* dialog = new CCompareDialog(first, second,
                                      [this](const FileDialogRequest& request) { return m_pView->ChooseFile(request); },
                                      this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void CMainFrame::ApplyPortChoices(const std::map<int, QString>& choices)
{
    const int current = m_pView->ComPort() + 1;
    const std::string before = PortDevicePath(current);
    CGuiSettings settings;
    for (const auto& [number, device] : choices)
    {
        settings.SetPort(number, device);
        if (m_portOverrides.count(number) == 0)
            SetPortDevice(number, device.toStdString());
    }
    if (!settings.Save())
        m_broker.ShowAndWait(BoxRequest{"Cannot save the port settings", BoxIcon::Error,
                                        CGuiSettings::FilePath().toStdString() + ": cannot be written"});
    // The port in use now stands for another device: open that one.
    if (PortDevicePath(current) != before)
        m_pView->ReopenPort();
}

void CMainFrame::FillRecentMenu()
{
    m_pRecentMenu->clear();
    const QStringList files = CGuiSettings().RecentFiles();
    int number = 0;
    for (const QString& path : files)
    {
        const QString shown = fontMetrics().elidedText(QDir::toNativeSeparators(path), Qt::ElideMiddle, 420);
        QAction* action = m_pRecentMenu->addAction(QStringLiteral("&%1 %2").arg(++number).arg(
            QString(shown).replace(QLatin1Char('&'), QStringLiteral("&&"))));
        action->setToolTip(path);
        // A file on a medium that is not mounted now stays in the list.
        action->setEnabled(QFileInfo(path).isFile());
        connect(action, &QAction::triggered, this, [this, path] { m_pView->OpenImage(path); });
    }
    if (files.isEmpty())
        m_pRecentMenu->addAction(QStringLiteral("(none)"))->setEnabled(false);
    m_pRecentMenu->addSeparator();
    QAction* clear = m_pRecentMenu->addAction(QStringLiteral("&Clear List"));
    clear->setEnabled(!files.isEmpty());
    connect(clear, &QAction::triggered, this,
            []
            {
                CGuiSettings settings;
                settings.ClearRecentFiles();
            });
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // Nothing to save: the document is never modified. Close the boxes, end the
    // pages and the port, then let the window go.
    m_pView->ShutDown();
    event->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    const QString path = DroppedFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    m_pView->OpenImage(path);
}
