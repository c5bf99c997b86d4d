// A log whose lines carry the time they were written: shown newest first as
// "hh:mm:ss.zzz  text" in the log window, and written out oldest first with
// the date for a report.
#pragma once

#include <QAbstractListModel>
#include <QDateTime>
#include <QStringList>

#include <utility>
#include <vector>

class CTimedLog : public QAbstractListModel
{
    Q_OBJECT
public:
    struct Entry
    {
        QDateTime when;
        QString text;
    };

    using QAbstractListModel::QAbstractListModel;

    void Add(const QString& text, const QDateTime& when = QDateTime::currentDateTime());
    // Oldest first.
    const std::vector<Entry>& Entries() const { return m_entries; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // "2026-03-01 14:02:07.315  DOWNLOAD  text": the lines of every log, oldest
    // first, merged by time; each names the log (its title) it came from.
    static QStringList MergedLines(const std::vector<std::pair<QString, const CTimedLog*>>& logs);

private:
    std::vector<Entry> m_entries; // oldest first; row 0 shows the last
};
