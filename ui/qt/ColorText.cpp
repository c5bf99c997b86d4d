#include "ui/qt/ColorText.h"

#include "ui/qt/PageWidget.h"

#include <QPainter>
#include <QStyle>

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
    // Qt repaints the whole control, background included, whether or not the
    // highlight changed; an unchanged one repaints to the same picture.
    update();
    m_bHighlight = on;
}

QColor CColorText::ToQColor(ColorRef color)
{
    return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
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
    QPainter painter(this);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, color);
    style()->drawItemText(&painter, contentsRect(), int(alignment()) | (wordWrap() ? Qt::TextWordWrap : 0),
                          colours, isEnabled(), text(), QPalette::WindowText);
}
