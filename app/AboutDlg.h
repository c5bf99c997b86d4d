// The About box: the icon, the program's name, a version line
// and OK.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
