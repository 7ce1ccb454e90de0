#include "app/mainwindow.h"
#include "config/params.h"
#include "eventlog/logdialog.h"
#include "eventlog/logstore.h"
#include "logfixtures.h"
#include "model/statuschanges.h"
#include "model/upsstatus.h"
#include "tempdatadir.h"
#include "widgets/btnwidget.h"
#include "widgets/filedialog.h"
#include "widgets/messagebox.h"
#include "widgets/printdialog.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <unistd.h>

using namespace LogFixtures;

Q_DECLARE_METATYPE(LogFixtures::StoredRow)

namespace {
void setPendingEvents(const QList<LogEvent> &events)
{
    QWriteLocker locker(&pendingEventsLock);
    pendingEvents = events;
}

QTableView *recentTable(MainWindow &w)
{
    return w.findChild<QTableView *>(QStringLiteral("tableView"));
}

LogDialog *theLogDialog()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *d = qobject_cast<LogDialog *>(w))
            return d;
    }
    return nullptr;
}

QTableView *dialogTable(LogDialog *d)
{
    return d->findChild<QTableView *>(QStringLiteral("tableView"));
}

QPushButton *dialogButton(LogDialog *d, const char *name)
{
    return d->findChild<QPushButton *>(QLatin1String(name));
}

QStringList headers(QAbstractItemModel *m)
{
    QStringList texts;
    for (int c = 0; c < m->columnCount(); ++c)
        texts.append(m->headerData(c, Qt::Horizontal).toString());
    return texts;
}

QStringList column(QAbstractItemModel *m, int c)
{
    QStringList texts;
    for (int r = 0; r < m->rowCount(); ++r)
        texts.append(m->index(r, c).data().toString());
    return texts;
}

QList<int> widths(QTableView *t)
{
    return {t->columnWidth(0), t->columnWidth(1), t->columnWidth(2)};
}

void writeRows(const QList<StoredRow> &rows)
{
    withDatabase(logDatabasePath(), [&](QSqlDatabase &db) {
        exec(db, "create table if not exists log(time varchar,ip varchar,id varchar)");
        for (const StoredRow &r : rows)
            exec(db, "insert into log(time,ip,id) values(?,?,?)",
                 {r.time, r.ip, r.id.isNull() ? QVariant() : QVariant(r.id)});
    });
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool runQuiet(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Runs `check` while the log dialog is shown modally through the main window's log button, and closes
// the dialog afterwards whatever the check found.
void whileDialogShown(MainWindow &w, const std::function<void(LogDialog *)> &check)
{
    bool ran = false;
    QTimer::singleShot(0, [&] {
        ran = true;
        auto *d = qobject_cast<LogDialog *>(QApplication::activeModalWidget());
        struct Closer
        {
            ~Closer()
            {
                if (LogDialog *open = theLogDialog(); open && open->isVisible())
                    open->reject();
            }
        } closer;
        QVERIFY(d);
        check(d);
    });
    emit w.findChild<BtnWidget *>(QStringLiteral("bt_log"))->clicked();
    QVERIFY(ran);
}
} // namespace

class TestLogDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startUpCreatesLogAndHeaders();
    void sevenEventsShowNewestFive();
    void openDialogFollowsFlushes();
    void ipTakenWhenRowIsWritten();
    void exportWritesExactBytes_data();
    void exportWritesExactBytes();
    void exportUnderChineseUi();
    void exportToUnwritablePath_data();
    void exportToUnwritablePath();
    void exportCancelledWritesNothing();
    void exportStreamsWholeLog();
    void printHoldsEveryRow();
    void printCancelledPrintsNothing();
    void cleanWithYesAndNo_data();
    void cleanWithYesAndNo();
    void badFilesNeverBreakTheWindows_data();
    void badFilesNeverBreakTheWindows();
    void dialogFetchesRowsAsScrolled();

private:
    QTemporaryDir m_config;
    std::unique_ptr<TempDataDir> m_dir;
    std::unique_ptr<QTranslator> m_translator;
};

void TestLogDialog::initTestCase()
{
    // The main window applies the autostart setting; keep that away from the user's own entries.
    qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
}

void TestLogDialog::init()
{
    m_dir = std::make_unique<TempDataDir>();
    m_dir->writeParams();
    setPendingEvents({});
    MessageBox::shownBoxes().clear();
    logDialogOpen = false;
}

void TestLogDialog::cleanup()
{
    if (m_translator) {
        QCoreApplication::removeTranslator(m_translator.get());
        m_translator.reset();
    }
    buildEventTexts();
    setPendingEvents({});
    m_dir.reset();
}

void TestLogDialog::startUpCreatesLogAndHeaders()
{
    QVERIFY(!QFile::exists(logDatabasePath()));
    MainWindow w;
    QVERIFY(QFile::exists(logDatabasePath()));
    QCOMPARE(schemaNames(logDatabasePath()), QStringList({"table:log", "index:log_time"}));
    QAbstractItemModel *recent = recentTable(w)->model();
    QCOMPARE(headers(recent), QStringList({"Date/Time", "ip", "Event"}));
    QCOMPARE(recent->rowCount(), 0);
    QCOMPARE(recentTable(w)->columnWidth(0), 150);

    LogDialog *d = theLogDialog();
    QVERIFY(d);
    QCOMPARE(d->windowTitle(), QStringLiteral("Event Log"));
    QCOMPARE(d->windowFlags() & Qt::WindowCloseButtonHint, Qt::WindowCloseButtonHint);
    QVERIFY(!(d->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(d->size(), QSize(546, 377));
    QCOMPARE(headers(dialogTable(d)->model()), QStringList({"Date/Time", "ip", "Event"}));

    queueEvents({{timeText(), AgentUnconnected}});
    w.timerslots();
    recent = recentTable(w)->model();
    QCOMPARE(headers(recent), QStringList({"Date/Time", "IP", "Event"}));
    QCOMPARE(column(recent, 2), QStringList({"Agent Unconnected"}));

    MessageBox::setNextAnswer(QMessageBox::Yes);
    dialogButton(d, "bt_clean")->click();
    recent = recentTable(w)->model();
    QCOMPARE(headers(recent), QStringList({"Date/Time", "ip", "Event"}));
    QCOMPARE(recent->rowCount(), 0);
}

void TestLogDialog::sevenEventsShowNewestFive()
{
    MainWindow w;
    const QString second = timeText();
    QList<LogEvent> events;
    for (int id = 0; id < 7; ++id)
        events.append({second, id});
    queueEvents(events);
    w.timerslots();

    const QList<StoredRow> stored = storedRows(logDatabasePath());
    QCOMPARE(stored.size(), 7);
    for (int id = 0; id < 7; ++id)
        QCOMPARE(stored[id].id, QString::number(id));
    QAbstractItemModel *recent = recentTable(w)->model();
    QCOMPARE(column(recent, 2), QStringList({eventText(6), eventText(5), eventText(4), eventText(3), eventText(2)}));
    QCOMPARE(column(recent, 0), QStringList(5, second));
    QCOMPARE(column(recent, 1), QStringList(5, "127.0.0.1"));
}

void TestLogDialog::openDialogFollowsFlushes()
{
    MainWindow w;
    QSignalSpy refreshes(&w, &MainWindow::refreshLog);
    queueEvents({{timeText(), AgentConnected}});
    w.timerslots();
    QCOMPARE(refreshes.count(), 0);
    w.timerslots();
    QCOMPARE(refreshes.count(), 0);

    StatusChangeDetector detector;
    upsStatus.reset();
    whileDialogShown(w, [&](LogDialog *d) {
        QVERIFY(logDialogOpen);
        QAbstractItemModel *shown = dialogTable(d)->model();
        QCOMPARE(column(shown, 2), QStringList({"Agent Connected"}));

        // An event found by the condition model reaches log.db, the main window and the open dialog
        // within one tick.
        upsStatus.agentLost();
        QCOMPARE(detector.detectStatusChanges().size(), 1);
        w.timerslots();
        QCOMPARE(refreshes.count(), 1);
        QCOMPARE(column(shown, 2), QStringList({"Agent Unconnected", "Agent Connected"}));
        QCOMPARE(column(recentTable(w)->model(), 2), QStringList({"Agent Unconnected", "Agent Connected"}));
        QCOMPARE(storedRows(logDatabasePath()).last().id, QStringLiteral("6"));
        QCOMPARE(dialogTable(d)->columnWidth(0), 150);

        // A tick with nothing queued does not signal.
        w.timerslots();
        QCOMPARE(refreshes.count(), 1);
        dialogButton(d, "bt_ok")->click();
    });
    QVERIFY(!logDialogOpen);
    QCOMPARE(theLogDialog()->result(), 0);
    upsStatus.reset();
}

void TestLogDialog::ipTakenWhenRowIsWritten()
{
    MainWindow w;
    queueEvents({{"2024-06-01 12:00:00", UtilityFail}});
    {
        QWriteLocker locker(&snmpParamLock);
        params.ip = QStringLiteral("127.0.0.77");
    }
    w.timerslots();
    QCOMPARE(storedRows(logDatabasePath()).value(0).ip, QStringLiteral("127.0.0.77"));
    QCOMPARE(storedRows(logDatabasePath()).value(0).time, QStringLiteral("2024-06-01 12:00:00"));
    QCOMPARE(column(recentTable(w)->model(), 1), QStringList({"127.0.0.77"}));
}

void TestLogDialog::exportWritesExactBytes_data()
{
    QTest::addColumn<QList<StoredRow>>("rows");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty log") << QList<StoredRow>() << QByteArray() << QByteArray("Date/Time,IP,Event\n");
    const QList<StoredRow> rows{{"2024-01-01 08:00:00", "127.0.0.1", "7", {}},
                                {"2024-01-01 08:00:05", "127.0.0.2", "99", {}},
                                {"2024-01-01 08:00:05", "127.0.0.3", "0", {}}};
    const QByteArray bytes("Date/Time,IP,Event\n"
                           "2024-01-01 08:00:05,127.0.0.3,Utility Fail,\n"
                           "2024-01-01 08:00:05,127.0.0.2,99,\n"
                           "2024-01-01 08:00:00,127.0.0.1,Agent Connected,\n");
    QTest::newRow("rows newest first") << rows << QByteArray() << bytes;
    QTest::newRow("longer file replaced") << rows << QByteArray(4096, 'x') << bytes;
}

void TestLogDialog::exportWritesExactBytes()
{
    QFETCH(QList<StoredRow>, rows);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, expected);
    writeRows(rows);
    MainWindow w;
    LogDialog *d = theLogDialog();
    d->initView();
    const QString path = m_dir->file("export.csv");
    if (!before.isEmpty())
        writeFile(path, before);

    FileDialog::setNextFileName(path);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    dialogButton(d, "bt_save")->click();
    QCOMPARE(readAll(path), expected);
    QCOMPARE(MessageBox::shownBoxes().size(), 1);
    QCOMPARE(MessageBox::shownBoxes()[0].title, QStringLiteral("Export Succeed!"));
    QCOMPARE(MessageBox::shownBoxes()[0].text, QStringLiteral("Data had saved in %1!").arg(path));
    QCOMPARE(MessageBox::shownBoxes()[0].icon, QMessageBox::Information);
}

void TestLogDialog::exportUnderChineseUi()
{
    m_translator = std::make_unique<QTranslator>();
    QVERIFY(m_translator->load(QStringLiteral(":/file/zh.qm")));
    QCoreApplication::installTranslator(m_translator.get());
    writeRows({{"2024-01-01 08:00:00", "127.0.0.1", "7", {}}});
    MainWindow w;
    LogDialog *d = theLogDialog();
    QCOMPARE(headers(dialogTable(d)->model()), QStringList({"日期/时间", "IP", "事件"}));
    QCOMPARE(headers(recentTable(w)->model()), QStringList({"日期/时间", "IP", "事件"}));

    const QString path = m_dir->file("导出.csv");
    FileDialog::setNextFileName(path);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    dialogButton(d, "bt_save")->click();
    // The header ends in a real line break, so the first row starts a line of its own.
    QCOMPARE(QString::fromUtf8(readAll(path)), QStringLiteral("日期/时间,IP,事件\n"
                                                              "2024-01-01 08:00:00,127.0.0.1,Agent已连接,\n"));
    QCOMPARE(MessageBox::shownBoxes().value(0).title, QStringLiteral("导出成功！"));
    QCOMPARE(MessageBox::shownBoxes().value(0).text, QStringLiteral("文件保存在%1！").arg(path));
}

void TestLogDialog::exportToUnwritablePath_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing directory") << "missing";
    QTest::newRow("path is a directory") << "directory";
    QTest::newRow("read-only directory") << "read-only";
}

void TestLogDialog::exportToUnwritablePath()
{
    QFETCH(QString, kind);
    writeRows({{"2024-01-01 08:00:00", "127.0.0.1", "7", {}}});
    MainWindow w;
    LogDialog *d = theLogDialog();
    d->initView();

    const QString locked = m_dir->file("locked");
    QString path;
    std::function<void()> undo = [] {};
    if (kind == "missing") {
        path = m_dir->file("missing/export.csv");
    } else if (kind == "directory") {
        path = m_dir->file("adir");
        QDir().mkdir(path);
    } else {
        QDir().mkdir(locked);
        path = locked + "/export.csv";
        if (geteuid() == 0) {
            if (!runQuiet("chattr", {"+i", locked}))
                QSKIP("running as root without a way to make a directory read-only");
            undo = [locked] { runQuiet("chattr", {"-i", locked}); };
        } else {
            QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
            undo = [locked] { QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); };
        }
    }
    struct Guard
    {
        std::function<void()> &f;
        ~Guard() { f(); }
    } guard{undo};
    const QStringList before = QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden, QDir::Name);
    const QStringList lockedBefore = QDir(locked).entryList(QDir::AllEntries | QDir::Hidden);

    FileDialog::setNextFileName(path);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    dialogButton(d, "bt_save")->click();
    QCOMPARE(MessageBox::shownBoxes().size(), 1);
    QCOMPARE(MessageBox::shownBoxes()[0].title, QStringLiteral("Cannot open file for writting"));
    QVERIFY(!MessageBox::shownBoxes()[0].text.isEmpty());
    QCOMPARE(MessageBox::shownBoxes()[0].icon, QMessageBox::Information);
    QVERIFY(!QFileInfo(path).isFile());
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden, QDir::Name), before);
    QCOMPARE(QDir(locked).entryList(QDir::AllEntries | QDir::Hidden), lockedBefore);
}

void TestLogDialog::exportCancelledWritesNothing()
{
    MainWindow w;
    const QStringList before = QDir(m_dir->path()).entryList(QDir::AllEntries);
    FileDialog::setNextFileName(QString());
    dialogButton(theLogDialog(), "bt_save")->click();
    QVERIFY(MessageBox::shownBoxes().isEmpty());
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries), before);
}

void TestLogDialog::exportStreamsWholeLog()
{
    writeManyRows(logDatabasePath(), 3000, 40);
    MainWindow w;
    LogDialog *d = theLogDialog();
    d->initView();
    QAbstractItemModel *shown = dialogTable(d)->model();
    const int loaded = shown->rowCount();
    QVERIFY(loaded < 3000);

    const QString path = m_dir->file("all.csv");
    FileDialog::setNextFileName(path);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    dialogButton(d, "bt_save")->click();
    const QList<QByteArray> lines = readAll(path).split('\n');
    QCOMPARE(lines.size(), 3002); // header, 3000 rows, and the empty piece after the last line end
    QCOMPARE(lines.last(), QByteArray());
    QCOMPARE(lines[1], (column(shown, 0)[0] + "," + column(shown, 1)[0] + "," + column(shown, 2)[0] + ",").toUtf8());
    QStringList times;
    for (int i = 1; i <= 3000; ++i)
        times.append(QString::fromUtf8(lines[i].split(',')[0]));
    QStringList sorted = times;
    std::sort(sorted.begin(), sorted.end(), std::greater<QString>());
    QCOMPARE(times, sorted);
    QCOMPARE(shown->rowCount(), loaded);
}

void TestLogDialog::printHoldsEveryRow()
{
    const QList<StoredRow> rows{{"2024-01-01 08:00:00", "127.0.0.1", "7", {}},
                                {"2024-01-02 09:30:00", "<b>127.0.0.2</b>", "0", {}},
                                {"2024-01-03 10:45:00", "127.0.0.3", "42", {}}};
    writeRows(rows);
    MainWindow w;
    LogDialog *d = theLogDialog();
    d->initView();
    const QString pdf = m_dir->file("log.pdf");
    PrintDialog::setNextAnswer([pdf](QPrinter &printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    });
    dialogButton(d, "bt_print")->click();
    QVERIFY(QFileInfo(pdf).size() > 0);

    QProcess text;
    text.start("pdftotext", {pdf, "-"});
    QVERIFY(text.waitForFinished(30000));
    const QString printed = QString::fromUtf8(text.readAllStandardOutput());
    for (const char *expected :
         {"Date/Time", "IP", "Event", "2024-01-01 08:00:00", "127.0.0.1", "Agent Connected", "2024-01-02 09:30:00",
          "<b>127.0.0.2</b>", "Utility Fail", "2024-01-03 10:45:00", "127.0.0.3", "42"})
        QVERIFY2(printed.contains(QString::fromUtf8(expected)),
                 qPrintable(QString::fromUtf8(expected) + " missing from:\n" + printed));
}

void TestLogDialog::printCancelledPrintsNothing()
{
    writeRows({{"2024-01-01 08:00:00", "127.0.0.1", "7", {}}});
    MainWindow w;
    const QString pdf = m_dir->file("log.pdf");
    PrintDialog::setNextAnswer([pdf](QPrinter &printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return false;
    });
    dialogButton(theLogDialog(), "bt_print")->click();
    QVERIFY(!QFile::exists(pdf));
}

void TestLogDialog::cleanWithYesAndNo_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("Yes") << int(QMessageBox::Yes);
    QTest::newRow("No") << int(QMessageBox::No);
}

void TestLogDialog::cleanWithYesAndNo()
{
    QFETCH(int, answer);
    writeRows({{"2024-01-01 08:00:00", "127.0.0.1", "7", {}},
               {"2024-01-01 08:00:01", "127.0.0.1", "9", {}},
               {"2024-01-01 08:00:02", "127.0.0.1", "0", {}}});
    MainWindow w;
    QCOMPARE(recentTable(w)->model()->rowCount(), 3);
    LogDialog *d = theLogDialog();
    d->initView();
    QTableView *table = dialogTable(d);
    QCOMPARE(table->model()->rowCount(), 3);
    QCOMPARE(table->columnWidth(0), 150);
    const QList<int> widthsBefore = widths(table);

    QSignalSpy cleaned(d, &LogDialog::cleanLog);
    MessageBox::setNextAnswer(answer);
    dialogButton(d, "bt_clean")->click();
    QCOMPARE(cleaned.count(), 1);
    QCOMPARE(MessageBox::shownBoxes().size(), 1);
    QCOMPARE(MessageBox::shownBoxes()[0].title, QStringLiteral("warning"));
    QCOMPARE(MessageBox::shownBoxes()[0].text, QStringLiteral("Delete Records?"));
    QCOMPARE(MessageBox::shownBoxes()[0].icon, QMessageBox::Warning);

    const bool yes = answer == QMessageBox::Yes;
    QCOMPARE(table->model()->rowCount(), yes ? 0 : 3);
    QCOMPARE(headers(table->model()), QStringList({"Date/Time", "ip", "Event"}));
    QCOMPARE(recentTable(w)->model()->rowCount(), yes ? 0 : 3);
    QCOMPARE(headers(recentTable(w)->model()), QStringList({"Date/Time", "ip", "Event"}));
    QCOMPARE(storedRows(logDatabasePath()).size(), yes ? 0 : 3);
    QCOMPARE(widths(table), yes ? QList<int>({150, 120, 220}) : widthsBefore);

    // A later reload sets the first column only.
    queueEvents({{timeText(), UpsNormal}});
    logDialogOpen = true;
    w.timerslots();
    logDialogOpen = false;
    QCOMPARE(table->model()->rowCount(), yes ? 1 : 4);
    QCOMPARE(table->columnWidth(0), 150);
}

void TestLogDialog::badFilesNeverBreakTheWindows_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("events");
    QTest::newRow("garbage bytes") << "garbage" << QStringList();
    QTest::newRow("truncated database") << "truncated" << QStringList();
    QTest::newRow("table without the ip column") << "shape" << QStringList();
    QTest::newRow("ids outside the events") << "ids" << QStringList({"13", "-1", "abc", "", "999"});
}

void TestLogDialog::badFilesNeverBreakTheWindows()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, events);
    const QString path = logDatabasePath();
    if (kind == "garbage") {
        writeFile(path, garbage(16384));
    } else if (kind == "truncated") {
        writeTruncated(path);
    } else if (kind == "shape") {
        withDatabase(path, [](QSqlDatabase &db) {
            exec(db, "create table log(time varchar,id varchar)");
            exec(db, "insert into log values('2024-01-01 00:00:00','1')");
        });
    } else {
        writeRows({{"2024-01-01 00:00:01", "127.0.0.1", "999", {}},
                   {"2024-01-01 00:00:02", "127.0.0.1", QString(), {}},
                   {"2024-01-01 00:00:03", "127.0.0.1", "abc", {}},
                   {"2024-01-01 00:00:04", "127.0.0.1", "-1", {}},
                   {"2024-01-01 00:00:05", "127.0.0.1", "13", {}}});
    }

    MainWindow w;
    queueEvents({{"2024-01-01 00:00:00", UtilityFail}});
    w.timerslots();
    if (kind == "ids") {
        QCOMPARE(column(recentTable(w)->model(), 2), events);
    } else if (kind != "truncated") {
        QCOMPARE(recentTable(w)->model()->rowCount(), 0);
        QCOMPARE(headers(recentTable(w)->model()), QStringList({"Date/Time", "ip", "Event"}));
        QCOMPARE(pendingEvents.size(), 1);
    }
    whileDialogShown(w, [&](LogDialog *d) {
        QTableView *table = dialogTable(d);
        table->scrollToBottom();
        QCoreApplication::processEvents();
        if (kind == "ids")
            QCOMPARE(column(table->model(), 2), QStringList({"13", "-1", "abc", "", "999", "Utility Fail"}));
        else if (kind != "truncated")
            QCOMPARE(table->model()->rowCount(), 0);
        const QString csv = m_dir->file("bad.csv");
        FileDialog::setNextFileName(csv);
        MessageBox::setNextAnswer(QMessageBox::Ok);
        dialogButton(d, "bt_save")->click();
        QCOMPARE(MessageBox::shownBoxes().size(), 1);
    });
}

void TestLogDialog::dialogFetchesRowsAsScrolled()
{
    writeManyRows(logDatabasePath(), 5000, 100);
    MainWindow w;
    whileDialogShown(w, [&](LogDialog *d) {
        QTableView *table = dialogTable(d);
        QCoreApplication::processEvents();
        const int first = table->model()->rowCount();
        QVERIFY(first > 0);
        QVERIFY(first < 5000);
        for (int i = 0; i < 100 && table->model()->rowCount() < 5000; ++i) {
            table->scrollToBottom();
            QCoreApplication::processEvents();
        }
        QCOMPARE(table->model()->rowCount(), 5000);
        QCOMPARE(column(table->model(), 0).first(), QStringLiteral("2024-03-01 00:01:39"));
        QCOMPARE(column(table->model(), 0).last(), QStringLiteral("2024-03-01 00:00:00"));
    });
}

QTEST_MAIN(TestLogDialog)
#include "tst_logdialog.moc"
