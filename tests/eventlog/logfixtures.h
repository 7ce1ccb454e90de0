#pragma once

// Direct access to a log.db for the event log tests, through a connection of their own.

#include "eventlog/logstore.h"

#include <QAbstractItemModel>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTest>
#include <functional>

inline char *toString(const LogRow &r)
{
    return QTest::toString(r.time + QLatin1Char('|') + r.ip + QLatin1Char('|') + r.event);
}

inline char *toString(const LogEvent &e)
{
    return QTest::toString(e.time + QLatin1Char('|') + QString::number(e.id));
}

namespace LogFixtures {

struct StoredRow
{
    QString time;
    QString ip;
    QString id;
    QString idType; // SQLite's typeof(id)
};

inline void withDatabase(const QString &path, const std::function<void(QSqlDatabase &)> &work)
{
    const QString name = QStringLiteral("log_fixture");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open())
            qFatal("fixture cannot open %s", qPrintable(path));
        work(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

inline void exec(QSqlDatabase &db, const QString &statement, const QVariantList &values = {})
{
    QSqlQuery q(db);
    if (!q.prepare(statement))
        qFatal("fixture: %s: %s", qPrintable(statement), qPrintable(q.lastError().text()));
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec())
        qFatal("fixture: %s: %s", qPrintable(statement), qPrintable(q.lastError().text()));
}

// A file as an older build writes it: the table only, rows spliced into the statement.
inline void writeOldFormat(const QString &path, const QList<StoredRow> &rows)
{
    withDatabase(path, [&](QSqlDatabase &db) {
        exec(db, "create table log(time varchar,ip varchar,id varchar)");
        for (const StoredRow &r : rows)
            exec(db, QStringLiteral("insert into log values('%1','%2',%3)").arg(r.time, r.ip, r.id));
    });
}

// Many rows in one transaction, for paging and size tests; times fall in `seconds` distinct seconds.
inline void writeManyRows(const QString &path, int count, int seconds)
{
    withDatabase(path, [&](QSqlDatabase &db) {
        exec(db, "create table if not exists log(time varchar,ip varchar,id varchar)");
        db.transaction();
        QSqlQuery q(db);
        q.prepare("insert into log(time,ip,id) values(?,?,?)");
        for (int i = 0; i < count; ++i) {
            const int second = i * seconds / count;
            q.bindValue(0, QStringLiteral("2024-03-01 %1:%2:%3")
                               .arg(second / 3600 % 24, 2, 10, QLatin1Char('0'))
                               .arg(second / 60 % 60, 2, 10, QLatin1Char('0'))
                               .arg(second % 60, 2, 10, QLatin1Char('0')));
            q.bindValue(1, QStringLiteral("127.0.0.%1").arg(i % 250 + 1));
            q.bindValue(2, i % 11);
            q.exec();
        }
        db.commit();
    });
}

inline QList<StoredRow> storedRows(const QString &path)
{
    QList<StoredRow> rows;
    withDatabase(path, [&](QSqlDatabase &db) {
        QSqlQuery q(db);
        q.exec("select time,ip,id,typeof(id) from log order by rowid");
        while (q.next())
            rows.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString()});
    });
    return rows;
}

inline QList<LogRow> allRowsInDisplayOrder(const QString &path)
{
    QList<LogRow> rows;
    withDatabase(path, [&](QSqlDatabase &db) {
        QSqlQuery q(db);
        q.exec("select time,ip,id from log order by time desc,rowid desc");
        while (q.next())
            rows.append({q.value(0).toString(), q.value(1).toString(), eventCellText(q.value(2))});
    });
    return rows;
}

// Every row a table model shows, read through the model.
inline QList<LogRow> shownRows(const QAbstractItemModel &model)
{
    QList<LogRow> rows;
    for (int r = 0; r < model.rowCount(); ++r)
        rows.append({model.index(r, 0).data().toString(), model.index(r, 1).data().toString(),
                     model.index(r, 2).data().toString()});
    return rows;
}

inline QStringList schemaNames(const QString &path)
{
    QStringList names;
    withDatabase(path, [&](QSqlDatabase &db) {
        QSqlQuery q(db);
        q.exec("select type || ':' || name from sqlite_master order by name");
        while (q.next())
            names.append(q.value(0).toString());
    });
    return names;
}

inline QString integrityCheck(const QString &path)
{
    QString result;
    withDatabase(path, [&](QSqlDatabase &db) {
        QSqlQuery q(db);
        if (!q.exec("pragma integrity_check"))
            result = q.lastError().text();
        while (q.next())
            result += q.value(0).toString();
    });
    return result;
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("fixture cannot write %s", qPrintable(path));
    f.write(bytes);
}

// Random-looking bytes that are no SQLite file.
inline QByteArray garbage(int size)
{
    QByteArray bytes(size, '\0');
    quint32 x = 2463534242u;
    for (char &c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x);
    }
    return bytes;
}

// A real database of several pages, cut off after a third of its size.
inline void writeTruncated(const QString &path)
{
    writeManyRows(path, 5000, 600);
    QFile f(path);
    f.open(QIODevice::ReadWrite);
    f.resize(f.size() / 3);
}

} // namespace LogFixtures
