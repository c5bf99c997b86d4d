#include "app/MainFrame.h"

#include "app/AboutDlg.h"
#include "ui/qt/LogWindow.h"
#include "ui/qt/LumView.h"
#include "ui/qt/Pictures.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QScrollArea>

CMainFrame::CMainFrame(GuiContext context, QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("CMainFrame"));
    setWindowTitle(QStringLiteral("Kavronel Download Manager"));
    setWindowIcon(Pictures::AppIcon());
    resize(kWidthPx, kHeightPx);

    QMenu* menu = menuBar()->addMenu(QStringLiteral("&Menu"));
    QAction* showLog = menu->addAction(QStringLiteral("Show &Log"));
    showLog->setObjectName(QStringLiteral("actionShowLog"));
    connect(showLog, &QAction::triggered, this, &CMainFrame::OnShowLog);
    menu->addSeparator();
    QAction* exitAction = menu->addAction(QStringLiteral("E&xit"));
    exitAction->setObjectName(QStringLiteral("actionExit"));
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

void CMainFrame::AddLogSource(const QString& title, QAbstractItemModel* model)
{
    m_logSources.emplace_back(title, model);
    if (m_pLogWindow)
        m_pLogWindow->AddLog(title, model);
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
        for (const auto& [title, model] : m_logSources)
            m_pLogWindow->AddLog(title, model);
    }
    m_pLogWindow->show();
    m_pLogWindow->raise();
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // Nothing to save: the document is never modified. Close the boxes, end the
    // pages and the port, then let the window go.
    m_pView->ShutDown();
    event->accept();
}
