#include "config/datadir.h"
#include "eventlog/logexport.h"
#include "eventlog/logstore.h"
#include "eventlog/logtablemodel.h"
#include "logfixtures.h"
#include "tempdatadir.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlRecord>
#include <QTest>
#include <QThread>
#include <unistd.h>

using namespace LogFixtures;

namespace {
enum Fault
{
    LogIsDirectory,
    DataDirMissing,
    ReadOnlyFormat,
    ReadOnlyFile,
    Locked,
    Garbage,
    Truncated,
    MissingColumn,
};

void setPendingEvents(const QList<LogEvent> &events)
{
    QWriteLocker locker(&pendingEventsLock);
    pendingEvents = events;
}

QList<LogEvent> queued()
{
    QWriteLocker locker(&pendingEventsLock);
    return pendingEvents;
}

// A second connection that holds the write lock of log.db until released.
class LockHolder
{
public:
    explicit LockHolder(const QString &path)
    {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lock_holder"));
        m_db.setDatabaseName(path);
        QVERIFY(m_db.open());
        QSqlQuery q(m_db);
        QVERIFY(q.exec("create table if not exists log(time varchar,ip varchar,id varchar)"));
        QVERIFY(q.exec("begin exclusive"));
    }
    ~LockHolder() { release(); }
    void release()
    {
        if (!m_db.isOpen())
            return;
        QSqlQuery(m_db).exec("rollback");
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("lock_holder"));
    }

private:
    QSqlDatabase m_db;
};

void setWriteVersion(const QString &path, char version)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    f.seek(18);
    f.write(&version, 1);
}

bool runQuiet(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

class TestLogStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstOpenCreatesTableAndIndex();
    void olderFileGetsIndexAndStaysReadable();
    void nothingQueuedTouchesNoFile();
    void queueWrittenInOrderInOneFlush();
    void valuesStoredExactly_data();
    void valuesStoredExactly();
    void faultyLogKeepsEventsQueued_data();
    void faultyLogKeepsEventsQueued();
    void badFilesReadSafely_data();
    void badFilesReadSafely();
    void pagesFollowOneOrder();
    void clearEmptiesTheLog();
    void clearRefusedKeepsRows();
    void csvLines();
    void killDuringFlushLeavesSoundDatabase();

private:
    std::unique_ptr<TempDataDir> m_dir;
};

void TestLogStore::init()
{
    m_dir = std::make_unique<TempDataDir>();
    setPendingEvents({});
    buildEventTexts();
}

void TestLogStore::cleanup()
{
    setPendingEvents({});
    m_dir.reset();
}

void TestLogStore::firstOpenCreatesTableAndIndex()
{
    QVERIFY(!QFile::exists(logDatabasePath()));
    {
        LogDatabase db(LogDatabase::viewConnection);
        QVERIFY(db.isOpen());
        QVERIFY(db.newestRows(5) == QList<LogRow>());
    }
    QVERIFY(!QSqlDatabase::contains(LogDatabase::viewConnection));
    QCOMPARE(schemaNames(logDatabasePath()), QStringList({"table:log", "index:log_time"}));
    QString sql;
    withDatabase(logDatabasePath(), [&](QSqlDatabase &db) {
        QSqlQuery q(db);
        q.exec("select sql from sqlite_master where name='log'");
        q.next();
        sql = q.value(0).toString();
    });
    // SQLite keeps the statement as given, with only its first words in capitals.
    QCOMPARE(sql, QStringLiteral("CREATE TABLE log(time varchar,ip varchar,id varchar)"));
}

void TestLogStore::olderFileGetsIndexAndStaysReadable()
{
    writeOldFormat(logDatabasePath(),
                   {{"2024-01-01 10:00:00", "127.0.0.5", "7", {}}, {"2024-01-01 10:00:01", "127.0.0.5", "9", {}}});
    QCOMPARE(schemaNames(logDatabasePath()), QStringList({"table:log"}));
    setPendingEvents({{"2024-01-01 10:05:00", UtilityFail}});
    const auto result = writePendingEvents("127.0.0.6");
    QVERIFY(result && result->written);
    QCOMPARE(schemaNames(logDatabasePath()), QStringList({"table:log", "index:log_time"}));
    QCOMPARE(*result->newest, QList<LogRow>({{"2024-01-01 10:05:00", "127.0.0.6", eventText(UtilityFail)},
                                             {"2024-01-01 10:00:01", "127.0.0.5", eventText(UpsConnected)},
                                             {"2024-01-01 10:00:00", "127.0.0.5", eventText(AgentConnected)}}));

    // What an older build reads: three columns, the id as a bare number.
    withDatabase(logDatabasePath(), [](QSqlDatabase &db) {
        QSqlQuery q(db);
        QVERIFY(q.exec("select * from log order by time desc limit 0,5"));
        QVERIFY(q.next());
        QCOMPARE(q.record().count(), 3);
        QCOMPARE(q.value(2).toString(), QStringLiteral("0"));
        QCOMPARE(q.value(2).toInt(), 0);
    });
}

void TestLogStore::nothingQueuedTouchesNoFile()
{
    QVERIFY(!writePendingEvents("127.0.0.1"));
    QVERIFY(!QFile::exists(logDatabasePath()));
}

void TestLogStore::queueWrittenInOrderInOneFlush()
{
    QList<LogEvent> events;
    for (int id : {AgentConnected, UpsConnected, UtilityFail, BatteryLow, UpsFail, UtilityNormal, BatteryNormal})
        events.append({"2024-05-06 07:08:09", id});
    setPendingEvents(events);

    const auto result = writePendingEvents("127.0.0.1");
    QVERIFY(result && result->written);
    QVERIFY(queued().isEmpty());

    const QList<StoredRow> stored = storedRows(logDatabasePath());
    QCOMPARE(stored.size(), 7);
    for (int i = 0; i < 7; ++i) {
        QCOMPARE(stored[i].time, events[i].time);
        QCOMPARE(stored[i].ip, QStringLiteral("127.0.0.1"));
        QCOMPARE(stored[i].id, QString::number(events[i].id));
    }
    // All in the same second: the newest five are the last five written, last first.
    QList<LogRow> newest;
    for (int i = 6; i >= 2; --i)
        newest.append({events[i].time, "127.0.0.1", eventText(events[i].id)});
    QCOMPARE(*result->newest, newest);
}

void TestLogStore::valuesStoredExactly_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("time");
    QTest::newRow("plain address") << "127.0.0.1"
                                   << "2024-01-01 00:00:00";
    QTest::newRow("quote in the address") << "127.0.0.1'"
                                          << "2024-01-01 00:00:01";
    QTest::newRow("statement in the address") << "1'); drop table log; --"
                                              << "2024-01-01 00:00:02";
    QTest::newRow("non-ASCII text") << "地址"
                                    << "2024-01-01 00:00:03";
}

void TestLogStore::valuesStoredExactly()
{
    QFETCH(QString, ip);
    QFETCH(QString, time);
    setPendingEvents({{time, WindowsSystemShutdown}});
    const auto result = writePendingEvents(ip);
    QVERIFY(result && result->written);
    const QList<StoredRow> stored = storedRows(logDatabasePath());
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored[0].time, time);
    QCOMPARE(stored[0].ip, ip);
    QCOMPARE(stored[0].id, QStringLiteral("10"));
    QCOMPARE(stored[0].idType, QStringLiteral("text"));
}

void TestLogStore::faultyLogKeepsEventsQueued_data()
{
    QTest::addColumn<int>("fault");
    QTest::newRow("log.db is a directory") << int(LogIsDirectory);
    QTest::newRow("data directory missing") << int(DataDirMissing);
    QTest::newRow("read-only database format") << int(ReadOnlyFormat);
    QTest::newRow("read-only file") << int(ReadOnlyFile);
    QTest::newRow("locked by another connection") << int(Locked);
    QTest::newRow("garbage bytes") << int(Garbage);
    QTest::newRow("truncated database") << int(Truncated);
    QTest::newRow("table without the ip column") << int(MissingColumn);
}

void TestLogStore::faultyLogKeepsEventsQueued()
{
    QFETCH(int, fault);
    QString path = logDatabasePath();
    std::function<void()> repair = [path] { QFile::remove(path); };
    std::unique_ptr<LockHolder> lock;
    switch (Fault(fault)) {
    case LogIsDirectory:
        QVERIFY(QDir().mkdir(path));
        repair = [path] { QDir(path).removeRecursively(); };
        break;
    case DataDirMissing: {
        const QString missing = m_dir->file("not-yet");
        setDataDir(missing);
        path = logDatabasePath();
        repair = [missing] { QDir().mkdir(missing); };
        break;
    }
    case ReadOnlyFormat:
        writeOldFormat(path, {});
        setWriteVersion(path, 3);
        repair = [path] { setWriteVersion(path, 1); };
        break;
    case ReadOnlyFile:
        writeOldFormat(path, {});
        if (geteuid() == 0) {
            if (!runQuiet("chattr", {"+i", path}))
                QSKIP("running as root without a way to make a file read-only");
            repair = [path] { runQuiet("chattr", {"-i", path}); };
        } else {
            QFile::setPermissions(path, QFile::ReadOwner);
            repair = [path] { QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner); };
        }
        break;
    case Locked:
        lock = std::make_unique<LockHolder>(path);
        repair = [&lock] { lock->release(); };
        break;
    case Garbage:
        writeFile(path, garbage(8192));
        break;
    case Truncated:
        writeTruncated(path);
        break;
    case MissingColumn:
        withDatabase(path, [](QSqlDatabase &db) { exec(db, "create table log(time varchar,id varchar)"); });
        break;
    }
    // Put right even when a check below fails, so that the temporary directory can go.
    struct Guard
    {
        std::function<void()> &f;
        ~Guard() { f(); }
    } guard{repair};

    const QList<LogEvent> early{{"2024-02-03 04:05:06", UtilityFail}, {"2024-02-03 04:05:06", BatteryLow}};
    setPendingEvents(early);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto result = writePendingEvents("127.0.0.1");
        QVERIFY(result);
        QVERIFY(!result->written);
        QCOMPARE(queued(), early);
    }

    repair();
    repair = [] {};
    queueEvents({{"2024-02-03 04:05:09", UtilityNormal}});
    const auto result = writePendingEvents("127.0.0.2");
    QVERIFY(result && result->written);
    QVERIFY(queued().isEmpty());
    const QList<StoredRow> stored = storedRows(path);
    QCOMPARE(stored.size(), 3);
    QCOMPARE(stored[0].time, early[0].time);
    QCOMPARE(stored[0].id, QStringLiteral("0"));
    QCOMPARE(stored[1].time, early[1].time);
    QCOMPARE(stored[1].id, QStringLiteral("1"));
    QCOMPARE(stored[2].time, QStringLiteral("2024-02-03 04:05:09"));
    for (const StoredRow &r : stored)
        QCOMPARE(r.ip, QStringLiteral("127.0.0.2"));
}

void TestLogStore::badFilesReadSafely_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QStringList>("events");
    QTest::newRow("garbage bytes") << "garbage" << false << QStringList();
    QTest::newRow("table without the ip column")
        << "create table log(time varchar,id varchar)" << false << QStringList();
    QTest::newRow("table without rowid")
        << "create table log(time varchar primary key,ip varchar,id varchar) without rowid" << false << QStringList();
    QTest::newRow("extra column") << "create table log(time varchar,ip varchar,id varchar,note varchar)" << true
                                  << QStringList({"UPS Fail", "Battery Low"});
    QTest::newRow("columns in another order")
        << "create table log(id varchar,ip varchar,time varchar)" << true << QStringList({"UPS Fail", "Battery Low"});
    QTest::newRow("untyped columns") << "create table log(time,ip,id)" << true
                                     << QStringList({"UPS Fail", "Battery Low"});
}

void TestLogStore::badFilesReadSafely()
{
    QFETCH(QString, setup);
    QFETCH(bool, readable);
    QFETCH(QStringList, events);
    const QString path = logDatabasePath();
    if (setup == "garbage") {
        writeFile(path, garbage(4096));
    } else {
        withDatabase(path, [&](QSqlDatabase &db) {
            exec(db, setup);
            if (readable) {
                exec(db, "insert into log(time,ip,id) values('2024-01-01 00:00:00','127.0.0.1',1)");
                exec(db, "insert into log(time,ip,id) values('2024-01-01 00:00:01','127.0.0.1',2)");
            }
        });
    }

    const std::optional<QList<LogRow>> newest = LogDatabase(LogDatabase::viewConnection).newestRows(5);
    QCOMPARE(newest.has_value(), readable);
    LogTableModel model;
    QCOMPARE(model.reload(), readable);
    QStringList shown;
    for (const LogRow &r : shownRows(model))
        shown.append(r.event);
    QCOMPARE(shown, events);
}

void TestLogStore::pagesFollowOneOrder()
{
    const QString path = logDatabasePath();
    // Many rows share a second, some have no time or a time of another type, and the ids include
    // values no event has.
    writeManyRows(path, 1500, 7);
    withDatabase(path, [](QSqlDatabase &db) {
        for (int i = 0; i < 300; ++i)
            exec(db, "insert into log(time,ip,id) values(null,'127.0.0.9',?)", {i % 3 ? QVariant(i) : QVariant()});
        exec(db, "insert into log(time,ip,id) values(?,'127.0.0.8','abc')", {QByteArray("2024-03-01 00:00:03")});
        exec(db, "insert into log(time,ip,id) values('2099-01-01 00:00:00','127.0.0.7','14')");
        exec(db, "insert into log(time,ip,id) values('2099-01-01 00:00:00','127.0.0.7','-1')");
    });
    const QList<LogRow> expected = allRowsInDisplayOrder(path);
    QCOMPARE(expected.size(), 1803);
    // SQLite orders a blob above any text.
    QCOMPARE(expected[0], LogRow({"2024-03-01 00:00:03", "127.0.0.8", "abc"}));
    QCOMPARE(expected[1], LogRow({"2099-01-01 00:00:00", "127.0.0.7", "-1"}));
    QCOMPARE(expected[2], LogRow({"2099-01-01 00:00:00", "127.0.0.7", "14"}));
    QCOMPARE(expected.last().time, QString());

    // The model reads pages of the top half from the top and pages of the bottom half from the bottom.
    LogTableModel model;
    QVERIFY(model.reload());
    QCOMPARE(model.rowCount(), 1803);
    QCOMPARE(shownRows(model), expected);

    // Streams start anywhere, seeking from the nearer end, and go on in chunks past rows without a time.
    for (const int first : {0, 1, 700, 1500, 1790}) {
        LogRowStream stream(QStringLiteral("stream"), first, 60);
        QList<LogRow> streamed;
        while (!stream.atEnd())
            QVERIFY(stream.read(7, [&](const LogRow &r) { streamed.append(r); }));
        QCOMPARE(streamed, expected.mid(first, 60));
    }
}

void TestLogStore::clearEmptiesTheLog()
{
    writeManyRows(logDatabasePath(), 50, 5);
    QVERIFY(LogDatabase(LogDatabase::clearConnection).clear());
    QVERIFY(storedRows(logDatabasePath()).isEmpty());
    QCOMPARE(schemaNames(logDatabasePath()), QStringList({"table:log", "index:log_time"}));
    QVERIFY(!QSqlDatabase::contains(LogDatabase::clearConnection));
}

void TestLogStore::clearRefusedKeepsRows()
{
    writeManyRows(logDatabasePath(), 50, 5);
    setWriteVersion(logDatabasePath(), 3);
    QVERIFY(!LogDatabase(LogDatabase::clearConnection).clear());
    setWriteVersion(logDatabasePath(), 1);
    QCOMPARE(storedRows(logDatabasePath()).size(), 50);
}

void TestLogStore::csvLines()
{
    withDatabase(logDatabasePath(), [](QSqlDatabase &db) {
        exec(db, "create table log(time varchar,ip varchar,id varchar)");
        db.transaction();
        for (int i = 0; i < 2 * LogCsvExport::chunkRows + 1; ++i)
            exec(db, "insert into log values(?,'127.0.0.1',?)",
                 {QStringLiteral("2024-01-01 00:00:%1").arg(i % 2, 2, 10, QLatin1Char('0')), i % 2 ? "99" : "6"});
        db.commit();
    });
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly | QIODevice::Text);
    LogCsvExport csv(buffer, "H\n", 0, 2 * LogCsvExport::chunkRows + 1);
    int steps = 1;
    while (csv.step())
        ++steps;
    QVERIFY(!csv.failed());
    QCOMPARE(steps, 3);
    QCOMPARE(csv.done(), 2 * LogCsvExport::chunkRows + 1);
    const QByteArray lines = buffer.data();
    QVERIFY(lines.startsWith("H\n"
                             "2024-01-01 00:00:01,127.0.0.1,99,\n"));
    QVERIFY(lines.endsWith("2024-01-01 00:00:00,127.0.0.1,Agent Unconnected,\n"));
    QCOMPARE(lines.count("99,\n"), LogCsvExport::chunkRows);
    QCOMPARE(lines.count("Agent Unconnected,\n"), LogCsvExport::chunkRows + 1);
}

void TestLogStore::killDuringFlushLeavesSoundDatabase()
{
    const int batch = 200;
    const QString path = logDatabasePath();
    // Rounds until a few kills landed inside a transaction, shown by the journal they leave behind.
    int interrupted = 0;
    for (int round = 0; round < 30 && interrupted < 3; ++round) {
        QProcess helper;
        helper.start(FLUSH_HELPER, {m_dir->path(), QString::number(batch)});
        QVERIFY(helper.waitForStarted());
        // Let it commit a few batches, then kill it at some point inside a later one.
        const int batches = 1 + round % 3;
        int seen = 0;
        while (seen < batches && helper.waitForReadyRead(10000)) {
            while (helper.canReadLine())
                seen += helper.readLine().startsWith("flushed");
        }
        QVERIFY2(seen >= batches, "the helper did not flush");
        QThread::usleep(QRandomGenerator::global()->bounded(3000));
        helper.kill();
        QVERIFY(helper.waitForFinished());
        QCOMPARE(helper.exitStatus(), QProcess::CrashExit);
        interrupted += QFileInfo(path + "-journal").size() > 0;

        QCOMPARE(integrityCheck(path), QStringLiteral("ok"));
        const int rows = int(storedRows(path).size());
        QVERIFY2(rows % batch == 0, qPrintable(QStringLiteral("%1 rows: a batch was split").arg(rows)));
    }
    QVERIFY(interrupted > 0);
    // The file is still in use after the kills.
    setPendingEvents({{"2099-01-01 00:00:00", UpsNormal}});
    QVERIFY(writePendingEvents("127.0.0.1")->written);
    QCOMPARE(integrityCheck(path), QStringLiteral("ok"));
}

QTEST_GUILESS_MAIN(TestLogStore)
#include "tst_logstore.moc"
