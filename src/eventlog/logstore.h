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
    QString event; // the event text, or the stored value when it is no known id

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
    // Drops the table and creates it again, empty.
    bool clear();

private:
    bool fail(const QString &error);
    void createSchema();

    QString m_name;
    QSqlDatabase m_db;
    QString m_error;
};

struct FlushResult
{
    bool written = false;
    QList<LogEvent> events;              // the events written, oldest first
    std::optional<QList<LogRow>> newest; // empty when log.db could not be read
};

// The store's part of the tick. Nothing queued: no file access at all (nullopt). Otherwise the queued
// events are written with `ip`; they leave pendingEvents only once their rows are committed, so a
// log.db that cannot be written keeps them for a later tick. Then the newest rows are read back.
std::optional<FlushResult> writePendingEvents(const QString &ip, int newestCount = recentEventCount);
