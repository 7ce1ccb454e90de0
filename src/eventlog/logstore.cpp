#include "logstore.h"

#include "config/datadir.h"
#include "config/privatefile.h"

#include <QReadWriteLock>
#include <QSqlError>
#include <QSqlQuery>

const QString LogDatabase::flushConnection = QStringLiteral("event_view1");
const QString LogDatabase::viewConnection = QStringLiteral("event_view");
const QString LogDatabase::clearConnection = QStringLiteral("delete_view");

namespace {
const QString createTable = QStringLiteral("create table log(time varchar,ip varchar,id varchar)");
// Serves "newest first" from the index instead of sorting the whole table; older builds that only
// know the table read and write such a file unchanged.
const QString createIndex = QStringLiteral("create index if not exists log_time on log(time)");
// The store runs on the GUI thread: a file locked by someone else is given up quickly and the
// events wait for the next tick.
const QString connectOptions = QStringLiteral("QSQLITE_BUSY_TIMEOUT=100");
} // namespace

QString logDatabasePath()
{
    return stateFilePath(QStringLiteral("log.db"));
}

QString eventCellText(const QVariant &id)
{
    const QString text = id.toString();
    bool isNumber = false;
    const int number = text.toInt(&isNumber);
    return isNumber ? eventText(number) : text;
}

LogDatabase::LogDatabase(const QString &connectionName) : m_name(connectionName)
{
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    createPrivateFile(logDatabasePath());
    m_db.setDatabaseName(logDatabasePath());
    m_db.setConnectOptions(connectOptions);
    if (m_db.open())
        createSchema();
    else
        m_error = m_db.lastError().text();
}

LogDatabase::~LogDatabase()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

bool LogDatabase::fail(const QString &error)
{
    m_error = error;
    return false;
}

void LogDatabase::createSchema()
{
    // Both fail harmlessly on a file that has them, or that is no database at all; the statements
    // that follow then report the real state.
    QSqlQuery query(m_db);
    query.exec(createTable);
    query.exec(createIndex);
}

bool LogDatabase::insertEvents(const QList<LogEvent> &events, const QString &ip)
{
    if (!m_db.isOpen())
        return fail(m_error);
    if (!m_db.transaction())
        return fail(m_db.lastError().text());
    {
        QSqlQuery query(m_db);
        if (!query.prepare(QStringLiteral("insert into log(time,ip,id) values(?,?,?)"))) {
            const QString error = query.lastError().text();
            m_db.rollback();
            return fail(error);
        }
        for (const LogEvent &e : events) {
            query.bindValue(0, e.time);
            query.bindValue(1, ip);
            query.bindValue(2, e.id);
            if (!query.exec()) {
                const QString error = query.lastError().text();
                query.finish();
                m_db.rollback();
                return fail(error);
            }
        }
    }
    if (!m_db.commit()) {
        const QString error = m_db.lastError().text();
        m_db.rollback();
        return fail(error);
    }
    return true;
}

bool LogDatabase::readRows(LogPosition &from, int limit, const std::function<void(const LogRow &)> &sink)
{
    if (!m_db.isOpen())
        return fail(m_error);
    int left = limit;
    auto read = [&](const QString &where, const QVariantList &values) {
        QSqlQuery query(m_db);
        query.setForwardOnly(true);
        const QString statement = QStringLiteral("select rowid,time,ip,id from log %1 "
                                                 "order by time desc,rowid desc limit ?")
                                      .arg(where);
        if (!query.prepare(statement))
            return fail(query.lastError().text());
        for (const QVariant &v : values)
            query.addBindValue(v);
        query.addBindValue(left);
        if (!query.exec())
            return fail(query.lastError().text());
        while (query.next()) {
            from.started = true;
            from.rowid = query.value(0).toLongLong();
            from.time = query.value(1);
            sink(LogRow{from.time.toString(), query.value(2).toString(), eventCellText(query.value(3))});
            if (left > 0)
                --left;
        }
        if (query.lastError().isValid())
            return fail(query.lastError().text());
        return true;
    };

    if (!from.started)
        return read(QString(), {});
    // A NULL time compares to nothing, so the rows without a time, which come last, are read apart.
    if (from.time.isNull())
        return read(QStringLiteral("where time is null and rowid<?"), {from.rowid});
    if (!read(QStringLiteral("where (time,rowid)<(?,?)"), {from.time, from.rowid}))
        return false;
    return left == 0 || read(QStringLiteral("where time is null"), {});
}

std::optional<QList<LogRow>> LogDatabase::newestRows(int count)
{
    QList<LogRow> rows;
    LogPosition start;
    if (!readRows(start, count, [&rows](const LogRow &row) { rows.append(row); }))
        return std::nullopt;
    return rows;
}

bool LogDatabase::clear()
{
    if (!m_db.isOpen())
        return fail(m_error);
    if (!m_db.transaction())
        return fail(m_db.lastError().text());
    QSqlQuery query(m_db);
    for (const QString &statement : {QStringLiteral("drop table if exists log"), createTable, createIndex}) {
        if (!query.exec(statement)) {
            const QString error = query.lastError().text();
            query.finish();
            m_db.rollback();
            return fail(error);
        }
    }
    query.finish();
    if (!m_db.commit()) {
        const QString error = m_db.lastError().text();
        m_db.rollback();
        return fail(error);
    }
    return true;
}

std::optional<FlushResult> writePendingEvents(const QString &ip, int newestCount)
{
    QList<LogEvent> events;
    {
        QWriteLocker locker(&pendingEventsLock);
        events = pendingEvents;
    }
    if (events.isEmpty())
        return std::nullopt;

    FlushResult result;
    LogDatabase db(LogDatabase::flushConnection);
    if (!db.isOpen())
        return result;
    result.written = db.insertEvents(events, ip);
    if (result.written) {
        result.events = events;
        // Producers only append, so the events written are still the first ones.
        QWriteLocker locker(&pendingEventsLock);
        pendingEvents.erase(pendingEvents.begin(), pendingEvents.begin() + events.size());
    }
    result.newest = db.newestRows(newestCount);
    return result;
}
