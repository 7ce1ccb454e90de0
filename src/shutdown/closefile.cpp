#include "closefile.h"

#include "config/datadir.h"
#include "config/privatefile.h"

#include <QMutex>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <functional>

namespace {
const QString connectionName = QStringLiteral("param");
// The pass writes from the GUI thread and from the saver thread.
QMutex connectionMutex;

// Returns false when the file could not be opened; work() is then not run.
bool withDatabase(const std::function<void(QSqlQuery &)> &work)
{
    QMutexLocker lock(&connectionMutex);
    bool opened = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        createPrivateFile(CloseFile::path());
        db.setDatabaseName(CloseFile::path());
        if (db.open()) {
            opened = true;
            {
                QSqlQuery query(db);
                work(query);
                query.clear();
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connectionName);
    return opened;
}

bool run(const QString &statement, const QVariantList &values)
{
    bool done = false;
    withDatabase([&](QSqlQuery &q) {
        q.prepare(statement);
        for (const QVariant &v : values)
            q.addBindValue(v);
        done = q.exec();
    });
    return done;
}

// Each row's columns; a column an older build's table lacks reads as empty.
QList<QStringList> rows(QSqlQuery &q, const QString &statement, int columns)
{
    QList<QStringList> values;
    if (q.exec(statement)) {
        while (q.next()) {
            QStringList row;
            for (int c = 0; c < columns; ++c)
                row << (c < q.record().count() ? q.value(c).toString() : QString());
            values << row;
        }
    }
    return values;
}
} // namespace

namespace CloseFile {
QString path()
{
    return stateFilePath(QStringLiteral("close_file.db"));
}

void reset()
{
    withDatabase([](QSqlQuery &q) {
        for (const char *statement :
             {"drop table closedfile", "drop table savedfile", "drop table time", "drop table poweroff",
              "create table closedfile(name varchar, note varchar)",
              "create table savedfile(name varchar, file varchar, wanted varchar)", "create table time(time varchar)",
              "create table poweroff(time varchar, accepted integer, reason varchar)"})
            q.exec(QLatin1String(statement));
    });
}

void setTime(const QString &time)
{
    run(QStringLiteral("insert into time values(?)"), {time});
}

void addClosed(const QString &title)
{
    run(QStringLiteral("INSERT INTO closedfile(name) VALUES (?)"), {title});
}

void markLastClosedOutOfTime()
{
    run(QStringLiteral("update closedfile set note = 'time budget' where rowid = (select max(rowid) from closedfile)"),
        {});
}

void addSaved(const QString &title, const QString &file, const QString &unavailableDir)
{
    // A table an older build created (its reset failed) has the title only.
    if (!run(QStringLiteral("INSERT INTO savedfile VALUES (?, ?, ?)"), {title, file, unavailableDir}))
        run(QStringLiteral("INSERT INTO savedfile VALUES (?)"), {title});
}

void setPowerOff(const QString &time, bool accepted, const QString &reason)
{
    run(QStringLiteral("delete from poweroff"), {});
    run(QStringLiteral("insert into poweroff values(?, ?, ?)"), {time, accepted ? 1 : 0, reason});
}

Record read()
{
    Record r;
    r.opened = withDatabase([&](QSqlQuery &q) {
        const QList<QStringList> times = rows(q, QStringLiteral("select * from time"), 1);
        if (!times.isEmpty())
            r.time = times.last().first();
        for (const QStringList &row : rows(q, QStringLiteral("select * from closedfile"), 2)) {
            r.closed << row[0];
            if (row[1] == QLatin1String("time budget"))
                r.outOfTime << row[0];
        }
        for (const QStringList &row : rows(q, QStringLiteral("select * from savedfile"), 3)) {
            r.saved << row[0];
            r.savedFiles << row[1];
            r.savedUnavailableDirs << row[2];
        }
        // An outcome left from an earlier pass (an older build reset the rest) does not count.
        const QList<QStringList> outcome = rows(q, QStringLiteral("select * from poweroff"), 3);
        if (!outcome.isEmpty() && outcome.last()[0] == r.time) {
            r.powerOffAccepted = outcome.last()[1] == QLatin1String("1");
            r.powerOffReason = outcome.last()[2];
        }
    });
    return r;
}
} // namespace CloseFile
