#include "ui/DownloadPage.h"

#include "image/ImageLoader.h"
#include "protocol/Clock.h"
#include "ui/ControlIds.h"
#include "ui/DurationText.h"
#include "ui/LinkSettings.h"

namespace
{
// Fixed pauses of the page.
constexpr int kLoadPauseMs = 100;        // before an image is loaded
constexpr int kResetSettleMs = 500;      // the reset lets the line settle before closing the port
} // namespace

CDownloadPage::CDownloadPage(CPageWindow* window, CDeliveryGate* gate, CPageLine* line)
    : CInfoPage(window, gate, line), m_steps(window)
{
    LineWhenQuiet().Reopen(theLinkSettings.openBaudRate);
}

CDownloadPage::~CDownloadPage() = default;

bool CDownloadPage::OnInitDialog()
{
    CInfoPage::OnInitDialog();
    AddLog("Download Control settup");
    m_pWindow->SetRange(IDC_PACKET_BAR, 0, kPacketDataSize);
    m_pWindow->SetText(IDC_ESTIMATED_TIME, FormatDuration(0));
    m_pWindow->SetText(IDC_CURRENT_TIME, FormatDuration(0));
    m_pWindow->SetText(IDC_FILE_LOCATION, "");
    m_pWindow->SetText(IDC_STATUS_TEXT, "");
    BuildCrcTable();
    // The clip is shown still until a transfer starts.
    m_pWindow->PlayAnimation(IDC_ANIMATION, 0, 0, 0);
    m_steps.Initialise();
    return true;
}

void CDownloadPage::ResetState()
{
    // Every reset tells the window, also one while waiting for the receiver,
    // so a front end waiting for it stops waiting.
    m_bTransferRunning = false;
    m_pWindow->TransferEnded(TakeTransferEnd());

    CInfoPage::ResetState();
    if (m_nState != NoFile)
        m_nState = WaitReady;
    m_pWindow->SetPos(IDC_PACKET_BAR, 0);
    m_pWindow->SetPos(IDC_MODULE_BAR, 0);
    m_pWindow->SetPos(IDC_TOTAL_BAR, 0);
    m_pWindow->SetCheck(IDC_CHECK_FIRMWARE, false);
    m_pWindow->SetCheck(IDC_CHECK_DIGITAL, false);
    m_pWindow->SetCheck(IDC_CHECK_ANALOG, false);
    m_pWindow->StopAnimation(IDC_ANIMATION);
    m_pWindow->PlayAnimation(IDC_ANIMATION, 0, 0, 0);
    theClock().Sleep(kResetSettleMs);

    // Back to 9600 baud, where the receiver's next transfer begins.
    ReopenAtRestingRate();

    if (m_steps.IsLit(3))
        m_steps.Light(1);
}

void CDownloadPage::EndTransferByUser(const std::string& reason)
{
    if (!m_bTransferRunning)
        return;
    SetTransferEnd(TransferEndKind::Reset, reason);
    ResetState();
}

void CDownloadPage::OnTimeout()
{
    StopTimer();
}

void CDownloadPage::ShowInfo(const std::string& text)
{
    AddLog(text);
    CInfoPage::ShowInfo(text);
}

void CDownloadPage::ShowError(const std::string& text)
{
    AddLog(text);
    CInfoPage::ShowError(text);
}

void CDownloadPage::AddLog(const std::string& text)
{
    m_pWindow->InsertLog(IDC_LOG_LIST, text);
    m_pWindow->SetText(IDC_STATUS_TEXT, text);
}

void CDownloadPage::OnBrowse(const std::string& path)
{
    if (path.empty())
        return;
    // A transfer under way ends before its image is replaced: otherwise its
    // animation and bars would go on, the port would stay at its rate and the
    // receiver's next request would meet a page waiting for a ready.
    EndTransferByUser("another image was chosen");
    m_strFilePath = path;
    m_pWindow->SetText(IDC_FILE_EDIT, m_strFilePath);

    m_pWindow->BeginWaitCursor();
    theClock().Sleep(kLoadPauseMs);
    const ImageLoadResult loaded = LoadImageFile();
    m_pWindow->EndWaitCursor();
    m_nPendingByte = -1;

    if (!loaded.ok())
    {
        // Nothing usable was loaded: say why and go back to the start, rather
        // than wait for a receiver the image could not serve.
        m_image.Close();
        m_nState = NoFile;
        m_strFilePath.clear();
        m_pWindow->SetText(IDC_FILE_EDIT, "");
        m_pWindow->SetText(IDC_FILE_LOCATION, "");
        m_steps.Light(1);
        ShowError(loaded.error);
        return;
    }

    // The image is ready: what came before it is dropped, and from here on
    // every byte is answered, also one that comes while the box is open (a
    // receiver switched on before the user's OK is served once it closes).
    m_nState = WaitReady;
    LineWhenQuiet().Purge();
    ShowInfo("Remember to power the IRD standby and then on!");
    m_pWindow->SetText(IDC_FILE_LOCATION, m_strFilePath);
    m_steps.Light(2);
}

void CDownloadPage::OnClear()
{
    m_strFilePath.clear();
    m_pWindow->SetText(IDC_FILE_EDIT, "");
    m_pWindow->SetText(IDC_FILE_LOCATION, "");
    m_pWindow->SetPos(IDC_PACKET_BAR, 0);
    m_pWindow->SetPos(IDC_MODULE_BAR, 0);
    m_pWindow->SetPos(IDC_TOTAL_BAR, 0);
    m_pWindow->SetCheck(IDC_CHECK_FIRMWARE, false);
    m_pWindow->SetCheck(IDC_CHECK_DIGITAL, false);
    m_pWindow->SetCheck(IDC_CHECK_ANALOG, false);
    SetTransferEnd(TransferEndKind::Reset, "Clear was pressed");
    ResetState();
    m_image.Close();
    m_nState = NoFile;
    m_steps.Light(1);
}

ImageLoadResult CDownloadPage::LoadImageFile()
{
    // The previous image goes first, so a file or a decoded image is never left behind.
    m_image.Close();
    if (IsStbPath(m_strFilePath))
    {
        ShowInfo("Just a moment until next window appear");
        theClock().Sleep(kLoadPauseMs);
    }
    return LoadImage(m_strFilePath, m_image);
}

bool CDownloadPage::ImageIsStb() const
{
    return IsStbPath(m_strFilePath);
}
