#include "ui/qt/CompareDialog.h"

#include "image/ImageCompare.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace
{
const char* const kImageFilter = "Bin File or Stb File(*.bin;*.stb)|*.bin;*.stb|All file (*.*)|*.*|";

QString Number(const std::optional<ComparedModule>& side)
{
    return side ? QString::number(side->nNumber) : QStringLiteral("-");
}

QString Length(const std::optional<ComparedModule>& side)
{
    return side ? QString::number(side->nLength) : QStringLiteral("-");
}

QString Crc(const std::optional<ComparedModule>& side)
{
    return side ? QStringLiteral("%1").arg(side->nCrc, 8, 16, QLatin1Char('0')).toUpper() : QStringLiteral("-");
}

QTableWidgetItem* Cell(const QString& text, bool bNumber)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    if (bNumber)
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}
} // namespace

CCompareDialog::CCompareDialog(const QString& first, const QString& second, FileChooser chooser, QWidget* parent)
    : QDialog(parent), m_chooser(std::move(chooser))
{
    setObjectName(QStringLiteral("CCompareDialog"));
    setWindowTitle(QStringLiteral("Compare Images"));
    auto* layout = new QVBoxLayout(this);

    auto* files = new QGridLayout;
    const auto addRow = [this, files](int row, const QString& label, const QString& path, const QString& name)
    {
        auto* edit = new QLineEdit(path, this);
        edit->setObjectName(name);
        edit->setMinimumWidth(380);
        auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
        browse->setObjectName(name + QStringLiteral("Browse"));
        connect(browse, &QPushButton::clicked, this, [this, edit] { Browse(edit); });
        auto* caption = new QLabel(label, this);
        caption->setBuddy(edit);
        files->addWidget(caption, row, 0);
        files->addWidget(edit, row, 1);
        files->addWidget(browse, row, 2);
        return edit;
    };
    m_pFirst = addRow(0, QStringLiteral("Image &A:"), first, QStringLiteral("compareFirst"));
    m_pSecond = addRow(1, QStringLiteral("Image &B:"), second, QStringLiteral("compareSecond"));
    layout->addLayout(files);

    auto* options = new QHBoxLayout;
    m_pHeaders = new QCheckBox(QStringLiteral("A difference in the 64-byte &header blocks counts"), this);
    m_pHeaders->setObjectName(QStringLiteral("compareHeaders"));
    m_pHeaders->setToolTip(QStringLiteral("An upload writes the receiver's record into the header blocks, not the "
                                          "image's: by default a difference there is only reported."));
    options->addWidget(m_pHeaders);
    options->addStretch();
    auto* run = new QPushButton(QStringLiteral("&Compare"), this);
    run->setObjectName(QStringLiteral("compareRun"));
    run->setDefault(true);
    connect(run, &QPushButton::clicked, this, &CCompareDialog::Compare);
    options->addWidget(run);
    layout->addLayout(options);

    m_pTable = new QTableWidget(0, ColumnCount, this);
    m_pTable->setObjectName(QStringLiteral("compareTable"));
    m_pTable->setHorizontalHeaderLabels({QStringLiteral("Module (A / B)"), QStringLiteral("Kind"),
                                         QStringLiteral("Length A"), QStringLiteral("Length B"),
                                         QStringLiteral("CRC-32 A"), QStringLiteral("CRC-32 B"),
                                         QStringLiteral("Result")});
    m_pTable->verticalHeader()->hide();
    m_pTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_pTable->horizontalHeader()->setStretchLastSection(true);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    layout->addWidget(m_pTable);

    m_pSummary = new QLabel(this);
    m_pSummary->setObjectName(QStringLiteral("compareSummary"));
    m_pSummary->setWordWrap(true);
    m_pSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_pSummary);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(760, 360);
}

void CCompareDialog::Browse(QLineEdit* edit)
{
    if (!m_chooser)
        return;
    const QString folder = edit->text().isEmpty() ? QString() : QFileInfo(edit->text()).absolutePath();
    const std::optional<QString> path = m_chooser(FileDialogRequest{
        QString::fromLatin1(kImageFilter), QStringLiteral("*.BIN;*.STB"), QStringLiteral("BIN or STB"), false, folder});
    if (path)
        edit->setText(*path);
}

void CCompareDialog::Compare()
{
    m_pTable->setRowCount(0);
    const std::string first = m_pFirst->text().toStdString(), second = m_pSecond->text().toStdString();
    if (first.empty() || second.empty())
    {
        m_pSummary->setText(QStringLiteral("Choose two images to compare."));
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    CImageFile imageA, imageB;
    const CompareImageLoad loadA = LoadImageToCompare(first, imageA);
    const CompareImageLoad loadB = loadA.ok() ? LoadImageToCompare(second, imageB) : CompareImageLoad{};
    ImageComparison comparison;
    if (loadA.ok() && loadB.ok())
        comparison = CompareImages(imageA, imageB, m_pHeaders->isChecked());
    QApplication::restoreOverrideCursor();
    if (!loadA.ok() || !loadB.ok())
    {
        m_pSummary->setText(QStringLiteral("Cannot compare: ") +
                            QString::fromStdString(loadA.ok() ? loadB.error : loadA.error));
        return;
    }

    for (const ModuleComparison& module : comparison.modules)
    {
        const int row = m_pTable->rowCount();
        m_pTable->insertRow(row);
        const std::string_view kind = ModuleKindName(module.kind);
        m_pTable->setItem(row, ModuleColumn,
                          Cell(Number(module.first) + QStringLiteral(" / ") + Number(module.second), false));
        m_pTable->setItem(row, KindColumn, Cell(QString::fromUtf8(kind.data(), qsizetype(kind.size())), false));
        m_pTable->setItem(row, LengthAColumn, Cell(Length(module.first), true));
        m_pTable->setItem(row, LengthBColumn, Cell(Length(module.second), true));
        m_pTable->setItem(row, CrcAColumn, Cell(Crc(module.first), false));
        m_pTable->setItem(row, CrcBColumn, Cell(Crc(module.second), false));
        QTableWidgetItem* result =
            Cell(QString::fromStdString(DescribeModuleResult(module, comparison.bHeadersCount)), false);
        if (module.Differs(comparison.bHeadersCount))
        {
            QFont bold = result->font();
            bold.setBold(true);
            result->setFont(bold);
        }
        m_pTable->setItem(row, ResultColumn, result);
    }
    m_pSummary->setText(QString::fromStdString(DescribeComparison(comparison)));
}
