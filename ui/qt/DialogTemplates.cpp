#include "ui/qt/DialogTemplates.h"

#include "ui/ControlIds.h"
#include "ui/UploadPage.h"

namespace
{
using K = ControlKind;
using P = PictureId;

// The rows both transfer pages share below the edit line; only the hidden
// status label is worded differently ("Status :" on the DOWNLOAD page,
// "Status  :" on the UPLOAD page).
void AddProgressRows(std::vector<ControlTemplate>& controls, const char* statusLabel)
{
    const std::vector<ControlTemplate> rows = {
        {K::Text, IDC_STATIC, "From :", 15, 90, 21, 8},
        {K::Text, IDC_FILE_LOCATION, "File location", 47, 90, 125, 8},
        {K::Text, IDC_STATUS_LABEL, statusLabel, 15, 100, 26, 8, false},
        {K::Text, IDC_STATUS_TEXT, "State ", 46, 101, 125, 8, false},
        {K::Text, IDC_STATIC, "Packet   :", 15, 110, 31, 8},
        {K::ProgressBar, IDC_PACKET_BAR, "", 47, 112, 121, 6},
        {K::Text, IDC_STATIC, "Module  :", 15, 120, 31, 8},
        {K::ProgressBar, IDC_MODULE_BAR, "", 47, 121, 121, 6},
        {K::Text, IDC_STATIC, "Total      :", 15, 130, 31, 8},
        {K::ProgressBar, IDC_TOTAL_BAR, "", 47, 130, 121, 6},
        {K::EtchedFrame, IDC_STATIC, "", 174, 112, 103, 26},
        {K::Text, IDC_STATIC, "Estim... Time :", 178, 116, 46, 8},
        {K::Text, IDC_ESTIMATED_TIME, "Static", 227, 116, 41, 9},
        {K::Text, IDC_STATIC, "Current  Time :", 178, 127, 48, 8},
        {K::Text, IDC_CURRENT_TIME, "Static", 227, 128, 48, 9},
    };
    controls.insert(controls.end(), rows.begin(), rows.end());
}
} // namespace

const DialogTemplate& InfoPageTemplate()
{
    static const DialogTemplate kTemplate = {
        IDD_INFO_PAGE,
        285,
        145,
        {
            {K::Text, IDC_STATIC, "1. Check that the correct COM port and Baud rate    are selected.", 10, 40, 155, 17},
            {K::Picture, IDC_STATIC, "", 175, 30, 0, 0, true, true, P::ComPorts},
            {K::Text, IDC_STATIC, "2. Choose the binary file to be download.", 10, 65, 157, 11},
            {K::Picture, IDC_STATIC, "", 190, 60, 0, 0, true, true, P::Browse},
            {K::Text, IDC_STATIC, "3. Connect the serial cable between the PC and IRD", 10, 85, 170, 17},
            {K::Text, IDC_STATIC, "4. Power the IRD standby and then on.", 10, 105, 154, 11},
            {K::Text, IDC_STATIC, "5. Transmission will begin automatically.", 10, 125, 128, 8},
            {K::Picture, IDC_STATIC, "", 47, 7, 0, 0, true, true, P::InformationTitle},
            {K::Picture, IDC_STATIC, "", 180, 100, 0, 0, true, true, P::Receiver},
        },
    };
    return kTemplate;
}

const DialogTemplate& DownloadPageTemplate()
{
    // Laid out like the UPLOAD page, with the three module check boxes beside
    // the file line.
    static const DialogTemplate kTemplate = [] {
        DialogTemplate t{IDD_DOWNLOAD_PAGE, 292, 145, {}};
        t.controls = {
            {K::Picture, IDC_STATIC, "", 25, 6, 0, 0, true, true, P::DownloadTitle},
            {K::ListBox, IDC_LOG_LIST, "", 7, 20, 154, 42, false},
            {K::ColorText, IDC_STEP1, "1. Select BIN or STB file.", 166, 8, 102, 8},
            {K::ColorText, IDC_STEP2, "2. Power the IRD standby and  then on.", 166, 19, 124, 8},
            {K::ColorText, IDC_STEP3, "3. Wait a few minites.", 166, 30, 104, 8},
            {K::Animation, IDC_ANIMATION, "", 56, 38, 172, 22},
            {K::Edit, IDC_FILE_EDIT, "", 7, 72, 88, 12},
            {K::Button, IDC_BROWSE, "Browse", 98, 72, 34, 12},
            {K::Button, IDC_CLEAR, "Clear", 133, 72, 34, 12},
            {K::CheckBox, IDC_CHECK_FIRMWARE, "Firmware download", 182, 64, 100, 10, true, false},
            {K::CheckBox, IDC_CHECK_DIGITAL, "Digital data download", 182, 76, 100, 10, true, false},
            {K::CheckBox, IDC_CHECK_ANALOG, "Analog data download", 182, 88, 100, 10, true, false},
        };
        AddProgressRows(t.controls, "Status :");
        return t;
    }();
    return kTemplate;
}

const DialogTemplate& UploadPageTemplate()
{
    static const DialogTemplate kTemplate = [] {
        DialogTemplate t{IDD_UPLOAD_PAGE, 292, 145, {}};
        t.controls = {
            {K::Picture, IDC_STATIC, "", 25, 5, 99, 14, true, true, P::UploadTitle},
            {K::ListBox, IDC_LOG_LIST, "", 7, 20, 154, 42, false},
            {K::ColorText, IDC_STEP1, "1. Select STB file.", 166, 8, 102, 8},
            {K::ColorText, IDC_STEP2, "2. Power the IRD standby and  then on.", 166, 19, 124, 8},
            {K::ColorText, IDC_STEP3, "3. Wait during a few minites.", 166, 30, 104, 8},
            {K::Animation, IDC_ANIMATION, "", 56, 38, 172, 22},
            {K::Edit, IDC_UPLOAD_FILE_EDIT, "", 7, 72, 88, 12},
            {K::Button, IDC_UPLOAD_BROWSE, "Browse", 98, 72, 34, 12},
            {K::Button, IDC_UPLOAD_CLEAR, "Clear", 133, 72, 34, 12},
        };
        AddProgressRows(t.controls, "Status  :");
        return t;
    }();
    return kTemplate;
}
