#include "config/params.h"
#include "fakedesktop.h"
#include "platform/nulldesktop.h"
#include "shutdown/closefile.h"
#include "shutdown/opendocumentsaver.h"
#include "tempdatadir.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

using App = FakeDesktop::Application;
using Behaviour = FakeDesktop::Behaviour;
using Toolkit = FakeDesktop::Toolkit;

namespace {
App app(const QString &title, Behaviour behaviour, Toolkit toolkit = Toolkit::Gtk)
{
    App a;
    a.title = title;
    a.behaviour = behaviour;
    a.toolkit = toolkit;
    return a;
}

// The operations with generated names made comparable: "<dir>/backupN_<time>"
// becomes "backupN".
QStringList normalised(const QStringList &ops, const QString &dir)
{
    static const QRegularExpression name(QStringLiteral("/backup(\\d+)_\\d{8}-\\d{6}$"));
    QStringList out;
    for (QString op : ops) {
        op.replace(dir, QString());
        op.replace(name, QStringLiteral("backup\\1"));
        out << op;
    }
    return out;
}
} // namespace

class TestOpenDocumentSaver : public QObject
{
    Q_OBJECT
private slots:
    void init() { params = Params(); }
    void oneApplication_data();
    void oneApplication();
    void promptAnswerFollowsTheDefaultNotThePosition_data();
    void promptAnswerFollowsTheDefaultNotThePosition();
    void operationsAndPausesInOrder();
    void backupIndexCountsAcrossWindowsAndPasses();
    void skipListAndOwnWindowsAreLeftAlone();
    void titlesWithQuotesAreStoredAsRead();
    void closeFileRowsOfAPass();
    void secondPassRecordsOnlyItsOwnWindows();
    void processWithAnotherWindowIsNotEnded();
    void manyDocumentsGoOnWhileRunsSave_data();
    void manyDocumentsGoOnWhileRunsSave();
    void overwriteQuestionIsAnswered();
    void saveDirectory_data();
    void saveDirectory();
    void unopenableCloseFileDoesNotStopThePass();
    void nullDesktopRecordsTheTimeOnly();
};

void TestOpenDocumentSaver::oneApplication_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<int>("toolkit");
    QTest::addColumn<QStringList>("operations");
    QTest::addColumn<QStringList>("saved"); // savedfile rows
    QTest::addColumn<bool>("terminated");
    QTest::addColumn<int>("savedFiles"); // documents the application wrote

    const QStringList closing{"bringForward Ed", "requestClose Ed"};
    QTest::newRow("closes at once") << int(Behaviour::ClosesAtOnce) << int(Toolkit::Gtk) << closing << QStringList{}
                                    << false << 0;
    QTest::newRow("asks and saves silently")
        << int(Behaviour::SavesSilently) << int(Toolkit::Gtk) << closing + QStringList{"press Save", "saved known"}
        << QStringList{} << false << 1;
    QTest::newRow("asks and opens a save dialog, GTK")
        << int(Behaviour::AsksForName) << int(Toolkit::Gtk)
        << closing + QStringList{"press Save", "typeText backup1", "press Save", "saved backup1"} << QStringList{"Ed"}
        << false << 1;
    QTest::newRow("asks and opens a save dialog, Qt")
        << int(Behaviour::AsksForName) << int(Toolkit::Qt)
        << closing + QStringList{"press Save", "typeText backup1", "press Save", "saved backup1"} << QStringList{"Ed"}
        << false << 1;
    QTest::newRow("asks, no default button")
        << int(Behaviour::AsksForName) << int(Toolkit::NoDefault)
        << closing + QStringList{"press Save", "typeText backup1", "press Save", "saved backup1"} << QStringList{"Ed"}
        << false << 1;
    QTest::newRow("asks, no buttons: Return")
        << int(Behaviour::AsksForName) << int(Toolkit::NoButtons)
        << closing + QStringList{"pressReturn Save changes to \"Ed\"?", "typeText backup1", "pressReturn Name",
                                 "saved backup1"}
        << QStringList{"Ed"} << false << 1;
    QTest::newRow("ignores the close request")
        << int(Behaviour::IgnoresClose) << int(Toolkit::Gtk)
        << closing + QStringList{"requestClose Ed", "requestClose Ed", "terminate Ed"} << QStringList{} << true << 0;
    QTest::newRow("keeps running hidden") << int(Behaviour::HidesAndKeepsRunning) << int(Toolkit::Gtk)
                                          << closing + QStringList{"terminate Ed"} << QStringList{} << true << 0;
    QTest::newRow("dialog without an edit field")
        << int(Behaviour::DialogWithoutEditField) << int(Toolkit::Gtk)
        << closing + QStringList{"press Save", "press Open", "press Open", "press Open", "terminate Ed"}
        << QStringList{} << true << 0;
}

void TestOpenDocumentSaver::oneApplication()
{
    QFETCH(int, behaviour);
    QFETCH(int, toolkit);
    QFETCH(QStringList, operations);
    QFETCH(QStringList, saved);
    QFETCH(bool, terminated);
    QFETCH(int, savedFiles);

    TempDataDir data;
    FakeDesktop desktop;
    App a = app(QStringLiteral("Ed"), Behaviour(behaviour), Toolkit(toolkit));
    a.knownFile = data.file(QStringLiteral("known"));
    const WindowHandle w = desktop.addApplication(a);
    const qint64 pid = desktop.pidOf(w);
    OpenDocumentSaver saver(desktop);
    saver.closeApplications();

    QCOMPARE(normalised(desktop.operationTexts(), data.path() + QStringLiteral("/Temp")),
             normalised(operations, QString())
                 .replaceInStrings(QStringLiteral("saved known"), QStringLiteral("saved ") + data.file("known")));
    const CloseFile::Record record = CloseFile::read();
    QCOMPARE(record.closed, QStringList{"Ed"});
    QCOMPARE(record.saved, saved);
    QCOMPARE(desktop.wasTerminated(pid), terminated);
    QVERIFY(!desktop.isRunning(pid));
    QCOMPARE(desktop.savedFiles().size(), savedFiles);
    for (const QString &file : desktop.savedFiles()) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("unsaved text"));
    }
}

void TestOpenDocumentSaver::promptAnswerFollowsTheDefaultNotThePosition_data()
{
    QTest::addColumn<int>("toolkit");
    QTest::newRow("GTK lists Cancel first") << int(Toolkit::Gtk);
    QTest::newRow("Qt lists navigation buttons first") << int(Toolkit::Qt);
    QTest::newRow("labels only") << int(Toolkit::NoDefault);
}

void TestOpenDocumentSaver::promptAnswerFollowsTheDefaultNotThePosition()
{
    QFETCH(int, toolkit);
    TempDataDir data;
    FakeDesktop desktop;
    desktop.addApplication(app(QStringLiteral("Ed"), Behaviour::AsksForName, Toolkit(toolkit)));
    OpenDocumentSaver saver(desktop);
    saver.closeApplications();
    for (const QString &op : desktop.operationTexts()) {
        QVERIFY2(!op.startsWith(QLatin1String("press")) || op == QLatin1String("press Save"), qPrintable(op));
        QVERIFY2(!op.startsWith(QLatin1String("discarded")), qPrintable(op));
    }
    QCOMPARE(desktop.savedFiles().size(), 1);
}

// The pauses of the pass on the fake's clock: 3 s before enumerating, 2 s after the
// close request, 2 s after answering the prompt, a quiet 0.3 s after the name,
// 2 s after confirming (the fake notes the write when it next looks), then 1 s
// after the run, when the window has gone.
void TestOpenDocumentSaver::operationsAndPausesInOrder()
{
    TempDataDir data;
    FakeDesktop desktop;
    desktop.addApplication(app(QStringLiteral("Ed"), Behaviour::AsksForName));
    OpenDocumentSaver saver(desktop);
    saver.closeApplications();
    QStringList timeline;
    for (const FakeDesktop::Operation &op : desktop.operations())
        timeline << QStringLiteral("%1 %2").arg(op.atMs).arg(op.what.section(QLatin1Char(' '), 0, 0));
    QCOMPARE(timeline, (QStringList{"3000 bringForward", "3000 requestClose", "5000 press", "7000 typeText",
                                    "7300 press", "9300 saved"}));
    QCOMPARE(desktop.elapsedMs(), 3000 + 2000 + 2000 + 300 + 2000 + 1000);
}

void TestOpenDocumentSaver::backupIndexCountsAcrossWindowsAndPasses()
{
    TempDataDir data;
    FakeDesktop desktop;
    desktop.addApplication(app(QStringLiteral("Second"), Behaviour::AsksForName, Toolkit::Qt));
    desktop.addApplication(app(QStringLiteral("Silent"), Behaviour::SavesSilently));
    desktop.addApplication(app(QStringLiteral("First"), Behaviour::AsksForName));
    OpenDocumentSaver saver(desktop);
    saver.closeApplications();
    QCOMPARE(saver.backupIndex(), 2);
    const QString temp = data.file(QStringLiteral("Temp"));
    QCOMPARE(normalised(desktop.savedFiles(), temp), (QStringList{"backup1", "backup2"}));
    QCOMPARE(CloseFile::read().saved, (QStringList{"First", "Second"}));

    desktop.addApplication(app(QStringLiteral("Later"), Behaviour::AsksForName));
    saver.closeApplications();
    QCOMPARE(saver.backupIndex(), 3);
    QCOMPARE(normalised(desktop.savedFiles(), temp).last(), QStringLiteral("backup3"));
}

void TestOpenDocumentSaver::skipListAndOwnWindowsAreLeftAlone()
{
    TempDataDir data;
    FakeDesktop desktop;
    const QStringList skipped{"mainwindow - Voltiguard - Qt Creator", "closedialog - Voltiguard - Qt Creator",
                              "send - Microsoft Visual Studio", "Voltiguard"};
    for (const QString &title : skipped)
        desktop.addApplication(app(title, Behaviour::ClosesAtOnce));
    App own = app(QStringLiteral("Event Log"), Behaviour::ClosesAtOnce);
    own.pid = QCoreApplication::applicationPid();
    desktop.addApplication(own);
    desktop.addApplication(app(QStringLiteral("voltiguard"), Behaviour::ClosesAtOnce));
    OpenDocumentSaver saver(desktop);
    saver.closeApplications();
    QCOMPARE(desktop.operationTexts(), (QStringList{"bringForward voltiguard", "requestClose voltiguard"}));
    QCOMPARE(CloseFile::read().closed, QStringList{"voltiguard"});
}

void TestOpenDocumentSaver::titlesWithQuotesAreStoredAsRead()
{
    TempDataDir data;
    FakeDesktop desktop;
    const QString title = QStringLiteral("it's \"done\"'); drop table time; -- ünïcødé");
    desktop.addApplication(app(title, Behaviour::AsksForName));
    OpenDocumentSaver saver(desktop);
    saver.closeApplications();
    const CloseFile::Record record = CloseFile::read();
    QVERIFY(!record.time.isEmpty());
    QCOMPARE(record.closed, QStringList{title});
    QCOMPARE(record.saved, QStringList{title});
}

void TestOpenDocumentSaver::closeFileRowsOfAPass()
{
    TempDataDir data;
    // An earlier pass's rows are dropped by the reset.
    CloseFile::reset();
    CloseFile::setTime(QStringLiteral("2000-01-01 00:00:00"));
    CloseFile::addClosed(QStringLiteral("old"));
    CloseFile::addSaved(QStringLiteral("old"), QStringLiteral("/old"));

    FakeDesktop desktop;
    desktop.addApplication(app(QStringLiteral("C"), Behaviour::ClosesAtOnce));
    desktop.addApplication(app(QStringLiteral("B"), Behaviour::AsksForName));
    desktop.addApplication(app(QStringLiteral("A"), Behaviour::SavesSilently));
    OpenDocumentSaver saver(desktop);
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    saver.closeApplications();
    const CloseFile::Record record = CloseFile::read();
    const QDateTime time = QDateTime::fromString(record.time, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QVERIFY(time.isValid());
    QVERIFY(time >= before && time <= QDateTime::currentDateTime());
    QCOMPARE(record.closed, (QStringList{"A", "B", "C"}));
    QCOMPARE(record.saved, QStringList{"B"});
}

void TestOpenDocumentSaver::secondPassRecordsOnlyItsOwnWindows()
{
    TempDataDir data;
    FakeDesktop desktop;
    desktop.addApplication(app(QStringLiteral("first pass"), Behaviour::AsksForName));
    OpenDocumentSaver saver(desktop);
    saver.closeApplications();
    const int opsAfterFirst = int(desktop.operations().size());

    desktop.addApplication(app(QStringLiteral("second pass"), Behaviour::ClosesAtOnce));
    saver.closeApplications();
    const CloseFile::Record record = CloseFile::read();
    QCOMPARE(record.closed, QStringList{"second pass"});
    QVERIFY(record.saved.isEmpty());
    QCOMPARE(desktop.operationTexts().mid(opsAfterFirst),
             (QStringList{"bringForward second pass", "requestClose second pass"}));
}

void TestOpenDocumentSaver::processWithAnotherWindowIsNotEnded()
{
    TempDataDir data;
    FakeDesktop desktop;
    App editor = app(QStringLiteral("one.txt"), Behaviour::HidesAndKeepsRunning);
    const WindowHandle first = desktop.addApplication(editor);
    const qint64 pid = desktop.pidOf(first);
    App second = app(QStringLiteral("two.txt"), Behaviour::AsksForName);
    second.pid = pid;
    desktop.addApplication(second);
    OpenDocumentSaver saver(desktop);
    saver.closeApplications();
    // two.txt (frontmost) is saved and closed, but its process keeps one.txt open
    // and hides it: only then, with no window left, is the process ended.
    QCOMPARE(
        normalised(desktop.operationTexts(), data.file(QStringLiteral("Temp"))),
        (QStringList{"bringForward two.txt", "requestClose two.txt", "press Save", "typeText backup1", "press Save",
                     "saved backup1", "bringForward one.txt", "requestClose one.txt", "terminate one.txt"}));
    QVERIFY(desktop.wasTerminated(pid));
}

// The pass is bounded by its time budget, not by a count of documents: what is
// still open when it runs out is recorded as not saved and ended; a run that is
// given up is stopped and joined first.
void TestOpenDocumentSaver::manyDocumentsGoOnWhileRunsSave_data()
{
    QTest::addColumn<int>("documents");
    QTest::addColumn<bool>("closeRequestPerDocument");
    QTest::addColumn<int>("budget");
    QTest::addColumn<int>("pressBlocksMs");
    QTest::addColumn<int>("saved");
    QTest::addColumn<QStringList>("outOfTime"); // a second asking window, "later", sits behind

    QTest::newRow("two documents") << 2 << false << 180 << 0 << 2 + 1 << QStringList{};
    QTest::newRow("two documents, a close request each") << 2 << true << 180 << 0 << 2 + 1 << QStringList{};
    QTest::newRow("twelve documents") << 12 << false << 180 << 0 << 12 + 1 << QStringList{};
    QTest::newRow("past the budget") << 12 << false << 20 << 0 << 3 << QStringList{"tabs", "later"};
    QTest::newRow("a run past the budget") << 2 << false << 6 << 2000 << 0 << QStringList{"tabs", "later"};
}

void TestOpenDocumentSaver::manyDocumentsGoOnWhileRunsSave()
{
    QFETCH(int, documents);
    QFETCH(bool, closeRequestPerDocument);
    QFETCH(int, budget);
    QFETCH(int, pressBlocksMs);
    QFETCH(int, saved);
    QFETCH(QStringList, outOfTime);
    TempDataDir data;
    params.exte_save_budget = budget;
    FakeDesktop desktop;
    desktop.pressBlocksMs = pressBlocksMs;
    const qint64 later = desktop.pidOf(desktop.addApplication(app(QStringLiteral("later"), Behaviour::AsksForName)));
    App editor = app(QStringLiteral("tabs"), Behaviour::AsksForName);
    editor.unsavedDocuments = documents;
    editor.closeRequestPerDocument = closeRequestPerDocument;
    const qint64 pid = desktop.pidOf(desktop.addApplication(editor));
    {
        OpenDocumentSaver saver(desktop);
        saver.closeApplications();
    }
    QCOMPARE(desktop.savedFiles().size(), saved);
    const CloseFile::Record record = CloseFile::read();
    QCOMPARE(record.saved.size(), saved);
    QCOMPARE(record.outOfTime, outOfTime);
    QCOMPARE(desktop.wasTerminated(pid), outOfTime.contains("tabs"));
    QCOMPARE(desktop.wasTerminated(later), outOfTime.contains("later"));
    QVERIFY(!desktop.isRunning(pid) && !desktop.isRunning(later));
}

void TestOpenDocumentSaver::overwriteQuestionIsAnswered()
{
    TempDataDir data;
    const QString dir = data.file(QStringLiteral("docs"));
    QVERIFY(QDir().mkpath(dir));
    QSettings(data.file(QStringLiteral("param.ini")), QSettings::IniFormat).setValue("dir", dir);
    // Whatever second the name gets, the file is already there.
    const QDateTime now = QDateTime::currentDateTime();
    for (int s = -2; s < 30; ++s) {
        QFile f(dir + QStringLiteral("/backup1_") + now.addSecs(s).toString(QStringLiteral("yyyyMMdd-hhmmss")));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    FakeDesktop desktop;
    App editor = app(QStringLiteral("Ed"), Behaviour::AsksForName);
    editor.asksBeforeReplacing = true;
    desktop.addApplication(editor);
    OpenDocumentSaver saver(desktop);
    saver.closeApplications();
    QCOMPARE(normalised(desktop.operationTexts(), dir),
             (QStringList{"bringForward Ed", "requestClose Ed", "press Save", "typeText backup1", "press Save",
                          "press Replace", "saved backup1"}));
    QCOMPARE(CloseFile::read().saved, QStringList{"Ed"});
}

// A missing directory is created; one that cannot be is replaced by Temp, and the
// record says so. Only a file that exists and is not empty counts as saved.
void TestOpenDocumentSaver::saveDirectory_data()
{
    QTest::addColumn<QString>("dir"); // relative: inside the data directory
    QTest::addColumn<QString>("savedIn");
    QTest::addColumn<bool>("existing");

    QTest::newRow("existing") << "chosen"
                              << "chosen" << true;
    QTest::newRow("missing: created") << "stick/backups"
                                      << "stick/backups" << false;
    QTest::newRow("cannot be created: Temp") << "/etc/hostname/backups"
                                             << "Temp" << false;
}

void TestOpenDocumentSaver::saveDirectory()
{
    QFETCH(QString, dir);
    QFETCH(QString, savedIn);
    QFETCH(bool, existing);
    TempDataDir data;
    dir = QDir(data.path()).absoluteFilePath(dir);
    savedIn = data.file(savedIn);
    if (existing)
        QVERIFY(QDir().mkpath(dir));
    QSettings(data.file(QStringLiteral("param.ini")), QSettings::IniFormat).setValue("dir", dir);
    FakeDesktop desktop;
    desktop.addApplication(app(QStringLiteral("Ed"), Behaviour::AsksForName));
    OpenDocumentSaver saver(desktop);
    saver.closeApplications();
    QCOMPARE(desktop.savedFiles().size(), 1);
    QVERIFY(desktop.savedFiles().first().startsWith(savedIn + QStringLiteral("/backup1_")));
    QCOMPARE(QFileInfo::exists(data.file(QStringLiteral("Temp"))), savedIn.endsWith("/Temp"));
    const CloseFile::Record record = CloseFile::read();
    QCOMPARE(record.savedFiles, desktop.savedFiles());
    QCOMPARE(record.savedUnavailableDirs, QStringList{savedIn.endsWith("/Temp") ? dir : QString()});
}

void TestOpenDocumentSaver::unopenableCloseFileDoesNotStopThePass()
{
    TempDataDir data;
    QVERIFY(QDir().mkpath(data.file(QStringLiteral("close_file.db"))));
    FakeDesktop desktop;
    desktop.addApplication(app(QStringLiteral("Ed"), Behaviour::AsksForName));
    OpenDocumentSaver saver(desktop);
    saver.closeApplications();
    QCOMPARE(desktop.savedFiles().size(), 1);
    QVERIFY(!CloseFile::read().opened);
}

void TestOpenDocumentSaver::nullDesktopRecordsTheTimeOnly()
{
    TempDataDir data;
    NullDesktop desktop;
    OpenDocumentSaver saver(desktop);
    saver.closeApplications();
    const CloseFile::Record record = CloseFile::read();
    QVERIFY(record.opened);
    QVERIFY(!record.time.isEmpty());
    QVERIFY(record.closed.isEmpty());
    QVERIFY(record.saved.isEmpty());
}

QTEST_GUILESS_MAIN(TestOpenDocumentSaver)
#include "tst_opendocumentsaver.moc"
