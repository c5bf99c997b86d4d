// What a station shows on stderr. On a terminal: one row per port (port,
// identity, unit, phase, module, %, rate, elapsed, estimate, last result) and
// a summary row, redrawn in place with cursor movement at most
// kRedrawPerSecond times a second. Otherwise: one plain line per notable
// event, each starting with its port. Everything goes through the station's
// stderr writer, so a slow terminal never holds the station up.
#pragma once

#include "cli/AsyncWriter.h"
#include "cli/StationLine.h"

#include <chrono>
#include <string>
#include <vector>

class CStationDisplay
{
public:
    static constexpr int kRedrawPerSecond = 4;

    // `rows`: redraw rows (a terminal); `quiet`: show nothing but the summary.
    CStationDisplay(CAsyncWriter& err, bool rows, bool quiet) : m_err(err), m_bRows(rows), m_bQuiet(quiet) {}

    bool Rows() const { return m_bRows && !m_bQuiet; }
    // A notable event of a line, as a plain line ("PORT: text"); rows show it in their own way.
    void Note(const StationLine& line, const std::string& text);
    // Draws the rows again when the last drawing is old enough, or `force`;
    // a change that comes too soon is drawn when MillisecondsToRedraw() says.
    void Redraw(const std::vector<StationLine>& lines, bool force = false);
    // Time until a held-back redraw is due, for the station's poll (-1: none).
    int MillisecondsToRedraw() const;
    // Text below the rows (the summary).
    void Print(const std::string& text);

    // One row of a line and the summary row, cut to `width` columns.
    static std::string FormatRow(const StationLine& line, std::size_t width);
    static std::string FormatHeader(std::size_t width);
    static std::string FormatSummaryRow(const std::vector<StationLine>& lines, std::size_t width);

private:
    CAsyncWriter& m_err;
    const bool m_bRows;
    const bool m_bQuiet;
    int m_nRowsDrawn = 0;
    bool m_bPending = false;
    std::chrono::steady_clock::time_point m_lastDrawn{};
};
