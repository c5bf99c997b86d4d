#include "ui/qt/PictureLabel.h"

#include <QEvent>

CPictureLabel::CPictureLabel(Painter painter, QWidget* parent) : QLabel(parent), m_painter(std::move(painter))
{
    Redraw();
}

void CPictureLabel::Redraw()
{
    m_look = Pictures::LookOf(this);
    const QImage image = m_painter(m_look);
    m_pictureSize = image.deviceIndependentSize().toSize();
    setPixmap(QPixmap::fromImage(image));
}

void CPictureLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && Pictures::LookOf(this) != m_look)
        Redraw();
}

void CPictureLabel::paintEvent(QPaintEvent* event)
{
    // The ratio is known for sure only once the label is on a screen.
    if (Pictures::LookOf(this) != m_look)
        Redraw();
    QLabel::paintEvent(event);
}
