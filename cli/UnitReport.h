// The record of every unit a station served (`kavdm station --report FILE`):
// one record per unit appended to FILE, as JSON Lines, or as CSV when the name
// ends in ".csv" (a header line first in a new file). Each record is written
// with one write followed by fsync, so a crash leaves at most a torn last
// line; the reader skips such a line, and opening the file again ends it
// first so that the next record starts on a line of its own.
#pragma once

#include "cli/AsyncWriter.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct UnitRecord
{
    int unit = 0;          // counted per port from 1
    std::string start;     // UTC, ISO 8601: the transfer's start, or when the port was armed if it never started
    std::string end;       // UTC, ISO 8601
    std::string port;      // as the station was given it
    std::string identity;  // the most stable name: by-path link, else by-id link, else the port (a URL, a path)
    std::string byId;      // the /dev/serial/by-id link, "" when none
    std::string usbSerial; // the USB serial number, "" when none
    std::string direction; // "download" or "upload"
    int baud = 0;
    std::string file;      // the image sent, or the output written (the .partial kept when incomplete)
    std::uint64_t fileSize = 0;
    std::string fileCrc32; // eight hex digits, "" when the file could not be read
    std::int64_t bytes = 0;
    double seconds = 0;
    std::string result;    // the kind of end ("complete", "status-report", "timed-out", ...)
    std::string reason;    // in words, "" when complete
    int exitCode = 0;      // of the unit's kavdm process
    std::string host;
    std::string version;
    std::optional<bool> verified; // the read-back check (--verify): passed, failed, or none made

    bool operator==(const UnitRecord&) const = default;
};

// True for a report kept as CSV (the name ends in ".csv", any case).
bool IsCsvReport(const std::string& path);

// One record as a JSON object (the keys of the JSON Lines form, in order).
nlohmann::ordered_json UnitRecordJson(const UnitRecord& record);
// One record as a JSON Lines line, '\n' included.
std::string EncodeUnitJson(const UnitRecord& record);
// The CSV header line and one record as a CSV line (RFC 4180 quoting), '\n' included.
std::string UnitCsvHeader();
std::string EncodeUnitCsv(const UnitRecord& record);
// The same record in the columns `columns` names, in their order (a report
// begun by an older version keeps its header; a column it lacks is left out).
std::string EncodeUnitCsv(const UnitRecord& record, const std::vector<std::string>& columns);

// The whole records of a report, in order: a torn last line and lines that do
// not parse are skipped. Empty with `error` set when the file cannot be read.
std::vector<UnitRecord> ReadUnitReport(const std::string& path, std::string& error);

class CUnitReport
{
public:
    // Opens `path` for appending (created when missing); false with the
    // system's reason in `error`.
    bool Open(const std::string& path, std::string& error);
    // Queues the record; it is written and synced on the report's own thread.
    void Append(const UnitRecord& record);
    // Waits until the records are on disk (at most CAsyncWriter::kDrainTime);
    // false when a write failed, with the reason in `error`.
    bool Finish(std::string& error);

private:
    bool m_bCsv = false;
    std::vector<std::string> m_columns; // of a CSV report: its header's, or all for a new one
    std::string m_strPath;
    std::unique_ptr<CAsyncWriter> m_pWriter;
};
