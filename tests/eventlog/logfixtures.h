#pragma once

// Direct access to a log.db for the event log tests, through a connection of their own.

#include "eventlog/logstore.h"

#include <QAbstractItemModel>
#include <QDateTime>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <functional>

namespace LogFixtures {

struct StoredRow
{
    QString time;
    QString ip;
    QString id;
    QString idType; // SQLite's typeof(id)
};

// The rows a statement answers, or its error as the only row.
inline QList<QVariantList> query(QSqlDatabase &db, const QString &statement, const QVariantList &values = {})
{
    QList<QVariantList> rows;
    QSqlQuery q(db);
    q.prepare(statement);
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec())
        rows.append(QVariantList{q.lastError().text()});
    while (q.next()) {
        rows.append(QVariantList());
        for (int i = 0; i < q.record().count(); ++i)
            rows.last().append(q.value(i));
    }
    return rows;
}

inline void withDatabase(const QString &path, const std::function<void(QSqlDatabase &)> &work)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("log_fixture"));
        db.setDatabaseName(path);
        db.open();
        work(db);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("log_fixture"));
}

inline QList<QVariantList> select(const QString &path, const QString &statement)
{
    QList<QVariantList> rows;
    withDatabase(path, [&](QSqlDatabase &db) { rows = query(db, statement); });
    return rows;
}

// A file as an older build writes it: the table only, rows spliced into the statement.
inline void writeOldFormat(const QString &path, const QList<StoredRow> &rows)
{
    withDatabase(path, [&](QSqlDatabase &db) {
        query(db, "create table log(time varchar,ip varchar,id varchar)");
        for (const StoredRow &r : rows)
            query(db, QStringLiteral("insert into log values('%1','%2',%3)").arg(r.time, r.ip, r.id));
    });
}

// Many rows in one transaction; their times fall in `seconds` distinct seconds from 2024-03-01 00:00:00.
inline void writeManyRows(const QString &path, int count, int seconds)
{
    withDatabase(path, [&](QSqlDatabase &db) {
        query(db, "create table if not exists log(time varchar,ip varchar,id varchar)");
        db.transaction();
        for (int i = 0; i < count; ++i)
            query(db, "insert into log values(?,?,?)",
                  {QDateTime(QDate(2024, 3, 1), QTime(0, 0))
                       .addSecs(qint64(i) * seconds / count)
                       .toString("yyyy-MM-dd hh:mm:ss"),
                   QStringLiteral("127.0.0.%1").arg(i % 250 + 1), i % 11});
        db.commit();
    });
}

inline QList<StoredRow> storedRows(const QString &path)
{
    QList<StoredRow> rows;
    for (const QVariantList &r : select(path, "select time,ip,id,typeof(id) from log order by rowid"))
        rows.append({r.value(0).toString(), r.value(1).toString(), r.value(2).toString(), r.value(3).toString()});
    return rows;
}

inline QList<LogRow> allRowsInDisplayOrder(const QString &path)
{
    QList<LogRow> rows;
    for (const QVariantList &r : select(path, "select time,ip,id from log order by time desc,rowid desc"))
        rows.append({r.value(0).toString(), r.value(1).toString(), eventCellText(r.value(2))});
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
    for (const QVariantList &r : select(path, "select type || ':' || name from sqlite_master order by name"))
        names.append(r.value(0).toString());
    return names;
}

inline QString integrityCheck(const QString &path)
{
    return select(path, "pragma integrity_check").value(0).value(0).toString();
}

// Bytes that are no SQLite file.
inline QByteArray garbage(int size)
{
    return QByteArray(size, '\x9c');
}

} // namespace LogFixtures
