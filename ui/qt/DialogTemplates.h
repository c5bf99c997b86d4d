// The dialog templates of the pages and the About box, as data: each control
// with its id, text and rectangle in dialog units. CPageWidget builds a page
// from one of these.
#pragma once

#include <vector>

enum class ControlKind
{
    Text,        // static text, left-aligned, wraps within its rectangle
    Picture,     // static picture, sized to the picture
    Button,      // push button
    Edit,        // single-line edit
    CheckBox,    // check box
    ProgressBar, // progress bar
    ListBox,     // list box (the log)
    Animation,   // animation control
    ColorText,   // CColorText step text
    EtchedFrame, // etched rectangle
};

enum class PictureId
{
    None,
    Logo,
    DownloadTitle,
    UploadTitle,
    InformationTitle,
    ComPorts,
    Browse,
    Receiver,
    AppIcon,
};

inline constexpr int IDC_STATIC = -1;

// The label "Status  :" of the transfer pages, hidden like the status line.
inline constexpr int IDC_STATUS_LABEL = 1041;

struct ControlTemplate
{
    ControlKind kind;
    int id;
    const char* text;
    int x, y, width, height;
    bool visible = true;
    bool enabled = true;
    PictureId picture = PictureId::None;
};

struct DialogTemplate
{
    int id;
    int width, height;
    std::vector<ControlTemplate> controls;
};

const DialogTemplate& InfoPageTemplate();     // 130
const DialogTemplate& DownloadPageTemplate(); // 132
const DialogTemplate& UploadPageTemplate();   // 133
