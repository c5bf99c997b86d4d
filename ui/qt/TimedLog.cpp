#include "ui/qt/TimedLog.h"

#include <algorithm>

void CTimedLog::Add(const QString& text, const QDateTime& when)
{
    beginInsertRows({}, 0, 0);
    m_entries.push_back(Entry{when, text});
    endInsertRows();
}

int CTimedLog::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

QVariant CTimedLog::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || role != Qt::DisplayRole)
        return {};
    const Entry& entry = m_entries[m_entries.size() - 1 - size_t(index.row())];
    return entry.when.toString(QStringLiteral("hh:mm:ss.zzz")) + QStringLiteral("  ") + entry.text;
}

QStringList CTimedLog::MergedLines(const std::vector<std::pair<QString, const CTimedLog*>>& logs)
{
    struct Line
    {
        const QDateTime* when;
        const QString* source;
        const QString* text;
    };
    std::vector<Line> lines;
    int width = 0;
    for (const auto& [source, log] : logs)
    {
        width = std::max(width, int(source.size()));
        for (const Entry& entry : log->Entries())
            lines.push_back(Line{&entry.when, &source, &entry.text});
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const Line& a, const Line& b) { return *a.when < *b.when; });
    QStringList out;
    out.reserve(qsizetype(lines.size()));
    for (const Line& line : lines)
        out << QStringLiteral("%1  %2  %3")
                   .arg(line.when->toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")),
                        line.source->leftJustified(width), *line.text);
    return out;
}
