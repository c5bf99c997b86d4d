// The settings file shared by `kavdm` and `kavdm-gui`:
// $XDG_CONFIG_HOME/kavdm/kavdm.conf (~/.config/kavdm/kavdm.conf), an INI file
// as QSettings writes it for organisation and application "kavdm":
//   [General]  port=DEVICE, baud=RATE      the command line's defaults
//   [ports]    com1=PATH, com7=URL, ...    port-number mappings
//   [gui]      the window's own choices
// Read here without Qt so that the core and the command line need none. The
// reader accepts what QSettings writes: values in double quotes, backslash
// escapes, "@@" for a leading "@", comments after ';' and lines opening with '#'.
#pragma once

#include <map>
#include <string>
#include <vector>

class CSettingsFile
{
public:
    // The file's path from XDG_CONFIG_HOME or HOME; "" when neither is set.
    static std::string DefaultPath();

    // Reads the file. A missing file is an empty one (true); false with
    // LastError() when it exists but cannot be read.
    bool Load(const std::string& path);
    // Reads INI text (for the tests and for Load).
    void Parse(const std::string& text);

    // The value of `key` in `section` (both compared without regard to case), "" when absent.
    std::string Value(const std::string& section, const std::string& key) const;
    // Every key and value of a section, in file order.
    std::vector<std::pair<std::string, std::string>> Section(const std::string& section) const;

    const std::string& LastError() const { return m_strError; }

private:
    // Lower-case section name -> its keys and values in file order.
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> m_sections;
    std::string m_strError;
};
