#include "app/LumApp.h"

#include "app/DemoMode.h"
#include "app/MainFrame.h"
#include "serial/PortNames.h"
#include "ui/qt/GuiSettings.h"
#include "ui/qt/LumView.h"

#include <QCoreApplication>
#include <QProcessEnvironment>

#include <cstdio>

CLumApp::CLumApp(GuiOptions options, std::unique_ptr<CBoxPresenter> presenter, FileChooser chooser)
    : m_options(std::move(options)), m_broker(std::move(presenter)), m_chooser(std::move(chooser))
{
    QCoreApplication::setApplicationName(QString::fromLatin1(kAppName));
    QCoreApplication::setOrganizationName(QStringLiteral("kavdm"));
}

CLumApp::~CLumApp()
{
    ExitInstance();
}

std::map<int, QString> CLumApp::PortOverrides() const
{
    std::map<int, QString> overrides;
    for (const auto& [port, path] : m_options.portDevices)
        overrides[port] = QStringLiteral("--com%1 %2").arg(port).arg(QString::fromStdString(path));
    const QString prefix = QStringLiteral("KAVDM_COM");
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : environment.keys())
    {
        bool isNumber = false;
        const int port = name.startsWith(prefix) ? name.mid(prefix.size()).toInt(&isNumber) : 0;
        if (isNumber && port >= 1 && !environment.value(name).isEmpty() && overrides.count(port) == 0)
            overrides[port] = QStringLiteral("%1=%2").arg(name, environment.value(name));
    }
    if (m_options.bDemo)
        overrides[2] = QStringLiteral("demo mode, the simulated receiver");
    return overrides;
}

bool CLumApp::InitInstance()
{
    // Which device a port number stands for: an option, then the
    // environment, then the choice kept from Port Settings, then the default.
    const std::map<int, QString> overrides = PortOverrides();
    for (const auto& [port, device] : CGuiSettings().Ports())
    {
        if (overrides.count(port) == 0)
            SetPortDevice(port, device.toStdString());
    }
    for (const auto& [port, path] : m_options.portDevices)
        SetPortDevice(port, path);
    if (m_options.bDemo)
    {
        // The simulated receiver takes COM2 before the pages open it.
        m_pDemo = std::make_unique<CDemoMode>();
        std::string error;
        if (!m_pDemo->Start(error))
        {
            std::fprintf(stderr, "kavdm-gui: demo mode: %s\n", error.c_str());
            m_pDemo.reset();
            return false;
        }
    }
    if (!m_doc.OnNewDocument())
        return false;

    GuiContext context{m_protocol, m_broker, m_chooser};
    m_pMainFrame = std::make_unique<CMainFrame>(context);
    m_pMainFrame->SetPortOverrides(overrides);
    if (!m_broker.Presenter())
        m_broker.SetPresenter(std::make_unique<CQtBoxPresenter>(m_pMainFrame.get()));
    if (!context.chooseFile)
        m_pMainFrame->View()->SetFileChooser(MakeQtFileChooser(m_pMainFrame.get()));

    if (m_pDemo)
    {
        m_pDemo->Install(m_pMainFrame.get(), &m_broker);
        m_pMainFrame->View()->SetBrowseFolder(m_pDemo->SamplesFolder());
    }
    m_pMainFrame->View()->OnInitialUpdate();
    m_pMainFrame->show();
    if (!m_options.strImage.isEmpty())
        m_pMainFrame->View()->OpenImage(m_options.strImage);
    return true;
}

void CLumApp::ExitInstance()
{
    if (m_pMainFrame)
        m_pMainFrame->View()->ShutDown();
    m_pMainFrame.reset();
    m_protocol.Stop();
    // The receiver goes last: the port that talked to it is closed by now.
    m_pDemo.reset();
}
