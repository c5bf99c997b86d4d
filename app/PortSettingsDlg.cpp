#include "app/PortSettingsDlg.h"

#include "ui/qt/GuiSettings.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace
{
QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

QTreeWidget* DeviceTable(const std::vector<SerialDeviceInfo>& devices, QWidget* parent)
{
    auto* table = new QTreeWidget(parent);
    table->setObjectName(QStringLiteral("portDevices"));
    table->setRootIsDecorated(false);
    table->setHeaderLabels({QStringLiteral("Device"), QStringLiteral("Driver"), QStringLiteral("Maker"),
                            QStringLiteral("Product"), QStringLiteral("Serial number"),
                            QStringLiteral("Stable name (/dev/serial/by-id)")});
    for (const SerialDeviceInfo& device : devices)
    {
        QStringList byId;
        for (const std::string& path : device.byIdPaths)
            byId << QString::fromStdString(path).section(QLatin1Char('/'), -1);
        auto* row = new QTreeWidgetItem(table, {Text(device.devicePath), Text(device.driver),
                                                Text(device.manufacturer), Text(device.product),
                                                Text(device.serialNumber), byId.join(QStringLiteral(", "))});
        if (!device.usbVendorId.empty())
            row->setToolTip(
                0, QStringLiteral("USB %1:%2").arg(Text(device.usbVendorId), Text(device.usbProductId)));
    }
    if (devices.empty())
        new QTreeWidgetItem(table, {QStringLiteral("none found")});
    table->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    return table;
}
} // namespace

CPortSettingsDlg::CPortSettingsDlg(std::vector<SerialDeviceInfo> devices,
                                   const std::map<int, QString>& stored,
                                   const std::map<int, QString>& overrides, QWidget* parent)
    : QDialog(parent), m_devices(std::move(devices))
{
    setObjectName(QStringLiteral("CPortSettingsDlg"));
    setWindowTitle(QStringLiteral("Port Settings"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Serial devices found:"), this));
    layout->addWidget(DeviceTable(m_devices, this));

    auto* form = new QFormLayout;
    for (int number = 1; number <= kPortCount; ++number)
    {
        auto* box = new QComboBox(this);
        box->setObjectName(QStringLiteral("portCom%1").arg(number));
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(40);
        box->addItem(QString());
        for (const SerialDeviceInfo& device : m_devices)
            box->addItem(PreferredName(Text(device.devicePath), m_devices));
        const auto kept = stored.find(number);
        box->setCurrentText(kept == stored.end() ? QString() : kept->second);
        // Port numbers 1..6 have a device of their own when none is chosen.
        box->lineEdit()->setPlaceholderText(QStringLiteral("default: /dev/ttyS%1").arg(number - 1));
        QWidget* field = box;
        if (const auto found = overrides.find(number); found != overrides.end())
        {
            field = new QWidget(this);
            auto* row = new QHBoxLayout(field);
            row->setContentsMargins(0, 0, 0, 0);
            row->addWidget(box, 1);
            auto* note = new QLabel(QStringLiteral("this run uses %1").arg(found->second), field);
            note->setObjectName(QStringLiteral("portOverride%1").arg(number));
            row->addWidget(note);
        }
        form->addRow(QStringLiteral("COM%1:").arg(number), field);
        m_portBoxes[number] = box;
    }
    layout->addLayout(form);

    auto* help = new QLabel(
        QStringLiteral(
            "A device, its stable name (still right when the adapter is plugged in elsewhere) or a "
            "network port such as rfc2217://host:port; empty for the default device. Kept in %1. "
            "Every run starts on COM2 at 9600 baud.")
            .arg(QDir::toNativeSeparators(CGuiSettings::FilePath())),
        this);
    help->setWordWrap(true);
    layout->addWidget(help);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(720, 420);
}

std::map<int, QString> CPortSettingsDlg::Choices() const
{
    std::map<int, QString> choices;
    for (const auto& [number, box] : m_portBoxes)
        choices[number] = PreferredName(box->currentText().trimmed(), m_devices);
    return choices;
}

QComboBox* CPortSettingsDlg::PortBox(int number) const
{
    const auto found = m_portBoxes.find(number);
    return found == m_portBoxes.end() ? nullptr : found->second;
}

QString CPortSettingsDlg::PreferredName(const QString& device, const std::vector<SerialDeviceInfo>& devices)
{
    for (const SerialDeviceInfo& info : devices)
    {
        if (Text(info.devicePath) == device && !info.byIdPaths.empty())
            return Text(info.byIdPaths.front());
    }
    return device;
}
