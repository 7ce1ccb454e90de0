#pragma once

#include "logstore.h"

#include <QAbstractTableModel>
#include <QStringList>

// The whole log, newest first, for the event log dialog. Rows are read from log.db a page at a time
// as the view scrolls to them, so a log of any size opens at once.
class LogTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int pageSize = 256;

    explicit LogTableModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant &value,
                       int role = Qt::EditRole) override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

    // Reads the newest rows again, as many as were shown (at least one page). When the log cannot be
    // read the rows stay as they were and false is returned.
    bool reload();
    // No rows and nothing to fetch.
    void clear();
    // Every row the table stands for, in its order: the rows read so far, then the rest of the log.
    bool forEachRow(const std::function<void(const LogRow &)> &sink, QString *error = nullptr) const;

private:
    QList<LogRow> m_rows;
    LogPosition m_next;
    bool m_complete = true;
    QStringList m_headers{QString(), QString(), QString()};
};
