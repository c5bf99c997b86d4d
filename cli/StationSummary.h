// The end of a station: the summary per port (units complete, failed and
// timed out, with the reasons) and the exact command that retries the failed
// ports, quoted for a POSIX shell.
#pragma once

#include "cli/Station.h"
#include "cli/StationLine.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// `text` quoted for a POSIX shell: as it is when it holds only safe
// characters, else in single quotes.
std::string ShellQuote(const std::string& text);

// The ports with any unit that did not complete.
std::vector<std::string> FailedPorts(const std::vector<StationLine>& lines);
// The station command for `ports` alone, once each (no --repeat); "" when none.
std::string RetryCommand(const StationOptions& options, const std::vector<std::string>& ports);

// The summary for people, lines ending in '\n'.
std::string SummaryText(const std::vector<StationLine>& lines, const std::string& retry);
// The "summary" event's fields.
nlohmann::ordered_json SummaryFields(const std::vector<StationLine>& lines, const std::string& retry, int exitCode);
