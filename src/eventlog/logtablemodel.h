#pragma once

#include "logstore.h"

#include <QAbstractTableModel>
#include <QStringList>

// The whole log, newest first, for the event log dialog. It knows the number of rows from the start,
// so the view's scroll range spans the whole log, and reads the rows a page at a time as the view
// shows them, keeping a few pages: any place in a log of any size costs one bounded query.
class LogTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int pageSize = 256;
    static constexpr int cachedPages = 16;

    explicit LogTableModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant &value,
                       int role = Qt::EditRole) override;

    // Reads the log afresh. When it cannot be read the rows stay as they were and false is returned.
    bool reload();
    // Takes in rows written since the last reading: new rows at the top are inserted as rows of their
    // own; any other change of the log reads it afresh. Returns how many rows were inserted at the top.
    int refresh();
    // No rows.
    void clear();

private:
    // Rows first .. first + span - 1; fewer rows than that when the log held fewer.
    struct Page
    {
        int first = 0;
        int span = 0;
        QList<LogRow> rows;
        quint64 used = 0;
    };

    const LogRow *row(int r) const;
    const Page *page(int r) const;
    void remember(Page page) const;
    void replaceAll(int count, qint64 lastRowid, const QList<LogRow> &first);

    int m_count = 0;
    qint64 m_lastRowid = 0;
    LogRow m_top; // the newest row when the log was last read: tells new rows at the top from other changes
    mutable QList<Page> m_pages;
    mutable quint64 m_uses = 0;
    QStringList m_headers{QString(), QString(), QString()};
};
