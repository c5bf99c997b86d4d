#include "app/DemoMode.h"

#include "app/MainFrame.h"
#include "image/SampleImages.h"
#include "serial/PortNames.h"
#include "ui/qt/LumView.h"
#include "ui/qt/MessageBoxBroker.h"

#include <QActionGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QStandardPaths>

namespace
{
constexpr int kDemoPort = 2; // COM2, the port chosen at start-up
} // namespace

const std::vector<CDemoMode::FaultChoice>& CDemoMode::FaultChoices()
{
    static const std::vector<FaultChoice> kChoices = {
        {"&No fault", "", ReceiverRole::Download},
        {"Download: checksum error report at packet 5", "status:5:W", ReceiverRole::Download},
        {"Download: receiver restarts at packet 10", "restart:10", ReceiverRole::Download},
        {"Download: wrong block number at packet 3", "badblock:3", ReceiverRole::Download},
        {"Download: byte 1000 of module 2 stored changed", "corrupt:2:1000", ReceiverRole::Download},
        {"Upload: CRC error in packet 5", "crc:5", ReceiverRole::Upload},
        {"Upload: packet 7 lost once", "drop:7", ReceiverRole::Upload},
        {"Upload: packet 4 sent twice", "dup:4", ReceiverRole::Upload},
        {"Upload: packets in small chunks", "chunks:100:5", ReceiverRole::Upload},
    };
    return kChoices;
}

CDemoMode::CDemoMode()
{
    m_receiver.SetLog([this](const std::string& line) {
        QMetaObject::invokeMethod(this, [this, text = QString::fromStdString(line)] { AddLine(text); },
                                  Qt::QueuedConnection);
    });
    m_receiver.SetFinished([this](const ReceiverResult& result) {
        QMetaObject::invokeMethod(
            this,
            [this, ok = result.bSucceeded, text = QString::fromStdString(result.strText)] {
                m_strLastResult = text;
                AddLine(QStringLiteral("Session ended: ") + text);
                emit SessionEnded(ok, text);
            },
            Qt::QueuedConnection);
    });
}

CDemoMode::~CDemoMode()
{
    m_receiver.Stop();
}

bool CDemoMode::Start(std::string& error)
{
    std::string slave;
    if (!m_receiver.Start(slave, error))
        return false;
    // As a receiver does, it keeps what a download wrote and returns it to the next upload.
    m_receiver.KeepReceived();
    SetPortDevice(kDemoPort, slave);
    m_strSamples = FindOrMakeSamples();
    AddLine(QStringLiteral("Simulated receiver on %1 (COM2), powered off").arg(QString::fromStdString(slave)));
    return true;
}

QString CDemoMode::FindOrMakeSamples()
{
    // Installed: <prefix>/share/kavdm/samples; built: <source>/resources/samples.
    const QString appDir = QCoreApplication::applicationDirPath();
    for (const QString& candidate : {appDir + QStringLiteral("/../share/kavdm/samples"),
                                     appDir + QStringLiteral("/../../resources/samples"),
                                     appDir + QStringLiteral("/../resources/samples")})
    {
        QDir dir(candidate);
        if (dir.exists() && !dir.entryList({QStringLiteral("*.bin"), QStringLiteral("*.stb")}).isEmpty())
            return dir.canonicalPath();
    }
    // None shipped beside this binary: write the samples once into the cache.
    QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        cache = QDir::tempPath();
    const QString folder = cache + QStringLiteral("/kavdm/samples");
    QDir().mkpath(folder);
    for (const SampleFile& sample : MakeSampleFiles())
    {
        QFile file(folder + QLatin1Char('/') + QString::fromStdString(sample.name));
        if (file.exists() && file.size() == qint64(sample.bytes.size()))
            continue;
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(reinterpret_cast<const char*>(sample.bytes.data()), qint64(sample.bytes.size()));
    }
    return folder;
}

void CDemoMode::Install(CMainFrame* frame, CMessageBoxBroker* broker)
{
    m_pBroker = broker;
    m_pView = frame->View();
    frame->AddLogSource(QStringLiteral("Receiver"), &m_log);
    QMenu* menu = frame->AddMenu(QStringLiteral("&Demo"));
    menu->setObjectName(QStringLiteral("menuDemo"));
    QAction* download = menu->addAction(QStringLiteral("Power on for a &download"));
    download->setObjectName(QStringLiteral("actionDemoDownload"));
    connect(download, &QAction::triggered, this, [this] { PowerOn(ReceiverRole::Download); });
    QAction* upload = menu->addAction(QStringLiteral("Power on for an &upload"));
    upload->setObjectName(QStringLiteral("actionDemoUpload"));
    connect(upload, &QAction::triggered, this, [this] { PowerOn(ReceiverRole::Upload); });
    QAction* off = menu->addAction(QStringLiteral("Power o&ff"));
    off->setObjectName(QStringLiteral("actionDemoOff"));
    connect(off, &QAction::triggered, this, &CDemoMode::PowerOff);
    menu->addSeparator();

    QMenu* faults = menu->addMenu(QStringLiteral("&Fault to inject"));
    auto* group = new QActionGroup(faults);
    group->setExclusive(true);
    for (const FaultChoice& choice : FaultChoices())
    {
        QAction* action = faults->addAction(QString::fromUtf8(choice.label));
        action->setCheckable(true);
        action->setChecked(*choice.spec == '\0');
        action->setData(QString::fromLatin1(choice.spec));
        group->addAction(action);
    }
    connect(group, &QActionGroup::triggered, this,
            [this](QAction* action) { SetFault(action->data().toString().toStdString()); });

    QAction* paced = menu->addAction(QStringLiteral("&Paced at the line's baud rate"));
    paced->setObjectName(QStringLiteral("actionDemoPaced"));
    paced->setCheckable(true);
    paced->setChecked(m_bPaced);
    connect(paced, &QAction::toggled, this, &CDemoMode::SetPaced);
    menu->addSeparator();
    QAction* samples = menu->addAction(QStringLiteral("Sample images: %1").arg(m_strSamples));
    samples->setEnabled(false);
}

bool CDemoMode::PowerOn(ReceiverRole role)
{
    ReceiverOptions options;
    options.role = role;
    options.nRate = kReceiverAnyRate; // follow the rate the page asks for
    options.bPace = m_bPaced;
    // An upload stays at 9600 baud on the line whatever rate is chosen; the demo
    // paces it at the chosen rate so that it runs as fast as a download would.
    if (role == ReceiverRole::Upload && m_pView && m_pView->BaudRateBox())
    {
        const int index = m_pView->BaudRateBox()->currentIndex();
        if (index >= 0 && index < int(CLumView::kBaudRates.size()))
            options.nPaceBaud = CLumView::kBaudRates[std::size_t(index)];
    }
    options.nSilenceTimeoutMs = 60000;
    if (!m_strFault.empty())
    {
        for (const FaultChoice& choice : FaultChoices())
        {
            if (m_strFault != choice.spec || choice.role != role)
                continue;
            ReceiverFault fault;
            std::string error;
            if (ParseReceiverFault(m_strFault, fault, error))
                options.faults.push_back(fault);
        }
    }
    std::string error;
    if (m_receiver.IsPoweredOn())
        m_receiver.PowerOff();
    if (!m_receiver.PowerOn(options, error))
    {
        Tell("The simulated receiver did not start: " + error);
        return false;
    }
    AddLine(role == ReceiverRole::Download ? QStringLiteral("Powered on for a download")
                                           : QStringLiteral("Powered on for an upload"));
    return true;
}

void CDemoMode::PowerOff()
{
    m_receiver.PowerOff();
    AddLine(QStringLiteral("Powered off"));
}

void CDemoMode::AddLine(const QString& line)
{
    m_log.Add(line);
}

void CDemoMode::Tell(const std::string& text)
{
    AddLine(QString::fromStdString(text));
    if (m_pBroker && m_pBroker->Presenter())
        m_pBroker->Presenter()->Present(BoxRequest{text, BoxIcon::Exclamation, {}}, [] {});
}
