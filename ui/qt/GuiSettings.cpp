#include "ui/qt/GuiSettings.h"

#include <QDir>

namespace
{
const QString kPortsGroup = QStringLiteral("ports");
const QString kRecentFilesKey = QStringLiteral("gui/recentFiles");
} // namespace

CGuiSettings::CGuiSettings() : m_settings(FilePath(), QSettings::IniFormat) {}

QString CGuiSettings::FilePath()
{
    // The XDG rule, as the command line reads it too: a relative
    // XDG_CONFIG_HOME is ignored.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/kavdm/kavdm.conf");
}

std::map<int, QString> CGuiSettings::Ports() const
{
    std::map<int, QString> ports;
    const QString prefix = kPortsGroup + QStringLiteral("/com");
    for (const QString& key : m_settings.allKeys())
    {
        if (!key.startsWith(prefix))
            continue;
        bool isNumber = false;
        const int number = key.mid(prefix.size()).toInt(&isNumber);
        const QString device = m_settings.value(key).toString().trimmed();
        if (isNumber && number >= 1 && !device.isEmpty())
            ports[number] = device;
    }
    return ports;
}

void CGuiSettings::SetPort(int number, const QString& device)
{
    const QString key = QStringLiteral("%1/com%2").arg(kPortsGroup).arg(number);
    if (device.trimmed().isEmpty())
        m_settings.remove(key);
    else
        m_settings.setValue(key, device.trimmed());
}

QString CGuiSettings::BrowseFolder(const QString& page) const
{
    return m_settings.value(QStringLiteral("gui/%1Folder").arg(page)).toString();
}

void CGuiSettings::SetBrowseFolder(const QString& page, const QString& folder)
{
    m_settings.setValue(QStringLiteral("gui/%1Folder").arg(page), folder);
}

QStringList CGuiSettings::RecentFiles() const
{
    return m_settings.value(kRecentFilesKey).toStringList();
}

void CGuiSettings::AddRecentFile(const QString& path)
{
    QStringList files = RecentFiles();
    files.removeAll(path);
    files.prepend(path);
    m_settings.setValue(kRecentFilesKey, files.mid(0, kRecentFileCount));
}

void CGuiSettings::ClearRecentFiles()
{
    m_settings.remove(kRecentFilesKey);
}

bool CGuiSettings::Save()
{
    m_settings.sync();
    return m_settings.status() == QSettings::NoError;
}
