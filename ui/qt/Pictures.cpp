#include "ui/qt/Pictures.h"

#include "ui/qt/DialogUnits.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QWidget>

#include <cmath>

namespace
{
const QColor kNavy(16, 40, 96);

// The colours of the illustrations and titles: the screens' own on a light
// palette; on a dark one, dark faces with light lines and texts.
struct Scheme
{
    QColor face; // the dialog background the illustrations show
    QColor text;
    QColor frameShadow; // the etched frame's two lines
    QColor frameLight;
    QColor radioRim;
    QColor radioFace;
    QColor buttonRim;
    QColor title;
    QColor titleShadow;
    QColor outline; // around the dark receiver bodies
    QColor cable;
    QColor tickOff; // the animation's ticks still to come
};

const Scheme& SchemeFor(const Pictures::Look& look)
{
    static const Scheme kLight{.face = QColor(212, 208, 200),
                               .text = Qt::black,
                               .frameShadow = QColor(128, 128, 128),
                               .frameLight = Qt::white,
                               .radioRim = QColor(96, 96, 96),
                               .radioFace = Qt::white,
                               .buttonRim = QColor(64, 64, 64),
                               .title = QColor(128, 0, 128),
                               .titleShadow = QColor(200, 170, 210),
                               .outline = Qt::black,
                               .cable = QColor(90, 90, 90),
                               .tickOff = QColor(200, 200, 200)};
    static const Scheme kDark{.face = QColor(58, 58, 62),
                              .text = QColor(235, 235, 235),
                              .frameShadow = QColor(24, 24, 26),
                              .frameLight = QColor(110, 110, 116),
                              .radioRim = QColor(170, 170, 176),
                              .radioFace = QColor(36, 36, 40),
                              .buttonRim = QColor(150, 150, 156),
                              .title = QColor(225, 160, 240),
                              .titleShadow = QColor(80, 30, 90),
                              .outline = QColor(175, 175, 185),
                              .cable = QColor(175, 175, 175),
                              .tickOff = QColor(95, 95, 100)};
    return look.dark ? kDark : kLight;
}

// A picture of `width` x `height` device-independent pixels at the look's
// pixel ratio; a painter on it draws in device-independent pixels.
QImage BlankImage(int width, int height, const Pictures::Look& look, const QColor& fill = Qt::transparent)
{
    const qreal dpr = look.dpr > 0 ? look.dpr : 1.0;
    QImage image(qRound(width * dpr), qRound(height * dpr), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(fill);
    return image;
}

// The mouse pointer the illustrations show, tip at `tip`.
void DrawPointer(QPainter& painter, QPointF tip)
{
    QPainterPath arrow;
    arrow.moveTo(tip);
    arrow.lineTo(tip + QPointF(0, 16));
    arrow.lineTo(tip + QPointF(4, 12));
    arrow.lineTo(tip + QPointF(7, 19));
    arrow.lineTo(tip + QPointF(9.5, 18));
    arrow.lineTo(tip + QPointF(6.5, 11));
    arrow.lineTo(tip + QPointF(11.5, 11));
    arrow.closeSubpath();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    painter.drawPath(arrow);
    painter.restore();
}

void DrawRadio(QPainter& painter, QPointF centre, bool checked, const Scheme& scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(scheme.radioRim, 1));
    painter.setBrush(scheme.radioFace);
    painter.drawEllipse(centre, 5, 5);
    if (checked)
    {
        painter.setPen(Qt::NoPen);
        painter.setBrush(scheme.text);
        painter.drawEllipse(centre, 2.2, 2.2);
    }
    painter.restore();
}

void DrawButton(QPainter& painter, const QRectF& rect, const QString& text, bool focused,
                const Scheme& scheme)
{
    painter.save();
    painter.setPen(QPen(scheme.buttonRim, 1));
    painter.setBrush(scheme.face);
    painter.drawRect(rect);
    painter.setPen(scheme.frameLight);
    painter.drawLine(rect.topLeft() + QPointF(1, 1), rect.topRight() + QPointF(-1, 1));
    painter.drawLine(rect.topLeft() + QPointF(1, 1), rect.bottomLeft() + QPointF(1, -1));
    if (focused)
    {
        painter.setPen(QPen(scheme.text, 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect.adjusted(3, 3, -3, -3));
    }
    painter.setPen(scheme.text);
    painter.setFont(CDialogUnits::DialogFont(9));
    painter.drawText(rect, Qt::AlignCenter, text);
    painter.restore();
}

// The satellite dish of the logo and the icon, in a square of side `side`.
void DrawDish(QPainter& painter, const QRectF& square, const QColor& dish, const QColor& beam)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = square.width();
    const QPointF o = square.topLeft();
    // Mast and foot.
    painter.setPen(QPen(dish.darker(140), s * 0.06, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(o + QPointF(s * 0.42, s * 0.62), o + QPointF(s * 0.42, s * 0.9));
    painter.drawLine(o + QPointF(s * 0.26, s * 0.9), o + QPointF(s * 0.58, s * 0.9));
    // The dish: a tilted half ellipse.
    painter.translate(o + QPointF(s * 0.42, s * 0.52));
    painter.rotate(-35);
    QPainterPath bowl;
    bowl.moveTo(-s * 0.34, 0);
    bowl.cubicTo(-s * 0.34, s * 0.3, s * 0.34, s * 0.3, s * 0.34, 0);
    bowl.closeSubpath();
    painter.setPen(QPen(dish.darker(160), s * 0.025));
    painter.setBrush(dish);
    painter.drawPath(bowl);
    // Feed arm and head.
    painter.setPen(QPen(dish.darker(160), s * 0.035, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(0, s * 0.02), QPointF(0, -s * 0.26));
    painter.setBrush(dish.darker(160));
    painter.drawEllipse(QPointF(0, -s * 0.28), s * 0.04, s * 0.04);
    // Waves towards the sky.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(beam, s * 0.035, Qt::SolidLine, Qt::RoundCap));
    for (int i = 1; i <= 3; ++i)
    {
        const qreal r = s * (0.1 + 0.09 * i);
        painter.drawArc(QRectF(-r, -s * 0.3 - r, 2 * r, 2 * r), 50 * 16, 80 * 16);
    }
    painter.restore();
}
} // namespace

namespace Pictures
{
bool IsDark(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
}

Look LookOf(const QWidget* widget)
{
    return Look{widget->devicePixelRatioF(), IsDark(widget->palette())};
}

QImage TitlePicture(const QString& text, int width, int height, const Look& look)
{
    const Scheme& scheme = SchemeFor(look);
    QImage image = BlankImage(width, height, look);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font = CDialogUnits::DialogFont();
    font.setItalic(true);
    font.setBold(true);
    font.setPixelSize(std::max(8, height * 3 / 4));
    // Shrink until the text fits the width.
    while (font.pixelSize() > 8 && QFontMetrics(font).horizontalAdvance(text) > width - 4)
        font.setPixelSize(font.pixelSize() - 1);
    painter.setFont(font);
    painter.setPen(scheme.titleShadow);
    painter.drawText(QRect(2, 2, width - 2, height - 2), Qt::AlignCenter, text);
    painter.setPen(scheme.title);
    painter.drawText(QRect(0, 0, width - 2, height - 2), Qt::AlignCenter, text);
    return image;
}

QImage DownloadTitle(const Look& look)
{
    return TitlePicture(QStringLiteral("Download Panel"), 172, 27, look);
}

QImage UploadTitle(const Look& look)
{
    return TitlePicture(QStringLiteral("Upload Panel"), 173, 27, look);
}

QImage InformationTitle(const Look& look)
{
    return TitlePicture(QStringLiteral("Information"), 124, 31, look);
}

QImage Logo(const Look& look)
{
    // The logo keeps its own colours on any palette: it has its own background.
    constexpr int kWidth = 250;
    constexpr int kHeight = 75;
    QImage image = BlankImage(kWidth, kHeight, look);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, kHeight);
    sky.setColorAt(0, QColor(40, 80, 160));
    sky.setColorAt(1, kNavy);
    painter.setPen(Qt::NoPen);
    painter.setBrush(sky);
    painter.drawRoundedRect(QRectF(0.5, 0.5, kWidth - 1, kHeight - 1), 10, 10);
    DrawDish(painter, QRectF(8, 6, 62, 62), QColor(230, 230, 236), QColor(255, 200, 60));

    QFont name = CDialogUnits::DialogFont();
    name.setBold(true);
    name.setPixelSize(27);
    name.setLetterSpacing(QFont::AbsoluteSpacing, 1.0);
    painter.setFont(name);
    painter.setPen(Qt::white);
    painter.drawText(QRect(74, 6, kWidth - 80, 38), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("KAVRONEL"));
    QFont tag = CDialogUnits::DialogFont();
    tag.setItalic(true);
    tag.setPixelSize(13);
    painter.setFont(tag);
    painter.setPen(QColor(255, 200, 60));
    painter.drawText(QRect(76, 44, kWidth - 82, 22), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("satellite receivers"));
    return image;
}

QImage ComPortIllustration(const Look& look)
{
    const Scheme& scheme = SchemeFor(look);
    QImage image = BlankImage(180, 48, look, scheme.face);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(scheme.frameShadow);
    painter.drawRect(QRect(2, 8, 175, 36));
    painter.setPen(scheme.frameLight);
    painter.drawRect(QRect(3, 9, 175, 36));
    QFont font = CDialogUnits::DialogFont();
    font.setPixelSize(10);
    painter.setFont(font);
    painter.fillRect(QRect(8, 2, 92, 12), scheme.face);
    painter.setPen(scheme.text);
    painter.drawText(QRect(10, 1, 100, 14), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("COM Port setting :"));
    font.setPixelSize(9);
    painter.setFont(font);
    for (int i = 0; i < 4; ++i)
    {
        const int x = 7 + i * 43;
        DrawRadio(painter, QPointF(x + 5, 26), i == 1, scheme);
        painter.setPen(scheme.text);
        painter.drawText(QRect(x + 11, 19, 32, 14), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral(": COM%1").arg(i + 1));
    }
    DrawPointer(painter, QPointF(54, 27));
    return image;
}

QImage BrowseIllustration(const Look& look)
{
    const Scheme& scheme = SchemeFor(look);
    QImage image = BlankImage(132, 48, look, scheme.face);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    DrawButton(painter, QRectF(6.5, 12.5, 56, 22), QStringLiteral("Browse"), true, scheme);
    DrawButton(painter, QRectF(68.5, 12.5, 56, 22), QStringLiteral("Clear"), false, scheme);
    DrawPointer(painter, QPointF(40, 25));
    return image;
}

QImage ReceiverIllustration(const Look& look)
{
    const Scheme& scheme = SchemeFor(look);
    QImage image = BlankImage(169, 38, look, scheme.face);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient body(0, 2, 0, 34);
    body.setColorAt(0, QColor(70, 70, 78));
    body.setColorAt(1, QColor(28, 28, 32));
    painter.setPen(QPen(scheme.outline, 1));
    painter.setBrush(body);
    painter.drawRoundedRect(QRectF(2.5, 4.5, 164, 27), 4, 4);
    // Display.
    painter.setBrush(QColor(10, 30, 10));
    painter.drawRect(QRectF(58, 10, 46, 15));
    QFont digits = CDialogUnits::DialogFont();
    digits.setBold(true);
    digits.setPixelSize(12);
    painter.setFont(digits);
    painter.setPen(QColor(90, 255, 90));
    painter.drawText(QRectF(58, 10, 46, 15), Qt::AlignCenter, QStringLiteral("- - - -"));
    // Channel keys.
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(QColor(150, 150, 160));
    for (int i = 0; i < 3; ++i)
        painter.drawRoundedRect(QRectF(112 + i * 14, 13, 10, 8), 2, 2);
    // Standby LED and key.
    painter.setBrush(QColor(255, 40, 40));
    painter.drawEllipse(QPointF(14, 12), 2.2, 2.2);
    painter.setBrush(QColor(200, 30, 30));
    painter.drawEllipse(QPointF(26, 19), 6, 6);
    painter.setPen(QPen(Qt::white, 1.3, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(QRectF(23, 16, 6, 6), 120 * 16, 300 * 16);
    painter.drawLine(QPointF(26, 15.5), QPointF(26, 18.5));
    DrawPointer(painter, QPointF(28, 20));
    return image;
}

QImage AnimationFrame(int index, const Look& look)
{
    const Scheme& scheme = SchemeFor(look);
    const int frame = ((index % kAnimationFrameCount) + kAnimationFrameCount) % kAnimationFrameCount;
    QImage image = BlankImage(kAnimationWidth, kAnimationHeight, look);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    // The PC on the left.
    painter.setPen(QPen(QColor(40, 40, 40), 1));
    painter.setBrush(QColor(225, 225, 230));
    painter.drawRoundedRect(QRectF(6, 6, 44, 32), 3, 3);
    painter.setBrush(QColor(30, 70, 150));
    painter.drawRect(QRectF(10, 10, 36, 24));
    painter.setBrush(QColor(190, 190, 196));
    painter.drawRect(QRectF(20, 38, 16, 4));
    painter.drawRect(QRectF(10, 42, 36, 6));
    // The receiver on the right.
    painter.setPen(QPen(look.dark ? scheme.outline : QColor(40, 40, 40), 1));
    painter.setBrush(QColor(50, 50, 58));
    painter.drawRoundedRect(QRectF(222, 22, 52, 20), 3, 3);
    painter.setBrush(QColor(90, 255, 90));
    painter.setPen(Qt::NoPen);
    painter.drawRect(QRectF(240, 28, 16, 6));
    painter.setBrush((frame % 2) ? QColor(255, 60, 60) : QColor(120, 20, 20));
    painter.drawEllipse(QPointF(230, 32), 2, 2);
    // The cable.
    painter.setPen(QPen(scheme.cable, 2));
    painter.drawLine(QPointF(50, 32), QPointF(222, 32));
    // Packets travelling along it: three at a time, one step per frame.
    constexpr qreal kTrackStart = 56;
    constexpr qreal kTrackLength = 158;
    for (int k = 0; k < 3; ++k)
    {
        const qreal phase = std::fmod((frame + k * kAnimationFrameCount / 3.0) / kAnimationFrameCount, 1.0);
        const qreal x = kTrackStart + phase * kTrackLength;
        const int hue = (k * 110 + 200) % 360;
        painter.setPen(QPen(QColor::fromHsv(hue, 200, 120), 1));
        painter.setBrush(QColor::fromHsv(hue, 160, 250));
        painter.drawRoundedRect(QRectF(x - 7, 24, 14, 16), 2, 2);
        painter.setPen(QPen(QColor::fromHsv(hue, 200, 120), 1));
        painter.drawLine(QPointF(x - 4, 29), QPointF(x + 4, 29));
        painter.drawLine(QPointF(x - 4, 34), QPointF(x + 4, 34));
    }
    // A progress tick row above the cable.
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < kAnimationFrameCount; ++i)
    {
        painter.setBrush(i <= frame ? QColor(0, 150, 0) : scheme.tickOff);
        painter.drawRect(QRectF(60 + i * 9, 8, 6, 5));
    }
    return image;
}

QImage IconImage(int size, const Look& look)
{
    QImage image = BlankImage(size, size, look);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QLinearGradient back(0, 0, 0, s);
    back.setColorAt(0, QColor(60, 110, 200));
    back.setColorAt(1, kNavy);
    painter.setPen(Qt::NoPen);
    painter.setBrush(back);
    painter.drawRoundedRect(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92), s * 0.18, s * 0.18);
    DrawDish(painter, QRectF(s * 0.06, s * 0.08, s * 0.8, s * 0.8), QColor(235, 235, 240), QColor(255, 200, 60));
    // A download arrow in the corner.
    painter.setBrush(QColor(60, 200, 90));
    painter.setPen(QPen(QColor(20, 90, 40), s * 0.02));
    QPainterPath arrow;
    arrow.moveTo(s * 0.70, s * 0.52);
    arrow.lineTo(s * 0.84, s * 0.52);
    arrow.lineTo(s * 0.84, s * 0.68);
    arrow.lineTo(s * 0.92, s * 0.68);
    arrow.lineTo(s * 0.77, s * 0.88);
    arrow.lineTo(s * 0.62, s * 0.68);
    arrow.lineTo(s * 0.70, s * 0.68);
    arrow.closeSubpath();
    painter.drawPath(arrow);
    return image;
}

QIcon AppIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(IconImage(size)));
    return icon;
}
} // namespace Pictures
