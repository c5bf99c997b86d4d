#include "ui/qt/AnimationCtrl.h"

#include "ui/qt/Pictures.h"

#include <QPainter>

CAnimationCtrl::CAnimationCtrl(QWidget* parent) : QWidget(parent)
{
    DrawFrames();
    m_timer.setInterval(Pictures::kAnimationFrameMs);
    connect(&m_timer, &QTimer::timeout, this, &CAnimationCtrl::OnTick);
}

void CAnimationCtrl::DrawFrames()
{
    m_look = Pictures::LookOf(this);
    m_frames.clear();
    m_frames.reserve(Pictures::kAnimationFrameCount);
    for (int i = 0; i < Pictures::kAnimationFrameCount; ++i)
        m_frames.push_back(Pictures::AnimationFrame(i, m_look));
}

void CAnimationCtrl::Play(int repeat, int first, int last)
{
    const int lastFrame = FrameCount() - 1;
    m_nFirst = std::clamp(first, 0, lastFrame);
    m_nLast = last < 0 ? lastFrame : std::clamp(last, m_nFirst, lastFrame);
    m_nFrame = m_nFirst;
    m_nRepeatsLeft = repeat;
    m_timer.stop();
    if (repeat != 0 && m_nLast > m_nFirst)
        m_timer.start();
    update();
}

void CAnimationCtrl::Stop()
{
    m_timer.stop();
}

void CAnimationCtrl::OnTick()
{
    if (m_nFrame < m_nLast)
    {
        ++m_nFrame;
    }
    else if (m_nRepeatsLeft < 0 || --m_nRepeatsLeft > 0)
    {
        m_nFrame = m_nFirst;
    }
    else
    {
        m_timer.stop();
    }
    update();
}

void CAnimationCtrl::paintEvent(QPaintEvent* /*event*/)
{
    if (Pictures::LookOf(this) != m_look)
        DrawFrames(); // another screen or palette than the frames were drawn for
    if (m_frames.empty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // The clip keeps its proportions, centred in the control's rectangle, and
    // is never enlarged.
    const QImage& frame = m_frames[size_t(m_nFrame)];
    const QSize frameSize = frame.deviceIndependentSize().toSize();
    QSize size = frameSize.scaled(this->size(), Qt::KeepAspectRatio);
    if (size.width() > frameSize.width())
        size = frameSize;
    const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    painter.drawImage(target, frame);
}
