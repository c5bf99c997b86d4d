// Dialog units: the screens are laid out in the units of their templates and
// converted with the dialog font's metrics, so they keep their proportions at
// any screen resolution. One horizontal unit is a quarter of the font's average
// character width, one vertical unit an eighth of its character height.
#pragma once

#include <QFont>
#include <QRect>

class CDialogUnits
{
public:
    explicit CDialogUnits(const QFont& font);

    int X(int dlu) const;
    int Y(int dlu) const;
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;

    int AverageCharWidth() const { return m_nAverageCharWidth; }
    int CharHeight() const { return m_nCharHeight; }

    // The templates' font: 9-point Arial, or the metric-compatible Liberation
    // Sans where Arial is absent.
    static QFont DialogFont(int pointSize = 9);

private:
    int m_nAverageCharWidth;
    int m_nCharHeight;
};
