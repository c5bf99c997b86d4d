#include "cli/UnitReport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// The columns of the CSV form, and the keys of the JSON form, in order.
constexpr const char* kColumns[] = {"unit",      "start",      "end",   "port",    "identity", "by_id",
                                    "usb_serial", "direction", "baud",  "file",    "file_size", "file_crc32",
                                    "bytes",     "seconds",    "result", "reason", "exit_code", "host",
                                    "version",   "verified"};

} // namespace

nlohmann::ordered_json UnitRecordJson(const UnitRecord& r)
{
    return {{"unit", r.unit},           {"start", r.start},       {"end", r.end},
            {"port", r.port},           {"identity", r.identity}, {"by_id", r.byId},
            {"usb_serial", r.usbSerial}, {"direction", r.direction}, {"baud", r.baud},
            {"file", r.file},           {"file_size", r.fileSize}, {"file_crc32", r.fileCrc32},
            {"bytes", r.bytes},         {"seconds", r.seconds},   {"result", r.result},
            {"reason", r.reason},       {"exit_code", r.exitCode}, {"host", r.host},
            {"version", r.version},     {"verified", r.verified ? nlohmann::ordered_json(*r.verified) : nullptr}};
}

namespace
{

// A record from named text fields (CSV) or JSON values; missing fields stay empty.
UnitRecord FromJson(const nlohmann::json& j)
{
    UnitRecord r;
    r.unit = j.value("unit", 0);
    r.start = j.value("start", "");
    r.end = j.value("end", "");
    r.port = j.value("port", "");
    r.identity = j.value("identity", "");
    r.byId = j.value("by_id", "");
    r.usbSerial = j.value("usb_serial", "");
    r.direction = j.value("direction", "");
    r.baud = j.value("baud", 0);
    r.file = j.value("file", "");
    r.fileSize = j.value("file_size", std::uint64_t(0));
    r.fileCrc32 = j.value("file_crc32", "");
    r.bytes = j.value("bytes", std::int64_t(0));
    r.seconds = j.value("seconds", 0.0);
    r.result = j.value("result", "");
    r.reason = j.value("reason", "");
    r.exitCode = j.value("exit_code", 0);
    r.host = j.value("host", "");
    r.version = j.value("version", "");
    if (const auto verified = j.find("verified"); verified != j.end() && verified->is_boolean())
        r.verified = verified->get<bool>();
    return r;
}

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos && (text.empty() || (text.front() != ' ' && text.back() != ' ')))
        return text;
    std::string quoted = "\"";
    for (const char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// Splits CSV text into records of fields; a last record that the text does
// not end (no line break outside quotes) is torn and left out.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text)
{
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const char c = text[i];
        if (quoted)
        {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
            {
                field += '"';
                ++i;
            }
            else if (c == '"')
                quoted = false;
            else
                field += c;
        }
        else if (c == '"')
            quoted = true;
        else if (c == ',')
            fields.push_back(std::exchange(field, {}));
        else if (c == '\n')
        {
            if (!field.empty() && field.back() == '\r')
                field.pop_back();
            fields.push_back(std::exchange(field, {}));
            records.push_back(std::exchange(fields, {}));
        }
        else
            field += c;
    }
    return records;
}

// A CSV field as the JSON value of its column, so both forms share FromJson.
nlohmann::json CsvValue(const std::string& column, const std::string& text)
{
    static const std::map<std::string, bool> numeric = {{"unit", true},  {"baud", true},    {"file_size", true},
                                                        {"bytes", true}, {"seconds", true}, {"exit_code", true}};
    if (column == "verified")
        return text == "true" ? nlohmann::json(true) : text == "false" ? nlohmann::json(false) : nlohmann::json();
    if (!numeric.count(column))
        return text;
    const auto number = nlohmann::json::parse(text, nullptr, false);
    return number.is_number() ? number : nlohmann::json(0);
}

std::vector<UnitRecord> ReadCsv(const std::string& text)
{
    std::vector<UnitRecord> records;
    const auto rows = ParseCsv(text);
    if (rows.empty())
        return records;
    const auto& header = rows.front();
    for (std::size_t row = 1; row < rows.size(); ++row)
    {
        if (rows[row].size() != header.size())
            continue; // a line torn by a crash and ended by a later run
        nlohmann::json object = nlohmann::json::object();
        for (std::size_t i = 0; i < header.size(); ++i)
            object[header[i]] = CsvValue(header[i], rows[row][i]);
        records.push_back(FromJson(object));
    }
    return records;
}

// The columns of an existing CSV report's header line: a report begun by an
// older version is appended in its own columns, so its rows stay whole.
std::vector<std::string> HeaderColumns(int fd)
{
    std::string head(4096, '\0');
    const ssize_t got = ::pread(fd, head.data(), head.size(), 0);
    head.resize(got > 0 ? std::size_t(got) : 0);
    const auto end = head.find('\n');
    const auto rows = ParseCsv(end == std::string::npos ? std::string() : head.substr(0, end + 1));
    if (rows.empty() || std::find(rows[0].begin(), rows[0].end(), "unit") == rows[0].end())
        return std::vector<std::string>(std::begin(kColumns), std::end(kColumns));
    return rows[0];
}

// Whether a CSV report ends inside a quoted field (a record torn there by a
// crash): its quotes are counted, a doubled one counting twice.
bool EndsInsideQuotes(int fd)
{
    bool quoted = false;
    char buffer[65536];
    off_t offset = 0;
    for (ssize_t got; (got = ::pread(fd, buffer, sizeof buffer, offset)) > 0; offset += got)
        quoted ^= std::count(buffer, buffer + got, '"') % 2 != 0;
    return quoted;
}

std::vector<UnitRecord> ReadJsonLines(const std::string& text)
{
    std::vector<UnitRecord> records;
    std::size_t begin = 0;
    for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
    {
        const auto object = nlohmann::json::parse(text.begin() + std::ptrdiff_t(begin),
                                                  text.begin() + std::ptrdiff_t(end), nullptr, false);
        if (object.is_object())
            records.push_back(FromJson(object));
    }
    return records; // what follows the last line break is a torn record
}
} // namespace

bool IsCsvReport(const std::string& path)
{
    if (path.size() < 4)
        return false;
    std::string suffix = path.substr(path.size() - 4);
    std::transform(suffix.begin(), suffix.end(), suffix.begin(), [](unsigned char c) { return std::tolower(c); });
    return suffix == ".csv";
}

std::string EncodeUnitJson(const UnitRecord& record)
{
    return UnitRecordJson(record).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string UnitCsvHeader()
{
    std::string line;
    for (const char* column : kColumns)
        line += (line.empty() ? "" : ",") + std::string(column);
    return line + "\n";
}

std::string EncodeUnitCsv(const UnitRecord& record)
{
    return EncodeUnitCsv(record, std::vector<std::string>(std::begin(kColumns), std::end(kColumns)));
}

std::string EncodeUnitCsv(const UnitRecord& record, const std::vector<std::string>& columns)
{
    const auto object = UnitRecordJson(record);
    std::string line;
    bool first = true;
    for (const std::string& column : columns)
    {
        if (!object.contains(column))
            continue;
        const auto& value = object[column];
        const std::string text = value.is_string() ? value.get<std::string>() : value.is_null() ? "" : value.dump();
        line += (first ? "" : ",") + CsvField(text);
        first = false;
    }
    return line + "\n";
}

std::vector<UnitRecord> ReadUnitReport(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    return IsCsvReport(path) ? ReadCsv(text.str()) : ReadJsonLines(text.str());
}

bool CUnitReport::Open(const std::string& path, std::string& error)
{
    // O_NONBLOCK: a FIFO without a reader is refused rather than waited for.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0)
    {
        error = "cannot write the report " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat status{};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
    {
        error = "cannot write the report " + path + ": not a regular file";
        ::close(fd);
        return false;
    }
    // A record torn by a crash is ended here, so the next one starts on its own
    // line: a quoted field left open is closed first, or it would take that line in.
    char last = '\n';
    bool openQuote = false;
    m_bCsv = IsCsvReport(path);
    m_columns.assign(std::begin(kColumns), std::end(kColumns));
    if (status.st_size > 0)
    {
        const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (reader < 0 || ::pread(reader, &last, 1, status.st_size - 1) != 1)
            last = '\n';
        if (reader >= 0 && m_bCsv)
        {
            m_columns = HeaderColumns(reader);
            openQuote = EndsInsideQuotes(reader);
        }
        if (reader >= 0)
            ::close(reader);
    }
    m_strPath = path;
    m_pWriter = std::make_unique<CAsyncWriter>(fd, CAsyncWriter::Options{true, true});
    if (openQuote)
        m_pWriter->Write("\"\n");
    else if (last != '\n')
        m_pWriter->Write("\n");
    if (m_bCsv && status.st_size == 0)
        m_pWriter->Write(UnitCsvHeader());
    return true;
}

void CUnitReport::Append(const UnitRecord& record)
{
    if (m_pWriter)
        m_pWriter->Write(m_bCsv ? EncodeUnitCsv(record, m_columns) : EncodeUnitJson(record));
}

bool CUnitReport::Finish(std::string& error)
{
    if (!m_pWriter)
        return true;
    m_pWriter->Flush(CAsyncWriter::kDrainTime);
    if (!m_pWriter->Failed())
        return true;
    error = "cannot write the report " + m_strPath + ": " + std::strerror(m_pWriter->Error());
    return false;
}
