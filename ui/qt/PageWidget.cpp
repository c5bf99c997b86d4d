#include "ui/qt/PageWidget.h"

#include "ui/ControlIds.h"
#include "ui/qt/AnimationCtrl.h"
#include "ui/qt/ColorText.h"
#include "ui/qt/PictureLabel.h"
#include "ui/qt/Pictures.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>

namespace
{
QImage PictureImage(PictureId picture, const Pictures::Look& look)
{
    switch (picture)
    {
    case PictureId::Logo:
        return Pictures::Logo(look);
    case PictureId::DownloadTitle:
        return Pictures::DownloadTitle(look);
    case PictureId::UploadTitle:
        return Pictures::UploadTitle(look);
    case PictureId::InformationTitle:
        return Pictures::InformationTitle(look);
    case PictureId::ComPorts:
        return Pictures::ComPortIllustration(look);
    case PictureId::Browse:
        return Pictures::BrowseIllustration(look);
    case PictureId::Receiver:
        return Pictures::ReceiverIllustration(look);
    case PictureId::AppIcon:
        return Pictures::IconImage(32, look);
    case PictureId::None:
        break;
    }
    return {};
}
} // namespace

CPageWidget::CPageWidget(const DialogTemplate& dialog, QWidget* parent)
    : QWidget(parent), m_nTemplateId(dialog.id)
{
    setFont(CDialogUnits::DialogFont());
    const CDialogUnits units(font());
    resize(units.Size(dialog.width, dialog.height));
    for (const ControlTemplate& control : dialog.controls)
        CreateControl(control, units);
}

void CPageWidget::CreateControl(const ControlTemplate& control, const CDialogUnits& units)
{
    const QString text = QString::fromUtf8(control.text);
    QWidget* widget = nullptr;
    switch (control.kind)
    {
    case ControlKind::Text:
    {
        auto* label = new QLabel(text, this);
        // Texts the program sets (paths, times, status) stay on one line;
        // the template's own texts wrap within their rectangles.
        label->setWordWrap(control.id == IDC_STATIC);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setTextFormat(Qt::PlainText);
        widget = label;
        break;
    }
    case ControlKind::ColorText:
    {
        auto* label = new CColorText(text, this);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
    }
    case ControlKind::Picture:
    {
        const PictureId picture = control.picture;
        auto* label = new CPictureLabel(
            [picture](const Pictures::Look& look) { return PictureImage(picture, look); }, this);
        label->setGeometry(QRect(QPoint(units.X(control.x), units.Y(control.y)), label->PictureSize()));
        widget = label;
        break;
    }
    case ControlKind::Button:
    {
        auto* button = new QPushButton(text, this);
        const int id = control.id;
        connect(button, &QPushButton::clicked, this, [this, id] { emit CommandClicked(id); });
        widget = button;
        break;
    }
    case ControlKind::Edit:
    {
        auto* edit = new QLineEdit(text, this);
        widget = edit;
        break;
    }
    case ControlKind::CheckBox:
        widget = new QCheckBox(text, this);
        break;
    case ControlKind::ProgressBar:
    {
        auto* bar = new QProgressBar(this);
        bar->setTextVisible(false);
        bar->setRange(0, 100);
        bar->setValue(0);
        widget = bar;
        break;
    }
    case ControlKind::ListBox:
    {
        auto* list = new QListView(this);
        list->setModel(&m_logModel);
        list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        list->setUniformItemSizes(true);
        widget = list;
        break;
    }
    case ControlKind::Animation:
        widget = new CAnimationCtrl(this);
        break;
    case ControlKind::EtchedFrame:
    {
        auto* frame = new QFrame(this);
        frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
        frame->lower();
        widget = frame;
        break;
    }
    }
    if (control.kind != ControlKind::Picture)
        widget->setGeometry(units.Rect(control.x, control.y, control.width, control.height));
    widget->setEnabled(control.enabled);
    widget->setVisible(control.visible);
    if (control.id != IDC_STATIC)
    {
        widget->setObjectName(QStringLiteral("control%1").arg(control.id));
        m_controls[control.id] = widget;
    }
}

QWidget* CPageWidget::Control(int id) const
{
    auto found = m_controls.find(id);
    return found == m_controls.end() ? nullptr : found->second;
}

QColor CPageWidget::TextColorFor(const QWidget* child) const
{
    const QColor normal = palette().color(QPalette::WindowText);
    if (!child || qstrcmp(child->metaObject()->className(), "CColorText") != 0)
        return normal;
    const auto* text = static_cast<const CColorText*>(child);
    return text->m_bHighlight ? CColorText::ToQColor(text->m_crText) : normal;
}

void CPageWidget::SetRange(int id, int lower, int upper)
{
    if (auto* bar = ControlAs<QProgressBar>(id))
        bar->setRange(lower, std::max(lower, upper));
}

void CPageWidget::SetPos(int id, int position)
{
    if (auto* bar = ControlAs<QProgressBar>(id))
        bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
}

void CPageWidget::SetCheck(int id, bool checked)
{
    if (auto* box = ControlAs<QCheckBox>(id))
        box->setChecked(checked);
}

void CPageWidget::SetText(int id, const QString& text)
{
    QWidget* control = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(control))
    {
        // Select all and replace, then show the end of the path.
        edit->selectAll();
        edit->insert(text);
        edit->setCursorPosition(int(text.size()));
    }
    else if (auto* label = qobject_cast<QLabel*>(control))
    {
        // A long path keeps its end (the file name) in view; the whole text
        // is in the tooltip.
        const QString shown = label->wordWrap()
                                  ? text
                                  : label->fontMetrics().elidedText(text, Qt::ElideLeft, label->width());
        label->setText(shown);
        label->setToolTip(shown == text ? QString() : text);
    }
}

void CPageWidget::SetColor(int id, ColorRef color)
{
    if (auto* text = ControlAs<CColorText>(id))
        text->SetColor(color);
}

void CPageWidget::SetHighlight(int id, bool on)
{
    if (auto* text = ControlAs<CColorText>(id))
        text->SetHighlight(on);
}

void CPageWidget::PlayAnimation(int id, int repeat, int first, int last)
{
    if (auto* animation = ControlAs<CAnimationCtrl>(id))
        animation->Play(repeat, first, last);
}

void CPageWidget::StopAnimation(int id)
{
    if (auto* animation = ControlAs<CAnimationCtrl>(id))
        animation->Stop();
}

void CPageWidget::InsertLog(int id, const QString& text, const QDateTime& when)
{
    if (id != IDC_LOG_LIST || !Control(id))
        return;
    m_logModel.insertRows(0, 1);
    m_logModel.setData(m_logModel.index(0), text);
    m_timedLog.Add(text, when);
}
