#include "ui/qt/LumView.h"

#include "protocol/ProtocolThread.h"
#include "ui/ControlIds.h"
#include "ui/DownloadPage.h"
#include "ui/InfoPage.h"
#include "ui/UploadPage.h"
#include "ui/qt/DialogTemplates.h"
#include "ui/qt/DialogUnits.h"
#include "ui/qt/GuiSettings.h"
#include "ui/qt/MessageBoxBroker.h"
#include "ui/qt/PageWidget.h"
#include "ui/qt/PictureLabel.h"
#include "ui/qt/Pictures.h"
#include "ui/qt/QtPageWindow.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>

#include <algorithm>

namespace
{
// Template 101, in dialog units.
constexpr int kFormWidth = 348;
constexpr int kFormHeight = 252;
constexpr QRect kTabRect(5, 79, 334, 168);
// Pages sit this many pixels lower than centred, clear of the row of tabs.
constexpr int kPageDropPx = 20;

const char* const kDownloadFilter = "Bin File or Stb File(*.bin;*.stb)|*.bin;*.stb|All file (*.*)|*.*|";
const char* const kUploadFilter = "Bin File (*.bin)|*.bin|All file (*.*)|*.*|";
// The names the pages' Browse folders are kept under.
const char* const kFolderKeys[] = {"", "download", "upload"};

// The form's tab control has fixed-width tabs: every tab as wide as the widest.
class CFixedWidthTabBar : public QTabBar
{
public:
    using QTabBar::QTabBar;

protected:
    QSize tabSizeHint(int index) const override
    {
        QSize size = QTabBar::tabSizeHint(index);
        for (int i = 0; i < count(); ++i)
            size.setWidth(std::max(size.width(), QTabBar::tabSizeHint(i).width()));
        return size;
    }
};
} // namespace

CLumView::CLumView(GuiContext context, QWidget* parent) : QWidget(parent), m_context(std::move(context))
{
    setObjectName(QStringLiteral("CLumView"));
    BuildForm();
}

CLumView::~CLumView()
{
    ShutDown();
}

void CLumView::BuildForm()
{
    setFont(CDialogUnits::DialogFont());
    const CDialogUnits units(font());
    setFixedSize(units.Size(kFormWidth, kFormHeight));

    // The group box first, so the radio buttons and the combo box lie on top of it.
    auto* group = new QGroupBox(QStringLiteral("COM Port setting :"), this);
    group->setGeometry(units.Rect(20, 45, 291, 26));
    // The caption sits on the frame's top line, as in the template's look.
    group->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.5em; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 6px; padding: 0 2px; }"));

    m_pTabPane = new QFrame(this);
    m_pTabPane->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    m_pTabCtrl = new CFixedWidthTabBar(this);
    m_pTabCtrl->setObjectName(QStringLiteral("tab1000"));
    m_pTabCtrl->setExpanding(false);
    m_pTabCtrl->setDrawBase(false);
    const QRect tabRect = units.Rect(kTabRect.x(), kTabRect.y(), kTabRect.width(), kTabRect.height());
    const int tabHeight = m_pTabCtrl->sizeHint().height() > 0 ? m_pTabCtrl->sizeHint().height() : units.Y(12);
    m_pTabCtrl->setGeometry(tabRect.x(), tabRect.y(), tabRect.width(), tabHeight);
    m_pTabPane->setGeometry(tabRect.adjusted(0, tabHeight - 1, 0, 0));

    m_pComGroup = new QButtonGroup(this);
    m_pComGroup->setExclusive(true);
    const int radioX[4] = {26, 65, 107, 150};
    for (int i = 0; i < 4; ++i)
    {
        auto* radio = new QRadioButton(QStringLiteral(": COM%1").arg(i + 1), this);
        radio->setObjectName(QStringLiteral("radio%1").arg(i == 0 ? 1006 : 1009 + i));
        radio->setGeometry(units.Rect(radioX[i], 56, 38, i == 3 ? 8 : 9).adjusted(0, -2, 0, 2));
        m_pComGroup->addButton(radio, i);
    }
    m_pComGroup->button(m_nComPort)->setChecked(true);

    auto* baudLabel = new QLabel(QStringLiteral("Baud Rate :"), this);
    baudLabel->setGeometry(units.Rect(207, 54, 45, 11));
    m_pBaudRate = new QComboBox(this);
    m_pBaudRate->setObjectName(QStringLiteral("combo1045"));
    m_pBaudRate->addItems({QStringLiteral("    9600"), QStringLiteral("  19200"), QStringLiteral("  38400"),
                           QStringLiteral("  57600"), QStringLiteral("115200")});
    const QRect comboRect = units.Rect(251, 53, 47, 12);
    m_pBaudRate->setGeometry(comboRect.adjusted(0, -2, 0, 2));

    auto* logo = new CPictureLabel(&Pictures::Logo, this);
    logo->setObjectName(QStringLiteral("logo"));
    logo->setGeometry(QRect(QPoint(units.X(105), units.Y(5)), logo->PictureSize()));

    connect(m_pTabCtrl, &QTabBar::currentChanged, this, &CLumView::OnTabChanged);
    connect(m_pComGroup, &QButtonGroup::idClicked, this, &CLumView::OnComPortClicked);
}

void CLumView::OnInitialUpdate()
{
    if (m_bInitialised)
        return; // the pages are built once
    m_bInitialised = true;
    m_pBaudRate->setCurrentIndex(0);

    const DialogTemplate* templates[kPageCount] = {&InfoPageTemplate(), &DownloadPageTemplate(),
                                                   &UploadPageTemplate()};
    const char* const titles[kPageCount] = {"Information", "DOWNLOAD", "UPLOAD"};
    const QRect tabArea = m_pTabPane->geometry().united(m_pTabCtrl->geometry());
    QSignalBlocker blockTabs(m_pTabCtrl);
    for (int i = 0; i < kPageCount; ++i)
    {
        auto* widget = new CPageWidget(*templates[i], this);
        widget->setObjectName(QStringLiteral("page%1").arg(templates[i]->id));
        m_pageWidgets[size_t(i)] = widget;
        m_windows[size_t(i)] = std::make_unique<CQtPageWindow>(widget, m_context.broker, m_context.protocol);
        m_pTabCtrl->insertTab(i, QString::fromLatin1(titles[i]));
        // Centred over the tab control, then moved down clear of the tabs.
        QRect placement(QPoint(0, 0), widget->size());
        placement.moveCenter(tabArea.center());
        placement.translate(0, kPageDropPx);
        widget->setGeometry(placement);
        widget->setVisible(i == InformationPage);
        widget->setEnabled(i == InformationPage);
        connect(widget, &CPageWidget::CommandClicked, this, [this, i](int id) { OnPageCommand(i, id); });
        // A file dropped on the edit lines loads the image like one dropped
        // anywhere on the window, rather than pasting its name.
        for (QLineEdit* edit : widget->findChildren<QLineEdit*>())
            edit->setAcceptDrops(false);
    }
    m_pTabCtrl->setCurrentIndex(InformationPage);
    m_nCurrentPage = InformationPage;
    connect(m_pBaudRate, &QComboBox::currentIndexChanged, this, &CLumView::OnBaudRateChanged);

    m_context.protocol.Post([this] { CreatePages(); });
}

void CLumView::CreatePages()
{
    // Strictly in this order: the Information page's initialisation creates the
    // port with the port's own defaults, the DOWNLOAD page's construction
    // re-creates it from the link settings and owns it until a tab is chosen.
    auto install = [this](int index, CInfoPage* page) {
        m_pages[size_t(index)] = page;
        m_windows[size_t(index)]->SetTickHandler([this, index](int id) {
            if (CInfoPage* current = m_pages[size_t(index)])
                current->OnTimer(id);
        });
        page->OnInitDialog();
    };
    install(InformationPage, new CInfoPage(m_windows[InformationPage].get(), &m_context.protocol));
    install(DownloadPage, new CDownloadPage(m_windows[DownloadPage].get(), &m_context.protocol));
    install(UploadPage, new CUploadPage(m_windows[UploadPage].get(), &m_context.protocol));
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_bPagesReady = true;
            emit PagesCreated();
        },
        Qt::QueuedConnection);
}

void CLumView::DestroyPages()
{
    // The first page destroyed deletes the port, which closes the device.
    for (int i = 0; i < kPageCount; ++i)
    {
        m_windows[size_t(i)]->KillAllTimers();
        delete m_pages[size_t(i)];
        m_pages[size_t(i)] = nullptr;
    }
}

void CLumView::ShutDown()
{
    if (m_bShutDown)
        return;
    m_bShutDown = true;
    // Release a protocol step waiting for a box first, so the thread can finish.
    m_context.broker.Shutdown();
    if (m_bInitialised)
    {
        m_context.protocol.Post([this] { DestroyPages(); });
        m_context.protocol.Sync();
    }
    m_context.protocol.Stop();
}

void CLumView::PostToProtocol(std::function<void()> call)
{
    m_context.protocol.Post(std::move(call));
}

template <typename F> void CLumView::PostToPage(int index, F&& call)
{
    m_context.protocol.Post([this, index, call = std::forward<F>(call)] {
        if (CInfoPage* page = m_pages[size_t(index)])
            call(page);
    });
}

void CLumView::OnTabChanged(int index)
{
    if (index < 0 || index >= kPageCount || index == m_nCurrentPage)
        return;
    CPageWidget* previous = m_pageWidgets[size_t(m_nCurrentPage)];
    previous->hide();
    previous->setEnabled(false);
    m_nCurrentPage = index;
    CPageWidget* current = m_pageWidgets[size_t(index)];
    current->show();
    current->setEnabled(true);
    PostToPage(index, [](CInfoPage* page) { page->OnActivatePage(); });
}

void CLumView::OnComPortClicked(int index)
{
    m_nComPort = index;
    PostToPage(m_nCurrentPage, [index](CInfoPage* page) { page->ChangePort(index); });
}

void CLumView::OnBaudRateChanged(int index)
{
    if (index < 0 || index >= int(kBaudRates.size()))
        return;
    const int rate = kBaudRates[size_t(index)];
    PostToPage(m_nCurrentPage, [rate](CInfoPage* page) { page->SetBaudRate(rate); });
}

void CLumView::OnPageCommand(int page, int id)
{
    if (page == DownloadPage && id == IDC_BROWSE)
        BrowseDownload();
    else if (page == DownloadPage && id == IDC_CLEAR)
        PostToPage(DownloadPage, [](CInfoPage* p) { static_cast<CDownloadPage*>(p)->OnClear(); });
    else if (page == UploadPage && id == IDC_UPLOAD_BROWSE)
        BrowseUpload();
    else if (page == UploadPage && id == IDC_UPLOAD_CLEAR)
        PostToPage(UploadPage, [](CInfoPage* p) { static_cast<CUploadPage*>(p)->OnClear(); });
}

std::optional<QString> CLumView::ChooseFile(const FileDialogRequest& request) const
{
    if (!m_context.chooseFile)
        return std::nullopt;
    std::optional<QString> path = m_context.chooseFile(request);
    if (path && path->isEmpty())
        return std::nullopt;
    return path;
}

QString CLumView::BrowseFolder(int page) const
{
    if (!m_browseFolders[size_t(page)].isEmpty())
        return m_browseFolders[size_t(page)];
    return CGuiSettings().BrowseFolder(QString::fromLatin1(kFolderKeys[page]));
}

void CLumView::RememberBrowseFolder(int page, const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    m_browseFolders[size_t(page)] = folder;
    CGuiSettings settings;
    settings.SetBrowseFolder(QString::fromLatin1(kFolderKeys[page]), folder);
    if (page == DownloadPage)
        settings.AddRecentFile(QFileInfo(path).absoluteFilePath());
}

void CLumView::BrowseDownload()
{
    const std::optional<QString> path =
        ChooseFile(FileDialogRequest{QString::fromLatin1(kDownloadFilter), QStringLiteral("*.BIN;*.STB"),
                                     QStringLiteral("BIN or STB"), false, BrowseFolder(DownloadPage)});
    if (!path)
        return; // cancelled: nothing changes
    RememberBrowseFolder(DownloadPage, *path);
    PostToPage(DownloadPage, [chosen = path->toStdString()](CInfoPage* p) {
        static_cast<CDownloadPage*>(p)->OnBrowse(chosen);
    });
}

void CLumView::BrowseUpload()
{
    const std::optional<QString> path =
        ChooseFile(FileDialogRequest{QString::fromLatin1(kUploadFilter), QStringLiteral("*.BIN"),
                                     QStringLiteral("BIN"), true, BrowseFolder(UploadPage)});
    if (!path)
        return; // cancelled: nothing changes
    RememberBrowseFolder(UploadPage, *path);
    PostToPage(UploadPage, [chosen = path->toStdString()](CInfoPage* p) {
        static_cast<CUploadPage*>(p)->OnBrowse(chosen);
    });
}

void CLumView::OpenImage(const QString& path)
{
    if (!m_bInitialised || m_bShutDown || path.isEmpty())
        return;
    m_pTabCtrl->setCurrentIndex(DownloadPage);
    {
        CGuiSettings settings;
        settings.AddRecentFile(QFileInfo(path).absoluteFilePath());
    }
    PostToPage(DownloadPage, [chosen = path.toStdString()](CInfoPage* p)
               { static_cast<CDownloadPage*>(p)->OnBrowse(chosen); });
}

void CLumView::BrowseCurrentPage()
{
    if (!m_bInitialised)
        return;
    if (m_nCurrentPage == InformationPage)
        m_pTabCtrl->setCurrentIndex(DownloadPage);
    const int browseId = m_nCurrentPage == UploadPage ? IDC_UPLOAD_BROWSE : IDC_BROWSE;
    // As a click would: nothing when the page has its Browse disabled.
    if (auto* button = m_pageWidgets[size_t(m_nCurrentPage)]->ControlAs<QPushButton>(browseId))
        button->click();
}

void CLumView::ReopenPort()
{
    OnComPortClicked(m_nComPort);
}
