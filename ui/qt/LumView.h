// The form view that fills the main window (template 101): the logo, the COM
// port and baud-rate choices and the tab control with the Information,
// DOWNLOAD and UPLOAD pages. The view only shows state: every choice the user
// makes is posted to the protocol thread as a call on the page of the
// selected tab, and the view never waits for it.
#pragma once

#include "ui/qt/GuiContext.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class CInfoPage;
class CPageWidget;
class CQtPageWindow;
class QButtonGroup;
class QComboBox;
class QFrame;
class QTabBar;

class CLumView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kPageCount = 3;
    enum PageIndex
    {
        InformationPage = 0,
        DownloadPage = 1,
        UploadPage = 2,
    };
    // Index -> rate of the baud combo box.
    static constexpr std::array<int, 5> kBaudRates{9600, 19200, 38400, 57600, 115200};

    CLumView(GuiContext context, QWidget* parent = nullptr);
    ~CLumView() override;

    // Builds the pages, in the order Information, DOWNLOAD, UPLOAD. Runs once.
    void OnInitialUpdate();
    // Program exit: closes open boxes, destroys the pages and the port on the
    // protocol thread and stops it. Idempotent.
    void ShutDown();
    void SetFileChooser(FileChooser chooser) { m_context.chooseFile = std::move(chooser); }
    // Asks for a file with the dialog Browse uses; nothing when cancelled.
    std::optional<QString> ChooseFile(const FileDialogRequest& request) const;
    // Where the DOWNLOAD page's Browse opens its dialog in this run (demo
    // mode: the sample images). Without it, each page's Browse opens where it
    // last chose a file, in this run or an earlier one.
    void SetBrowseFolder(const QString& folder) { m_browseFolders[DownloadPage] = folder; }

    // Loads the image on the DOWNLOAD page as Browse there would, with the
    // DOWNLOAD tab selected first (a file argument, a drop, a recent file).
    void OpenImage(const QString& path);
    // Browse on the current page; on the Information page, on the DOWNLOAD page.
    void BrowseCurrentPage();
    // Opens the chosen port again, as choosing it does (its device changed).
    void ReopenPort();

    CPageWidget* PageWidget(int index) const { return m_pageWidgets[size_t(index)]; }
    QTabBar* TabCtrl() const { return m_pTabCtrl; }
    QButtonGroup* ComPortGroup() const { return m_pComGroup; }
    QComboBox* BaudRateBox() const { return m_pBaudRate; }
    int CurrentPage() const { return m_nCurrentPage; }
    int ComPort() const { return m_nComPort; }
    // Window thread: the pages have been built on the protocol thread.
    bool PagesReady() const { return m_bPagesReady; }
    // Runs `call` on the protocol thread (after everything posted before it).
    void PostToProtocol(std::function<void()> call);

    // Protocol thread only: the page objects (null before the initial update ran
    // on the protocol thread and after shutdown).
    CInfoPage* Page(int index) const { return m_pages[size_t(index)]; }

signals:
    // The pages have been built on the protocol thread (emitted on the window thread).
    void PagesCreated();

private:
    void BuildForm();
    void CreatePages();   // protocol thread
    void DestroyPages();  // protocol thread
    void OnTabChanged(int index);
    void OnComPortClicked(int index);
    void OnBaudRateChanged(int index);
    void OnPageCommand(int page, int id);
    void BrowseDownload();
    void BrowseUpload();
    // The folder the page's Browse opens in, and remembering the one chosen.
    QString BrowseFolder(int page) const;
    void RememberBrowseFolder(int page, const QString& path);
    template <typename F> void PostToPage(int index, F&& call);

    GuiContext m_context;
    QTabBar* m_pTabCtrl = nullptr;
    QFrame* m_pTabPane = nullptr;
    QButtonGroup* m_pComGroup = nullptr;
    QComboBox* m_pBaudRate = nullptr;
    std::array<CPageWidget*, kPageCount> m_pageWidgets{};
    std::array<std::unique_ptr<CQtPageWindow>, kPageCount> m_windows;
    std::array<CInfoPage*, kPageCount> m_pages{}; // protocol thread only
    int m_nCurrentPage = InformationPage;
    int m_nComPort = 1; // COM2
    bool m_bInitialised = false;
    bool m_bShutDown = false;
    bool m_bPagesReady = false;
    std::array<QString, kPageCount> m_browseFolders; // this run's, by page
};
