#include "closefile.h"

#include "config/datadir.h"
#include "config/privatefile.h"

#include <QMutex>
#include <QSqlDatabase>
#include <QSqlQuery>
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

void insert(const QString &statement, const QString &value)
{
    withDatabase([&](QSqlQuery &q) {
        q.prepare(statement);
        q.addBindValue(value);
        q.exec();
    });
}

QStringList column(QSqlQuery &q, const QString &statement)
{
    QStringList values;
    if (q.exec(statement)) {
        while (q.next())
            values << q.value(0).toString();
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
        for (const char *statement : {"drop table closedfile", "drop table savedfile", "drop table time",
                                      "create table closedfile(name varchar)", "create table savedfile(name varchar)",
                                      "create table time(time varchar)"})
            q.exec(QLatin1String(statement));
    });
}

void setTime(const QString &time)
{
    insert(QStringLiteral("insert into time values(?)"), time);
}

void addClosed(const QString &title)
{
    insert(QStringLiteral("INSERT INTO closedfile VALUES (?)"), title);
}

void addSaved(const QString &title)
{
    insert(QStringLiteral("INSERT INTO savedfile VALUES (?)"), title);
}

Record read()
{
    Record r;
    r.opened = withDatabase([&](QSqlQuery &q) {
        const QStringList times = column(q, QStringLiteral("select * from time"));
        if (!times.isEmpty())
            r.time = times.last();
        r.closed = column(q, QStringLiteral("select * from closedfile"));
        r.saved = column(q, QStringLiteral("select * from savedfile"));
    });
    return r;
}
} // namespace CloseFile
