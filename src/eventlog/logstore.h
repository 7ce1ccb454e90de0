#pragma once

#include "model/logevent.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>

// One row of log.db as the tables show it.
struct LogRow
{
    QString time;
    QString ip;
    QString event;    // the event text, or the stored value when it is no known id
    qint64 rowid = 0; // which row of the file it is; not part of what is shown

    // Equal when they show the same.
    bool operator==(const LogRow &o) const { return time == o.time && ip == o.ip && event == o.event; }
};

// Where a reading in display order stopped; the next reading goes on after it.
struct LogPosition
{
    QVariant time; // as SQLite returned it, so that it binds back with the same type
    qint64 rowid = 0;
    bool started = false;
};

// The main window shows this many of the newest rows.
constexpr int recentEventCount = 5;

QString logDatabasePath();
// The display text of a stored id: the event text for a number, else the stored text itself.
QString eventCellText(const QVariant &id);

// One operation on log.db. The constructor opens the named connection and creates the table and its
// time index when they are missing; the destructor closes and removes the connection again, so that
// nothing stays open between operations.
class LogDatabase
{
public:
    static const QString flushConnection;
    static const QString viewConnection;
    static const QString clearConnection;
    // The long readings of the export and the printout, which stay open between their chunks.
    static const QString exportConnection;
    static const QString printConnection;

    explicit LogDatabase(const QString &connectionName);
    ~LogDatabase();
    LogDatabase(const LogDatabase &) = delete;
    LogDatabase &operator=(const LogDatabase &) = delete;

    bool isOpen() const { return m_db.isOpen(); }
    QString lastError() const { return m_error; }

    // Writes the events oldest first in one transaction: all of them or none.
    bool insertEvents(const QList<LogEvent> &events, const QString &ip);
    // Rows after `from`, newest first (rows of the same second last written first, rows without a
    // time at the end), at most `limit` of them (-1: all), handed to `sink` one at a time while
    // `from` moves along. False when the table could not be read.
    bool readRows(LogPosition &from, int limit, const std::function<void(const LogRow &)> &sink);
    std::optional<QList<LogRow>> newestRows(int count);
    std::optional<int> rowCount();
    // The highest rowid (0 for an empty log): rows are only ever appended, so the rows written later
    // are those above it.
    std::optional<qint64> lastRowid();
    std::optional<int> rowsAfter(qint64 rowid);
    // How many rows have a time at or after `time`: in display order they are the first ones.
    std::optional<int> rowsSince(const QString &time);
    // `count` rows from row `first` of the display order of a log of `total` rows. The index is walked
    // from the nearer end, so any place in a large log costs at most half of it, and only the rows
    // returned are read from the table.
    std::optional<QList<LogRow>> readPage(int first, int count, int total);
    // Sets `to` so that readRows() goes on with row `first` of the display order of `total` rows.
    bool seek(LogPosition &to, int first, int total);
    // Drops the table and creates it again, empty.
    bool clear();

private:
    bool fail(const QString &error);
    // The one value a statement answers (0 for NULL).
    std::optional<qint64> number(const QString &statement, const QVariantList &values);
    void createSchema();

    QString m_name;
    QSqlDatabase m_db;
    QString m_error;
};

// Reads a run of rows in display order a chunk at a time through a connection of its own, so that a
// long export or printout can hand the event loop back between chunks. No statement stays open
// between two chunks, so the flush can write in between.
class LogRowStream
{
public:
    LogRowStream(const QString &connectionName, int first, int count);

    // Hands up to `max` further rows to `sink`. False when the log could not be read.
    bool read(int max, const std::function<void(const LogRow &)> &sink);
    bool atEnd() const { return m_left == 0; }
    int done() const { return m_done; }
    QString lastError() const { return m_db.lastError(); }

private:
    LogDatabase m_db;
    LogPosition m_next;
    int m_first;
    int m_left;
    int m_done = 0;
    bool m_seeked = false;
};

struct FlushResult
{
    bool written = false;
    QList<LogEvent> events;              // the events written, oldest first
    std::optional<QList<LogRow>> newest; // empty when log.db could not be read
    QString error;                       // why nothing was written
};

// The store's part of the tick. Nothing queued: no file access at all (nullopt). Otherwise the queued
// events are written with `ip`; they leave pendingEvents only once their rows are committed, so a
// log.db that cannot be written keeps them for a later tick. Then the newest rows are read back.
std::optional<FlushResult> writePendingEvents(const QString &ip, int newestCount = recentEventCount);
