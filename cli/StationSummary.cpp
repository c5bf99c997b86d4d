#include "cli/StationSummary.h"

#include <cstdio>

namespace
{
std::string Counts(const StationLine& line)
{
    std::string parts;
    const auto add = [&](int count, const char* what) {
        if (count > 0)
            parts += (parts.empty() ? "" : ", ") + std::to_string(count) + " " + what;
    };
    add(line.complete, "complete");
    add(line.failed, "failed");
    add(line.timedOut, "timed out");
    return std::to_string(line.Units()) + (line.Units() == 1 ? " unit" : " units") + (parts.empty() ? "" : ": ") +
           parts;
}
} // namespace

std::string ShellQuote(const std::string& text)
{
    if (!text.empty() && text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                                                "@%+=:,./_-") == std::string::npos)
        return text;
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::vector<std::string> FailedPorts(const std::vector<StationLine>& lines)
{
    std::vector<std::string> ports;
    for (const auto& line : lines)
        if (line.failed + line.timedOut > 0)
            ports.push_back(line.port.name);
    return ports;
}

std::string RetryCommand(const StationOptions& options, const std::vector<std::string>& ports)
{
    if (ports.empty())
        return {};
    std::vector<std::string> words = {options.shownProgram, "station", options.direction, options.file};
    for (const auto& port : ports)
    {
        words.push_back("-p");
        words.push_back(port);
    }
    if (options.baud != 0)
        words.insert(words.end(), {"-b", std::to_string(options.baud)});
    if (options.waitSeconds)
    {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", *options.waitSeconds);
        words.insert(words.end(), {"-w", seconds});
    }
    if (options.verbose)
        words.push_back("-v");
    if (options.quiet)
        words.push_back("-q");
    if (options.json)
        words.push_back("--json");
    if (options.verify)
        words.push_back("--verify");
    if (!options.reportPath.empty())
        words.insert(words.end(), {"--report", options.reportPath});
    if (!options.logDir.empty())
        words.insert(words.end(), {"--log-dir", options.logDir});
    std::string command;
    for (const auto& word : words)
        command += (command.empty() ? "" : " ") + ShellQuote(word);
    return command;
}

std::string SummaryText(const std::vector<StationLine>& lines, const std::string& retry)
{
    int complete = 0, failed = 0, timedOut = 0;
    std::string perPort;
    for (const auto& line : lines)
    {
        complete += line.complete;
        failed += line.failed;
        timedOut += line.timedOut;
        perPort += "  " + line.port.name + ": " + Counts(line) + "\n";
        for (const auto& failure : line.failures)
            perPort += "    " + failure + "\n";
    }
    const int units = complete + failed + timedOut;
    std::string text = "kavdm station: " + std::to_string(lines.size()) + (lines.size() == 1 ? " port, " : " ports, ") +
                       std::to_string(units) + (units == 1 ? " unit: " : " units: ") + std::to_string(complete) +
                       " complete, " + std::to_string(failed) + " failed, " + std::to_string(timedOut) +
                       " timed out\n" + perPort;
    if (!retry.empty())
        text += "Retry the failed ports with:\n  " + retry + "\n";
    return text;
}

nlohmann::ordered_json SummaryFields(const std::vector<StationLine>& lines, const std::string& retry, int exitCode)
{
    nlohmann::ordered_json ports = nlohmann::ordered_json::array();
    for (const auto& line : lines)
        ports.push_back({{"port", line.port.name},
                         {"units", line.Units()},
                         {"complete", line.complete},
                         {"failed", line.failed},
                         {"timed_out", line.timedOut},
                         {"failures", line.failures}});
    return {{"ports", ports}, {"retry", retry}, {"exit_code", exitCode}};
}
