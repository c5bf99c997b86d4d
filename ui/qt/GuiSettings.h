// What the desktop program keeps between runs, in the configuration file it
// shares with the command line: $XDG_CONFIG_HOME/kavdm/kavdm.conf (by default
// ~/.config/kavdm/kavdm.conf), in QSettings' INI format.
//   [ports] comN=DEVICE   the device or network URL port number N stands for
//   [gui]   downloadFolder, uploadFolder (where each page's Browse last chose
//           a file) and recentFiles (the images opened last, newest first)
// Keys this program does not know ([General] port and baud of the command
// line) are left as they are.
#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>

#include <map>

class CGuiSettings
{
public:
    static constexpr int kRecentFileCount = 6;

    CGuiSettings();

    static QString FilePath();

    // [ports]: port number -> device, only the numbers that have an entry.
    std::map<int, QString> Ports() const;
    // An empty device removes the entry (the port number's default again).
    void SetPort(int number, const QString& device);

    // `page` is "download" or "upload"; "" when nothing was chosen yet.
    QString BrowseFolder(const QString& page) const;
    void SetBrowseFolder(const QString& page, const QString& folder);

    QStringList RecentFiles() const;
    // Puts `path` first, without duplicates, keeping kRecentFileCount entries.
    void AddRecentFile(const QString& path);
    void ClearRecentFiles();

    // Writes the changes; false when the file could not be written.
    bool Save();

private:
    QSettings m_settings;
};
