// The file dialogs of Browse, behind a replaceable function so that tests can
// answer them without a modal dialog. Always called on the window thread.
#pragma once

#include <QString>

#include <functional>
#include <optional>

class QFileDialog;
class QWidget;

struct FileDialogRequest
{
    QString filter;      // in the original's form: "Name(*.a;*.b)|*.a;*.b|All file (*.*)|*.*|"
    QString initialName; // "*.BIN;*.STB", or a name to offer (without wildcards)
    QString defaultSuffix;
    bool bMayNotExist = false; // the UPLOAD page names a file to be written
    QString folder;            // where the dialog opens ("" = where it was last)
    bool bSave = false;        // a file to be written that may exist: the dialog asks before replacing it
};

// Returns the chosen path, or nothing when the user cancelled.
using FileChooser = std::function<std::optional<QString>(const FileDialogRequest& request)>;

// The filter in Qt's form: "Name(*.a;*.b) (*.a *.b *.A *.B);;...". Patterns are
// also offered in upper case, since Linux file names are case-sensitive and
// receiver images often carry upper-case extensions.
QString QtFilterFromPipeFilter(const QString& filter);

// Sets a file dialog up for `request`. The filter list shows the names as the
// request words them ("Bin File or Stb File(*.bin;*.stb)", "All file (*.*)"),
// without the patterns Qt would otherwise append.
void ConfigureFileDialog(QFileDialog& dialog, const FileDialogRequest& request);

// A modal QFileDialog owned by `parent`.
FileChooser MakeQtFileChooser(QWidget* parent);
