#include "logstore.h"

#include "config/datadir.h"
#include "config/privatefile.h"

#include <QReadWriteLock>
#include <QSqlError>
#include <QSqlQuery>
#include <limits>

const QString LogDatabase::flushConnection = QStringLiteral("event_view1");
const QString LogDatabase::viewConnection = QStringLiteral("event_view");
const QString LogDatabase::clearConnection = QStringLiteral("delete_view");
const QString LogDatabase::exportConnection = QStringLiteral("event_export");
const QString LogDatabase::printConnection = QStringLiteral("event_print");

namespace {
const QString createTable = QStringLiteral("create table log(time varchar,ip varchar,id varchar)");
// Serves "newest first" from the index instead of sorting the whole table; older builds that only
// know the table read and write such a file unchanged.
const QString createIndex = QStringLiteral("create index if not exists log_time on log(time)");
// The store runs on the GUI thread: a file locked by someone else is given up quickly and the
// events wait for the next tick.
const QString connectOptions = QStringLiteral("QSQLITE_BUSY_TIMEOUT=100");

// Views count rows in int.
std::optional<int> asRows(const std::optional<qint64> &n)
{
    if (!n)
        return std::nullopt;
    return int(qMin(*n, qint64(std::numeric_limits<int>::max())));
}
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
            sink(LogRow{from.time.toString(), query.value(2).toString(), eventCellText(query.value(3)), from.rowid});
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

std::optional<int> LogDatabase::rowCount()
{
    return asRows(number(QStringLiteral("select count(*) from log"), {}));
}

std::optional<qint64> LogDatabase::lastRowid()
{
    return number(QStringLiteral("select max(rowid) from log"), {});
}

std::optional<int> LogDatabase::rowsAfter(qint64 rowid)
{
    return asRows(number(QStringLiteral("select count(*) from log where rowid>?"), {rowid}));
}

std::optional<int> LogDatabase::rowsSince(const QString &time)
{
    return asRows(number(QStringLiteral("select count(*) from log where time>=?"), {time}));
}

std::optional<qint64> LogDatabase::number(const QString &statement, const QVariantList &values)
{
    if (!m_db.isOpen()) {
        fail(m_error);
        return std::nullopt;
    }
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.prepare(statement)) {
        fail(query.lastError().text());
        return std::nullopt;
    }
    for (const QVariant &v : values)
        query.addBindValue(v);
    if (!query.exec() || !query.next()) {
        fail(query.lastError().text());
        return std::nullopt;
    }
    return query.value(0).toLongLong();
}

std::optional<QList<LogRow>> LogDatabase::readPage(int first, int count, int total)
{
    if (!m_db.isOpen()) {
        fail(m_error);
        return std::nullopt;
    }
    first = qBound(0, first, total);
    count = qBound(0, count, total - first);
    // The subquery walks the time index alone, which is what skipping rows costs; the table is read
    // for the chosen rows only. From the far half the same rows come from the other end.
    const bool fromTop = first <= total - first - count;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    const QString statement = QStringLiteral("select rowid,time,ip,id from log where rowid in "
                                             "(select rowid from log order by %1 limit ? offset ?) "
                                             "order by time desc,rowid desc")
                                  .arg(fromTop ? QStringLiteral("time desc,rowid desc") : QStringLiteral("time,rowid"));
    if (!query.prepare(statement)) {
        fail(query.lastError().text());
        return std::nullopt;
    }
    query.addBindValue(count);
    query.addBindValue(fromTop ? first : total - first - count);
    if (!query.exec()) {
        fail(query.lastError().text());
        return std::nullopt;
    }
    QList<LogRow> rows;
    rows.reserve(count);
    while (query.next())
        rows.append({query.value(1).toString(), query.value(2).toString(), eventCellText(query.value(3)),
                     query.value(0).toLongLong()});
    if (query.lastError().isValid()) {
        fail(query.lastError().text());
        return std::nullopt;
    }
    return rows;
}

bool LogDatabase::seek(LogPosition &to, int first, int total)
{
    if (first <= 0) {
        to = LogPosition();
        return true;
    }
    if (!m_db.isOpen())
        return fail(m_error);
    // The row before `first`, from whichever end is nearer.
    const bool fromTop = first - 1 <= total - first;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("select rowid,time from log order by %1 limit 1 offset ?")
                           .arg(fromTop ? QStringLiteral("time desc,rowid desc") : QStringLiteral("time,rowid"))))
        return fail(query.lastError().text());
    query.addBindValue(fromTop ? first - 1 : total - first);
    if (!query.exec())
        return fail(query.lastError().text());
    if (!query.next())
        return fail(query.lastError().isValid() ? query.lastError().text() : QStringLiteral("no such row"));
    to.started = true;
    to.rowid = query.value(0).toLongLong();
    to.time = query.value(1);
    return true;
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

LogRowStream::LogRowStream(const QString &connectionName, int first, int count)
    : m_db(connectionName), m_first(first), m_left(qMax(0, count))
{
}

bool LogRowStream::read(int max, const std::function<void(const LogRow &)> &sink)
{
    if (m_left == 0)
        return true;
    if (!m_seeked) {
        const std::optional<int> total = m_first > 0 ? m_db.rowCount() : 0;
        if (!total || !m_db.seek(m_next, m_first, *total))
            return false;
        m_seeked = true;
    }
    const int wanted = qMin(max, m_left);
    int got = 0;
    if (!m_db.readRows(m_next, wanted, [&](const LogRow &row) {
            ++got;
            sink(row);
        }))
        return false;
    m_done += got;
    // A log that holds fewer rows than it did is at its end.
    m_left = got < wanted ? 0 : m_left - got;
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
    if (!db.isOpen()) {
        result.error = db.lastError();
        return result;
    }
    result.written = db.insertEvents(events, ip);
    if (!result.written)
        result.error = db.lastError();
    if (result.written) {
        result.events = events;
        // Producers only append, so the events written are still the first ones.
        QWriteLocker locker(&pendingEventsLock);
        pendingEvents.erase(pendingEvents.begin(), pendingEvents.begin() + events.size());
    }
    result.newest = db.newestRows(newestCount);
    return result;
}
