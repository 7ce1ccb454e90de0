#include "binaryrun.h"
#include "logfixtures.h"

#include <QElapsedTimer>
#include <QTest>

using namespace LogFixtures;

namespace {
// Waits until the running binary has loaded its recent-events table, which adds the time index.
bool waitForIndex(const QString &path, QProcess &process)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 15000 && process.state() == QProcess::Running) {
        if (QFile::exists(path) && schemaNames(path).contains(QStringLiteral("index:log_time")))
            return true;
        QTest::qWait(100);
    }
    return false;
}
} // namespace

class TestLogBinary : public QObject
{
    Q_OBJECT

private slots:
    void firstStartCreatesTheLog();
    void olderLogKeepsItsRows();
    void garbageLogDoesNotStopTheWindow();
};

void TestLogBinary::firstStartCreatesTheLog()
{
    BinaryRun run;
    run.dataDir().writeParams();
    const QString path = run.dataDir().file("log.db");
    QVERIFY(!QFile::exists(path));
    QVERIFY(run.start());
    QVERIFY(waitForIndex(path, run.process()));
    QCOMPARE(schemaNames(path), QStringList({"table:log", "index:log_time"}));
    QVERIFY(storedRows(path).isEmpty());
}

void TestLogBinary::olderLogKeepsItsRows()
{
    BinaryRun run;
    run.dataDir().writeParams();
    const QString path = run.dataDir().file("log.db");
    const QList<StoredRow> rows{{"2023-12-31 23:59:58", "127.0.0.1", "7", {}},
                                {"2023-12-31 23:59:59", "127.0.0.1", "9", {}}};
    writeOldFormat(path, rows);
    QVERIFY(run.start());
    QVERIFY(waitForIndex(path, run.process()));
    QTest::qWait(1500);
    QCOMPARE(run.process().state(), QProcess::Running);
    const QList<StoredRow> stored = storedRows(path);
    QCOMPARE(stored.size(), 2);
    QCOMPARE(stored[1].time, rows[1].time);
    QCOMPARE(stored[1].id, rows[1].id);
    QCOMPARE(integrityCheck(path), QStringLiteral("ok"));
}

void TestLogBinary::garbageLogDoesNotStopTheWindow()
{
    BinaryRun run;
    run.dataDir().writeParams();
    const QString path = run.dataDir().file("log.db");
    const QByteArray bytes = garbage(8192);
    writeFile(path, bytes);
    QVERIFY(run.start());
    QTest::qWait(2500);
    QCOMPARE(run.process().state(), QProcess::Running);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), bytes);
}

QTEST_GUILESS_MAIN(TestLogBinary)
#include "tst_logbinary.moc"
