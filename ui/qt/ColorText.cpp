#include "ui/qt/ColorText.h"

#include "ui/qt/PageWidget.h"
#include "ui/qt/Pictures.h"

#include <QPainter>
#include <QStyle>

#include <cmath>

namespace
{
// Relative luminance as the contrast rules for text define it.
double Luminance(const QColor& color)
{
    auto channel = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) +
           0.0722 * channel(color.blueF());
}

double Contrast(const QColor& a, const QColor& b)
{
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
} // namespace

CColorText::CColorText(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setObjectName(QStringLiteral("CColorText"));
}

void CColorText::SetColor(ColorRef color)
{
    m_crText = color;
}

void CColorText::SetHighlight(bool on)
{
    // The original erased the background only when the switch really changed;
    // Qt repaints the whole control either way, which looks the same.
    update();
    m_bHighlight = on;
}

QColor CColorText::ToQColor(ColorRef color)
{
    return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

QColor CColorText::ReadableOn(const QColor& color, const QColor& background)
{
    constexpr double kReadableContrast = 4.5;
    QColor lighter = color.toHsl();
    while (Contrast(lighter, background) < kReadableContrast && lighter.lightness() < 255)
        lighter.setHsl(lighter.hslHue(), lighter.hslSaturation(), std::min(255, lighter.lightness() + 8));
    return lighter.toRgb();
}

void CColorText::paintEvent(QPaintEvent* /*event*/)
{
    // Ask the containing page for the colour, as a dialog answers a control's
    // colour request; outside a page the text keeps the normal colour.
    QColor color = palette().color(QPalette::WindowText);
    for (QWidget* ancestor = parentWidget(); ancestor; ancestor = ancestor->parentWidget())
    {
        if (auto* page = qobject_cast<CPageWidget*>(ancestor))
        {
            color = page->TextColorFor(this);
            break;
        }
    }
    if (Pictures::IsDark(palette()))
        color = ReadableOn(color, palette().color(QPalette::Window));
    QPainter painter(this);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, color);
    style()->drawItemText(&painter, contentsRect(), int(alignment()) | (wordWrap() ? Qt::TextWordWrap : 0),
                          colours, isEnabled(), text(), QPalette::WindowText);
}
