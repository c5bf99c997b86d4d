#include "ui/UploadPage.h"

#include "protocol/Clock.h"
#include "ui/ControlIds.h"
#include "ui/DurationText.h"
#include "ui/LinkSettings.h"

#include <sys/stat.h>

namespace
{
constexpr int kPacketBarMaximum = kPacketDataSize; // the packet bar's range is 0..1024

bool FileExists(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0;
}
} // namespace

CUploadPage::CUploadPage(CPageWindow* window, CDeliveryGate* gate, CPageLine* line)
    : CInfoPage(window, gate, line), m_steps(window)
{
}

// An unfinished upload keeps its data as .partial (in the sink that has it).
CUploadPage::~CUploadPage()
{
    if (m_pOutput->IsOpen())
        m_pOutput->Abandon();
}

bool CUploadPage::OnInitDialog()
{
    CInfoPage::OnInitDialog();
    m_pWindow->SetRange(IDC_PACKET_BAR, 0, kPacketBarMaximum);
    m_pWindow->SetPos(IDC_PACKET_BAR, 0);
    m_pWindow->SetText(IDC_ESTIMATED_TIME, FormatDuration(0));
    m_pWindow->SetText(IDC_CURRENT_TIME, FormatDuration(0));
    m_pWindow->SetText(IDC_STATUS_TEXT, "");
    m_pWindow->SetText(IDC_FILE_LOCATION, "");
    m_steps.Initialise();
    return true;
}

void CUploadPage::AddLog(const std::string& text)
{
    m_pWindow->InsertLog(IDC_LOG_LIST, text);
    m_pWindow->SetText(IDC_STATUS_TEXT, text);
}

void CUploadPage::ShowInfo(const std::string& text)
{
    AddLog(text);
    CInfoPage::ShowInfo(text);
}

void CUploadPage::ShowError(const std::string& text)
{
    AddLog(text);
    CInfoPage::ShowError(text);
}

void CUploadPage::SignalTransferEnd()
{
    const TransferEnd end = TakeTransferEnd();
    if (!m_bTransferRunning)
        return;
    m_bTransferRunning = false;
    m_pWindow->TransferEnded(end);
}

void CUploadPage::EndTransferByUser(const std::string& reason)
{
    if (!m_bTransferRunning)
        return;
    SetTransferEnd(TransferEndKind::Reset, reason);
    const bool bFileChosen = !m_strFilePath.empty();
    ResetState();
    if (bFileChosen)
        m_nState = WaitReady;
}

std::string CUploadPage::KeepPartialOutput()
{
    if (!m_pOutput->IsOpen())
        return {};
    const std::string target = m_pOutput->TargetPath();
    const std::string kept = m_pOutput->Abandon();
    if (kept.empty())
        return {};
    m_strKeptPartialPath = kept;
    AddLog("File Close");
    std::string note = "Upload not complete: the data received is kept in " + kept + "; ";
    note += FileExists(target) ? target + " is left as it was." : target + " was not created.";
    const std::string suffix = CUploadFile::kPartialSuffix;
    if (kept.size() < suffix.size() || kept.compare(kept.size() - suffix.size(), suffix.size(), suffix) != 0)
        note += " (" + m_pOutput->LastErrorText() + ")"; // the rename failed: the data stayed where it was
    return note;
}

void CUploadPage::ResetState()
{
    SignalTransferEnd();
    StopTimer(); // nothing is asked for any more
    CInfoPage::ResetState();
    m_pWindow->SetPos(IDC_PACKET_BAR, 0);
    const std::string partialNote = KeepPartialOutput();
    m_nState = NoFile;
    m_nRepeatBytesToDrop = 0;
    m_pWindow->SetPos(IDC_PACKET_BAR, 0);
    m_pWindow->SetPos(IDC_MODULE_BAR, 0);
    m_pWindow->SetPos(IDC_TOTAL_BAR, 0);
    m_pWindow->StopAnimation(IDC_ANIMATION);
    m_pWindow->PlayAnimation(IDC_ANIMATION, 0, 0, 0);
    if (!partialNote.empty())
        ShowInfo(partialNote);
    theClock().Sleep(kResetSettleMs);
    ReopenAtRestingRate();
    if (m_steps.IsLit(3))
        m_steps.Light(1);
}

void CUploadPage::OnPortLost(int error)
{
    const bool bTransferRunning = m_bTransferRunning;
    CInfoPage::OnPortLost(error); // its reset ends a running transfer
    // As after a refusal, and as on the DOWNLOAD page: the chosen file stays
    // chosen and the page waits for the receiver again.
    if (!m_strFilePath.empty())
        m_nState = WaitReady;
    if (!bTransferRunning)
        m_pWindow->TransferEnded(TransferEnd{TransferEndKind::PortLost, PortLostText(error)});
}

void CUploadPage::ShowPath(const std::string& path)
{
    m_pWindow->SetText(IDC_UPLOAD_FILE_EDIT, path);
}

void CUploadPage::OnBrowse(const std::string& path)
{
    if (path.empty())
        return;
    // A new file while an upload runs: the upload is reset first (its data
    // kept as .partial), so no timer, animation or open file is left behind
    // and the receiver's further bytes meet a page waiting for a ready.
    EndTransferByUser("another file was chosen");
    m_strFilePath = path;
    ShowPath(path);
    ShowInfo("Remember to power the IRD standby and then on!");
    m_pWindow->SetText(IDC_FILE_LOCATION, path);
    m_nState = WaitReady;
    m_steps.Light(2);
}

void CUploadPage::OnClear()
{
    SetTransferEnd(TransferEndKind::Reset, "Clear was pressed");
    ResetState();
    m_strFilePath.clear();
    ShowPath("");
    m_pWindow->SetText(IDC_FILE_LOCATION, "");
    m_nState = NoFile;
    m_pWindow->SetPos(IDC_PACKET_BAR, 0);
    m_pWindow->SetPos(IDC_MODULE_BAR, 0);
    m_pWindow->SetPos(IDC_TOTAL_BAR, 0);
    ResetState();
    m_steps.Light(1);
}
