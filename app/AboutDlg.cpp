#include "app/AboutDlg.h"

#include "Version.h"
#include "ui/qt/DialogUnits.h"
#include "ui/qt/PictureLabel.h"

#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CAboutDlg"));
    setWindowTitle(QStringLiteral("About Download Manager"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setFont(CDialogUnits::DialogFont(8));
    const CDialogUnits units(font());
    setFixedSize(units.Size(217, 55));

    auto* icon =
        new CPictureLabel([](const Pictures::Look& look) { return Pictures::IconImage(32, look); }, this);
    icon->setGeometry(units.X(11), units.Y(17), 32, 32);

    auto* name = new QLabel(QStringLiteral("Kavronel Download Manager"), this);
    name->setObjectName(QStringLiteral("aboutName"));
    name->setTextFormat(Qt::PlainText);
    name->setGeometry(units.Rect(40, 10, 119, 8).adjusted(0, 0, 0, 2));

    auto* version = new QLabel(QStringLiteral("Version %1 for Linux, Qt %2").arg(QString::fromLatin1(kKavdmVersion), QString::fromLatin1(qVersion())),
                               this);
    version->setObjectName(QStringLiteral("aboutVersion"));
    version->setGeometry(units.Rect(40, 25, 157, 8).adjusted(0, 0, 0, 2));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("aboutOk"));
    ok->setDefault(true);
    ok->setGeometry(units.Rect(178, 7, 32, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
