#include "ui/qt/DialogUnits.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>

CDialogUnits::CDialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    // The average character width: the width of the 52 letters over 52,
    // rounded to the nearest whole pixel. The layouts' units were chosen
    // against this measure, so it keeps their proportions.
    static const QString kLetters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int width = metrics.horizontalAdvance(kLetters);
    m_nAverageCharWidth = std::max(1, (width / 26 + 1) / 2);
    m_nCharHeight = std::max(1, metrics.height());
}

int CDialogUnits::X(int dlu) const
{
    return dlu * m_nAverageCharWidth / 4;
}

int CDialogUnits::Y(int dlu) const
{
    return dlu * m_nCharHeight / 8;
}

QRect CDialogUnits::Rect(int x, int y, int width, int height) const
{
    return QRect(X(x), Y(y), X(width), Y(height));
}

QSize CDialogUnits::Size(int width, int height) const
{
    return QSize(X(width), Y(height));
}

QFont CDialogUnits::DialogFont(int pointSize)
{
    const QStringList families = QFontDatabase::families();
    QString family = QStringLiteral("Liberation Sans");
    if (families.contains(QStringLiteral("Arial")))
        family = QStringLiteral("Arial");
    QFont font(family, pointSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}
