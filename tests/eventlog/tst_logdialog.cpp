#include "app/mainwindow.h"
#include "config/params.h"
#include "eventlog/logdialog.h"
#include "eventlog/logexport.h"
#include "eventlog/logstore.h"
#include "eventlog/printrangedialog.h"
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
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
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

QString lastShownTime(QTableView *t)
{
    const int last = t->rowAt(t->viewport()->height() - 1);
    return t->model()->index(last < 0 ? t->model()->rowCount() - 1 : last, 0).data().toString();
}

// Cancels the progress of the job the next click starts, once its first slice is done.
void cancelProgressOf(LogDialog *d, bool &cancelled)
{
    QTimer::singleShot(0, d, [d, &cancelled] {
        if (auto *progress = d->findChild<QProgressDialog *>()) {
            progress->cancel();
            cancelled = true;
        }
    });
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
    void logChangesUnderOpenDialog_data();
    void logChangesUnderOpenDialog();
    void scrollRangeCoversTheLog();
    void ipTakenWhenRowIsWritten();
    void exportWritesExactBytes_data();
    void exportWritesExactBytes();
    void exportUnderChineseUi();
    void exportToUnwritablePath_data();
    void exportToUnwritablePath();
    void exportCancelledWritesNothing_data();
    void exportCancelledWritesNothing();
    void printHoldsEveryRow_data();
    void printHoldsEveryRow();
    void printCancelledPrintsNothing_data();
    void printCancelledPrintsNothing();
    void cleanWithYesAndNo_data();
    void cleanWithYesAndNo();
    void badFilesNeverBreakTheWindows_data();
    void badFilesNeverBreakTheWindows();

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

void TestLogDialog::logChangesUnderOpenDialog_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("atOldest"); // the view shows the oldest rows
    QTest::addColumn<int>("inserted");  // rows inserted on top; -1: the log is read afresh
    QTest::newRow("tick adds a row, view on the newest rows") << "tick" << false << 1;
    QTest::newRow("tick adds a row, view on the oldest rows") << "tick" << true << 1;
    QTest::newRow("tick adds rows in the newest second") << "same second" << true << 3;
    QTest::newRow("tick adds a row older than the newest") << "older" << true << -1;
    QTest::newRow("clean, then a tick adds a row") << "clean" << true << -1;
    QTest::newRow("log replaced by a shorter one") << "replaced" << true << -1;
}

void TestLogDialog::logChangesUnderOpenDialog()
{
    QFETCH(QString, change);
    QFETCH(bool, atOldest);
    QFETCH(int, inserted);
    const QString path = logDatabasePath();
    writeManyRows(path, 3000, 600); // up to 2024-03-01 00:09:59
    MainWindow w;
    LogDialog *d = theLogDialog();
    d->initView();
    d->show();
    QTableView *table = dialogTable(d);
    QAbstractItemModel *m = table->model();
    QCOMPARE(shownRows(*m), allRowsInDisplayOrder(path));
    if (atOldest)
        table->scrollToBottom();
    QCoreApplication::processEvents();
    QSignalSpy insertedRows(m, &QAbstractItemModel::rowsInserted);
    QSignalSpy resets(m, &QAbstractItemModel::modelReset);

    if (change == "tick") {
        queueEvents({{"2024-03-01 00:10:00", UpsFail}});
    } else if (change == "same second") {
        queueEvents(
            {{"2024-03-01 00:09:59", UpsFail}, {"2024-03-01 00:09:59", UpsNormal}, {"2024-03-01 00:09:59", UpsFail}});
    } else if (change == "older") {
        queueEvents({{"2024-03-01 00:05:00", UpsFail}});
    } else if (change == "clean") {
        MessageBox::setNextAnswer(QMessageBox::Yes);
        dialogButton(d, "bt_clean")->click();
        queueEvents({{"2024-03-01 00:10:00", UpsFail}});
    } else {
        QFile::remove(path);
        writeManyRows(path, 100, 10);
        queueEvents({{"2024-03-01 00:10:00", UpsFail}});
    }
    logDialogOpen = true;
    w.timerslots();
    logDialogOpen = false;
    QCoreApplication::processEvents();

    // Every row shown is a row of the log, in its place: nothing stale, nothing twice.
    QCOMPARE(shownRows(*m), allRowsInDisplayOrder(path));
    if (inserted < 0)
        return;
    QCOMPARE(insertedRows.count(), 1);
    QCOMPARE(insertedRows[0].mid(1), QVariantList({0, inserted - 1}));
    QCOMPARE(resets.count(), 0);
    // A view on the oldest rows stays on them; one on the newest shows the new row.
    if (atOldest)
        QCOMPARE(lastShownTime(table), QStringLiteral("2024-03-01 00:00:00"));
    else
        QCOMPARE(table->rowAt(0), 0);
}

void TestLogDialog::scrollRangeCoversTheLog()
{
    writeManyRows(logDatabasePath(), 5000, 5000);
    MainWindow w;
    whileDialogShown(w, [&](LogDialog *d) {
        QTableView *table = dialogTable(d);
        QCOMPARE(table->model()->rowCount(), 5000);
        // One move reaches the oldest row.
        table->scrollToBottom();
        QCoreApplication::processEvents();
        QCOMPARE(lastShownTime(table), QStringLiteral("2024-03-01 00:00:00"));
    });
    // Reopened after a new event, the dialog shows the newest row on top.
    queueEvents({{"2099-01-01 00:00:00", UpsFail}});
    w.timerslots();
    whileDialogShown(w, [&](LogDialog *d) {
        QTableView *table = dialogTable(d);
        QCoreApplication::processEvents();
        QCOMPARE(table->verticalScrollBar()->value(), 0);
        QCOMPARE(table->rowAt(0), 0);
        QCOMPARE(table->model()->index(0, 0).data().toString(), QStringLiteral("2099-01-01 00:00:00"));
    });
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

void TestLogDialog::exportCancelledWritesNothing_data()
{
    QTest::addColumn<bool>("inProgress");
    QTest::newRow("file chooser cancelled") << false;
    QTest::newRow("export cancelled in its progress") << true;
}

void TestLogDialog::exportCancelledWritesNothing()
{
    QFETCH(bool, inProgress);
    writeManyRows(logDatabasePath(), 3 * LogCsvExport::chunkRows, 100);
    MainWindow w;
    LogDialog *d = theLogDialog();
    const QStringList before = QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden);
    FileDialog::setNextFileName(inProgress ? m_dir->file("export.csv") : QString());
    bool cancelled = false;
    if (inProgress)
        cancelProgressOf(d, cancelled);
    dialogButton(d, "bt_save")->click();
    QCOMPARE(cancelled, inProgress);
    QVERIFY(MessageBox::shownBoxes().isEmpty());
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden), before);
}

void TestLogDialog::printHoldsEveryRow_data()
{
    QTest::addColumn<QString>("choice"); // what a large log is asked; empty: a small log, not asked
    QTest::newRow("small log") << QString();
    QTest::newRow("large log, the rows of the last days") << "rb_days";
    QTest::newRow("large log, the rows shown") << "rb_shown";
}

void TestLogDialog::printHoldsEveryRow()
{
    QFETCH(QString, choice);
    QStringList expected;
    if (choice.isEmpty()) {
        writeRows({{"2024-01-01 08:00:00", "127.0.0.1", "7", {}},
                   {"2024-01-02 09:30:00", "<b>1.2</b> & \"x\"", "0", {}},
                   {"2024-01-03 10:45:00", "127.0.0.3", "42", {}}});
        expected = QStringList{"Date/Time",
                               "IP",
                               "Event",
                               "2024-01-01 08:00:00",
                               "127.0.0.1",
                               "Agent Connected",
                               "2024-01-02 09:30:00",
                               "<b>1.2</b> & \"x\"",
                               "Utility Fail",
                               "2024-01-03 10:45:00",
                               "127.0.0.3",
                               "42"};
    } else {
        writeManyRows(logDatabasePath(), LogDialog::printQuestionRows, LogDialog::printQuestionRows);
        if (choice == "rb_days") {
            const QDateTime now = QDateTime::currentDateTime();
            for (int hours : {1, 30})
                expected.append(now.addSecs(-3600 * hours).toString("yyyy-MM-dd hh:mm:ss"));
            writeRows({{expected[0], "127.0.0.1", "1", {}},
                       {expected[1], "127.0.0.1", "2", {}},
                       {now.addDays(-3).toString("yyyy-MM-dd hh:mm:ss"), "127.0.0.1", "3", {}}});
        }
    }
    MainWindow w;
    LogDialog *d = theLogDialog();
    d->initView();
    d->show();
    QTableView *table = dialogTable(d);
    if (choice == "rb_shown") {
        table->scrollTo(table->model()->index(4000, 0), QAbstractItemView::PositionAtTop);
        QCoreApplication::processEvents();
        for (int r = table->rowAt(0); r >= 0 && r <= table->rowAt(table->viewport()->height() - 1); ++r)
            expected.append(table->model()->index(r, 0).data().toString());
        QVERIFY(expected.size() > 5);
    }
    bool asked = false;
    if (!choice.isEmpty())
        PrintRangeDialog::setNextAnswer([&](PrintRangeDialog &question) {
            asked = true;
            question.findChild<QRadioButton *>(choice)->setChecked(true);
            question.findChild<QSpinBox *>("sb_days")->setValue(2);
            return true;
        });
    const QString pdf = m_dir->file("log.pdf");
    PrintDialog::setNextAnswer([pdf](QPrinter &printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    });
    dialogButton(d, "bt_print")->click();
    QCOMPARE(asked, !choice.isEmpty());
    QVERIFY(QFileInfo(pdf).size() > 0);

    QProcess text;
    text.start("pdftotext", {pdf, "-"});
    QVERIFY(text.waitForFinished(30000));
    const QString printed = QString::fromUtf8(text.readAllStandardOutput());
    for (const QString &cell : expected)
        QVERIFY2(printed.contains(cell), qPrintable(cell + " missing from:\n" + printed));
    // Nothing more than asked for.
    if (!choice.isEmpty()) {
        static const QRegularExpression time("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d");
        QCOMPARE(printed.count(time), expected.size());
    }
}

void TestLogDialog::printCancelledPrintsNothing_data()
{
    QTest::addColumn<bool>("inProgress");
    QTest::newRow("print dialog cancelled") << false;
    QTest::newRow("print cancelled in its progress") << true;
}

void TestLogDialog::printCancelledPrintsNothing()
{
    QFETCH(bool, inProgress);
    writeManyRows(logDatabasePath(), inProgress ? LogDialog::printQuestionRows : 1, 100);
    MainWindow w;
    LogDialog *d = theLogDialog();
    if (inProgress)
        PrintRangeDialog::setNextAnswer([](PrintRangeDialog &question) {
            question.findChild<QRadioButton *>("rb_all")->setChecked(true);
            return true;
        });
    const QString pdf = m_dir->file("log.pdf");
    PrintDialog::setNextAnswer([pdf, inProgress](QPrinter &printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return inProgress;
    });
    bool cancelled = false;
    if (inProgress)
        cancelProgressOf(d, cancelled);
    dialogButton(d, "bt_print")->click();
    QCOMPARE(cancelled, inProgress);
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
    QTest::newRow("ids outside the events") << "ids" << QStringList({"14", "-1", "abc", "", "999"});
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
                   {"2024-01-01 00:00:05", "127.0.0.1", "14", {}}});
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
            QCOMPARE(column(table->model(), 2), QStringList({"14", "-1", "abc", "", "999", "Utility Fail"}));
        else if (kind != "truncated")
            QCOMPARE(table->model()->rowCount(), 0);
        const QString csv = m_dir->file("bad.csv");
        FileDialog::setNextFileName(csv);
        MessageBox::setNextAnswer(QMessageBox::Ok);
        dialogButton(d, "bt_save")->click();
        QCOMPARE(MessageBox::shownBoxes().size(), 1);
    });
}

QTEST_MAIN(TestLogDialog)
#include "tst_logdialog.moc"
