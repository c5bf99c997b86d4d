#include "serial/SettingsFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace
{
std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Keys: QSettings writes characters other than letters, digits, '-', '_' and
// '.' as %XX (and %UXXXX); the keys read here need only the first form.
std::string UnescapeKey(const std::string& key)
{
    std::string out;
    for (std::size_t i = 0; i < key.size(); ++i)
    {
        if (key[i] == '%' && i + 2 < key.size() && std::isxdigit(static_cast<unsigned char>(key[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(key[i + 2])))
        {
            out += char(std::strtol(key.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        }
        else
        {
            out += key[i];
        }
    }
    return out;
}

// A value: unquoted text up to a ';' comment, or quoted parts with C-style escapes.
std::string UnescapeValue(const std::string& raw)
{
    std::string out;
    bool quoted = false;
    for (std::size_t i = 0; i < raw.size(); ++i)
    {
        const char c = raw[i];
        if (c == '"')
        {
            quoted = !quoted;
            continue;
        }
        if (!quoted && c == ';')
            break;
        if (c != '\\' || i + 1 == raw.size())
        {
            out += c;
            continue;
        }
        const char next = raw[++i];
        switch (next)
        {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case '0': out += '\0'; break;
        case 'x':
        {
            std::size_t end = i + 1;
            while (end < raw.size() && std::isxdigit(static_cast<unsigned char>(raw[end])))
                ++end;
            const long code = std::strtol(raw.substr(i + 1, end - i - 1).c_str(), nullptr, 16);
            // Only byte-sized codes stand for themselves here; others are kept as written.
            if (end > i + 1 && code < 0x80)
                out += char(code);
            else
                out += raw.substr(i - 1, end - i + 1);
            i = end - 1;
            break;
        }
        default: out += next; break; // \\ \" \' and the rest stand for themselves
        }
    }
    out = quoted ? out : Trim(out);
    if (out.rfind("@@", 0) == 0)
        out.erase(0, 1);
    return out;
}
} // namespace

std::string CSettingsFile::DefaultPath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/')
        return std::string(config) + "/kavdm/kavdm.conf";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0')
        return std::string(home) + "/.config/kavdm/kavdm.conf";
    return {};
}

bool CSettingsFile::Load(const std::string& path)
{
    m_sections.clear();
    m_strError.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        if (errno == ENOENT || errno == ENOTDIR)
            return true;
        m_strError = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    // A folder opens but reads as nothing: say why instead of taking it as empty.
    std::error_code folderCheck;
    if (std::filesystem::is_directory(path, folderCheck))
    {
        m_strError = "cannot read " + path + ": " + std::strerror(EISDIR);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    Parse(text.str());
    return true;
}

void CSettingsFile::Parse(const std::string& text)
{
    m_sections.clear();
    std::string section = "general";
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
    {
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[')
        {
            const auto close = line.find(']');
            section = Lower(UnescapeKey(Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1))));
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        m_sections[section].emplace_back(UnescapeKey(Trim(line.substr(0, equals))),
                                         UnescapeValue(Trim(line.substr(equals + 1))));
    }
}

std::string CSettingsFile::Value(const std::string& section, const std::string& key) const
{
    const std::string wanted = Lower(key);
    std::string value;
    for (const auto& [name, text] : Section(section))
        if (Lower(name) == wanted)
            value = text; // the last one wins, as in QSettings
    return value;
}

std::vector<std::pair<std::string, std::string>> CSettingsFile::Section(const std::string& section) const
{
    const auto found = m_sections.find(Lower(section));
    return found == m_sections.end() ? std::vector<std::pair<std::string, std::string>>{} : found->second;
}
