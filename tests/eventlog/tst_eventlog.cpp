#include "app/mainwindow.h"
#include "config/datadir.h"
#include "config/params.h"
#include "eventlog/logdialog.h"
#include "eventlog/logexport.h"
#include "eventlog/logstore.h"
#include "tempdatadir.h"
#include "widgetdriver.h"
#include "widgets/filedialog.h"
#include "widgets/messagebox.h"
#include "widgets/printdialog.h"

#include <QtPrintSupport>
#include <QtSql>
#include <QtTest>

namespace {
const QString oldTable = "create table log(time varchar,ip varchar,id varchar)";

QList<LogEvent> queued()
{
    QReadLocker locker(&pendingEventsLock);
    return pendingEvents;
}

// As an older build writes it: times in `seconds` distinct seconds from 2024-03-01 00:00:00, no index.
void writeManyRows(const QString &path, int count, int seconds)
{
    QStringList statements{oldTable};
    for (int i = 0; i < count; ++i)
        statements << QString("insert into log values('%1','127.0.0.%2',%3)")
                          .arg(QDateTime(QDate(2024, 3, 1), QTime(0, 0))
                                   .addSecs(qint64(i) * seconds / count)
                                   .toString("yyyy-MM-dd hh:mm:ss"))
                          .arg(i % 250 + 1)
                          .arg(i % 11);
    sqlRows(path, statements);
}

QStringList logRows(const QString &path)
{
    QStringList rows = sqlRows(path, {"select time,ip,id from log order by time desc,rowid desc"});
    for (QString &r : rows)
        r = r.section('|', 0, 1) + '|' + eventCellText(r.section('|', 2));
    return rows;
}

QStringList shownRows(const QAbstractItemModel &m)
{
    QStringList rows;
    for (int r = 0; r < m.rowCount(); ++r)
        rows << QStringList{m.index(r, 0).data().toString(), m.index(r, 1).data().toString(),
                            m.index(r, 2).data().toString()}
                    .join('|');
    return rows;
}

// Byte 18 of the header: SQLite opens a file of write version 3 read-only.
void setWriteVersion(const QString &path, char version)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite) && f.seek(18) && f.putChar(version));
}

struct Windows
{
    MainWindow main;
    const QWidgetList windows = QApplication::topLevelWidgets();
    LogDialog *dialog = qobject_cast<LogDialog *>(
        *std::find_if(windows.cbegin(), windows.cend(), [](QWidget *w) { return qobject_cast<LogDialog *>(w); }));
    QTableView *table = dialog->findChild<QTableView *>("tableView");
    void press(const char *button) { WidgetDriver::child<QPushButton>(*dialog, button)->click(); }
    void tick()
    {
        logDialogOpen = dialog->isVisible();
        main.timerslots();
        logDialogOpen = false;
    }
    void open()
    {
        dialog->hide();
        dialog->initView();
        dialog->show();
        QCoreApplication::processEvents();
    }
};
} // namespace

class TestEventLog : public QObject
{
    Q_OBJECT

    QTemporaryDir m_config;
    std::unique_ptr<TempDataDir> m_dir;
    QTranslator m_zh;

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit()); }

    void init()
    {
        m_dir = std::make_unique<TempDataDir>();
        m_dir->writeParams();
        MessageBox::shownBoxes().clear();
    }

    void cleanup()
    {
        QCoreApplication::removeTranslator(&m_zh);
        buildEventTexts();
        QWriteLocker locker(&pendingEventsLock);
        pendingEvents.clear();
    }

    void badLogKeepsEventsQueued_data()
    {
        QTest::addColumn<QString>("fault");
        for (const char *fault :
             {"log.db is a directory", "read-only", "locked", "garbage", "truncated",
              "create table log(time varchar,id varchar)", "create table log(time primary key,ip,id) without rowid"})
            QTest::newRow(fault) << QString(fault);
    }

    void badLogKeepsEventsQueued()
    {
        QFETCH(QString, fault);
        const QString path = logDatabasePath();
        std::function<void()> repair = [&] { QFile::remove(path); };
        QSqlDatabase holder;
        if (fault == "log.db is a directory") {
            QDir().mkdir(path);
            repair = [&] { QDir(path).removeRecursively(); };
        } else if (fault == "read-only" || fault == "locked") {
            sqlRows(path, {oldTable});
            setWriteVersion(path, fault == "read-only" ? 3 : 1);
            holder = QSqlDatabase::addDatabase("QSQLITE", "holder");
            holder.setDatabaseName(path);
            QVERIFY(fault != "locked" || (holder.open() && QSqlQuery(holder).exec("begin exclusive")));
            repair = [&] {
                holder.close();
                setWriteVersion(path, 1);
            };
        } else if (fault == "garbage") {
            writeFile(path, QByteArray(8192, '\x9c'));
        } else if (fault == "truncated") {
            writeManyRows(path, 5000, 600);
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.resize(f.size() / 3));
        } else {
            sqlRows(path, {fault});
        }
        Windows w;
        const QList<LogEvent> early{{"2024-02-03 04:05:06", UtilityFail}, {"2024-02-03 04:05:06", BatteryLow}};
        queueEvents(early);
        w.tick();
        w.open();
        w.table->scrollToBottom();
        FileDialog::setNextFileName(m_dir->file("bad.csv"));
        MessageBox::setNextAnswer(QMessageBox::Ok);
        w.press("bt_save");
        QCOMPARE(MessageBox::shownBoxes().size(), 1);
        QCOMPARE(queued(), early);
        repair();
        w.tick();
        QVERIFY(queued().isEmpty());
        QCOMPARE(sqlRows(path, {"select time,id from log order by rowid"}),
                 QStringList({"2024-02-03 04:05:06|0", "2024-02-03 04:05:06|1"}));
    }

    void killDuringFlushLeavesSoundDatabase()
    {
        const QString path = logDatabasePath();
        // Rounds until kills landed inside a transaction, as the journal they leave behind shows.
        int interrupted = 0;
        for (int round = 0; round < 30 && interrupted < 2; ++round) {
            QProcess helper;
            helper.start(QCoreApplication::applicationFilePath(), {"--flush", m_dir->path()});
            for (int flushed = 0; flushed <= round % 3 && helper.waitForReadyRead(10000);)
                flushed += helper.readAll().count("flushed");
            QThread::usleep(QRandomGenerator::global()->bounded(3000));
            helper.kill();
            QVERIFY(helper.waitForFinished());
            interrupted += QFileInfo(path + "-journal").size() > 0;
            QCOMPARE(sqlRows(path, {"pragma integrity_check"}), QStringList("ok"));
            QCOMPARE(sqlRows(path, {"select count(*) % 200 from log"}), QStringList("0"));
        }
        QVERIFY(interrupted > 0);
    }

    void logChangesUnderOpenDialog_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("inserted"); // rows inserted on top; 0: the log is read afresh
        QTest::newRow("tick adds rows in the newest second, ids outside the events") << "ids" << 4;
        QTest::newRow("tick adds a row older than the newest") << "older" << 0;
        QTest::newRow("clean, then a tick adds a row") << "clean" << 0;
        QTest::newRow("clean answered No") << "clean No" << 1;
        QTest::newRow("clean refused by the file") << "clean refused" << 1;
        QTest::newRow("log replaced by a shorter one") << "replaced" << 0;
    }

    void logChangesUnderOpenDialog()
    {
        QFETCH(QString, change);
        QFETCH(int, inserted);
        const QString path = logDatabasePath();
        writeManyRows(path, 3000, 600); // up to 2024-03-01 00:09:59
        Windows w;
        // Bound, not spliced into the statement; the address when the row is written.
        const QString ip = "1'); drop table log; --";
        QWriteLocker locker(&snmpParamLock);
        params.ip = ip;
        locker.unlock();
        QSignalSpy refreshes(&w.main, &MainWindow::refreshLog);
        queueEvents({{"2024-03-01 00:09:59", UpsFail}});
        w.tick();
        QCOMPARE(refreshes.count(), 0);
        w.open();
        QAbstractItemModel *m = w.table->model();
        w.table->scrollToBottom();
        QSignalSpy insertedRows(m, &QAbstractItemModel::rowsInserted);
        for (int id : change == "ids" ? QList<int>{UpsNormal, 14, -1, UpsFail} : QList<int>{UpsNormal})
            queueEvents({{change == "older" ? "2024-03-01 00:05:00" : "2024-03-01 00:09:59", id}});
        setWriteVersion(path, change == "clean refused" ? 3 : 1);
        MessageBox::setNextAnswer(change == "clean No" ? QMessageBox::No : QMessageBox::Yes);
        if (change.startsWith("clean"))
            w.press("bt_clean");
        setWriteVersion(path, 1);
        if (change == "replaced") {
            QVERIFY(QFile::remove(path));
            writeManyRows(path, 100, 10);
        }
        w.tick();

        const QStringList shown = logRows(path);
        QCOMPARE(shownRows(*m), shown);
        QCOMPARE(shownRows(*w.main.findChild<QTableView *>("tableView")->model()), shown.mid(0, 5));
        if (inserted) {
            QCOMPARE(insertedRows.count(), 1);
            QCOMPARE(insertedRows[0].mid(1), QVariantList({0, inserted - 1}));
            QCOMPARE(shown[0].section('|', 1, 1), ip);
            QCOMPARE(change == "ids" ? shown[1].section('|', 2) + ' ' + shown[2].section('|', 2) : "-1 14", "-1 14");
            // A view on the oldest rows stays on them.
            const int last = w.table->rowAt(w.table->viewport()->height() - 1);
            QVERIFY(change.startsWith("clean") || m->index(last, 0).data() == "2024-03-01 00:00:00");
        }
        w.open();
        QCOMPARE(w.table->rowAt(0), 0);
    }

    void exportCsv_data()
    {
        QTest::addColumn<int>("rows");         // made up; 0: the three of the log below
        QTest::addColumn<QString>("target");   // under the data directory; empty: the chooser is cancelled
        QTest::addColumn<QByteArray>("bytes"); // the file afterwards; empty: none; "all": every row
        QTest::addColumn<QString>("box");
        const auto row = [](const char *tag, int rows, const char *target, const QByteArray &bytes, const char *box) {
            QTest::newRow(tag) << rows << QString(target) << bytes << QString(box);
        };
        row("Chinese header ends in a line break, newest first, a longer file replaced", 0, "export.csv",
            "日期/时间,IP,事件\n2024-01-01 08:00:05,127.0.0.3,市电故障,\n2024-01-01 08:00:05,127.0.0.2,99,\n"
            "2024-01-01 08:00:00,127.0.0.1,Agent已连接,\n",
            "导出成功！");
        row("across chunks", 2 * LogCsvExport::chunkRows + 1, "all.csv", "all", "Export Succeed!");
        row("missing directory", 0, "missing/export.csv", "", "Cannot open file for writting");
        row("path is a directory", 0, "adir", "", "Cannot open file for writting");
        row("chooser cancelled", 0, "", "", "");
        row("cancelled in its progress", 3 * LogCsvExport::chunkRows, "cancel.csv", "", "");
    }

    void exportCsv()
    {
        QFETCH(int, rows);
        QFETCH(QString, target);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, box);
        if (box.startsWith("导"))
            QVERIFY(m_zh.load(":/file/zh.qm") && QCoreApplication::installTranslator(&m_zh));
        const QString log = logDatabasePath();
        if (rows)
            writeManyRows(log, rows, 100);
        else
            sqlRows(log, {oldTable, "insert into log values('2024-01-01 08:00:00','127.0.0.1',7),"
                                    "('2024-01-01 08:00:05','127.0.0.2',99),('2024-01-01 08:00:05','127.0.0.3',0)"});
        Windows w;
        const QString file = target.isEmpty() ? QString() : m_dir->file(target);
        QVERIFY(writeFile(m_dir->file("export.csv"), QByteArray(4096, 'x')) && QDir().mkdir(m_dir->file("adir")));
        const QStringList before = QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden);
        FileDialog::setNextFileName(file);
        MessageBox::setNextAnswer(QMessageBox::Ok);
        QTimer::singleShot(0, w.dialog, [&] {
            if (auto *progress = w.dialog->findChild<QProgressDialog *>(); progress && target == "cancel.csv")
                progress->cancel();
        });
        w.press("bt_save");
        QCOMPARE(MessageBox::shownBoxes().value(0).title, box);
        if (bytes.isEmpty()) {
            QVERIFY(!QFileInfo(file).isFile());
            QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden), before);
            return;
        }
        if (bytes == "all")
            bytes = QString("Date/Time|IP|Event\n" + logRows(log).join("|\n") + "|\n").replace('|', ',').toUtf8();
        QCOMPARE(fileBytes(file), bytes);
    }

    void printHoldsEveryRow()
    {
        sqlRows(logDatabasePath(), {oldTable, "insert into log values('2024-01-01 08:00:00','127.0.0.1',7),"
                                              "('2024-01-02 09:30:00','<b>1.2</b> & \"x\"',0),"
                                              "('2024-01-03 10:45:00','127.0.0.3',42)"});
        Windows w;
        const QString pdf = m_dir->file("log.pdf");
        PrintDialog::setNextAnswer([pdf](QPrinter &printer) {
            printer.setOutputFileName(pdf);
            return true;
        });
        w.press("bt_print");
        QProcess text;
        text.start("pdftotext", {pdf, "-"});
        QVERIFY(text.waitForFinished(30000));
        const QString printed = QString::fromUtf8(text.readAllStandardOutput());
        for (const char *cell : {"2024-01-01 08:00:00", "127.0.0.1", "2024-01-02 09:30:00", "<b>1.2</b> & \"x\"",
                                 "2024-01-03 10:45:00", "127.0.0.3", "42"})
            QVERIFY2(printed.contains(cell), cell);
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 3 || argv[1] != QByteArray("--flush")) {
        TestEventLog test;
        return QTest::qExec(&test, argc, argv);
    }
    setDataDir(QString::fromLocal8Bit(argv[2]));
    for (int n = 0; n < 20000; ++n) {
        QList<LogEvent> events;
        for (int i = 0; i < 200; ++i)
            events.append({timeText(), i % 11});
        queueEvents(events);
        if (!writePendingEvents("127.0.0.1").value_or(FlushResult{}).written)
            return 1;
        std::puts("flushed");
        std::fflush(stdout);
    }
    return 0;
}

#include "tst_eventlog.moc"
