// The shutdown path: the countdown, the pre-shutdown pass against a scripted
// desktop, the power-off through a logind mock, and the main window, popup and
// report that show them.
#include "app/countdown.h"
#include "app/mainwindow.h"
#include "eventlog/logstore.h"
#include "fakedesktop.h"
#include "logindmock.h"
#include "model/logevent.h"
#include "shutdown/closedialog.h"
#include "shutdown/closefile.h"
#include "shutdown/opendocumentsaver.h"
#include "shutdown/shutdownsequence.h"
#include "shutdown/smarthomemsg.h"
#include "tempdatadir.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPropertyAnimation>
#include <QRandomGenerator>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {
// U utility failure, B battery low, P UPS failure, u an unconfirmed utility failure,
// L agent lost, ? UPS link unknown.
UpsStatusSnapshot statusFrom(const QString &flags)
{
    UpsStatusSnapshot s;
    s.agentLink = s.upsLink = flags.contains('L') ? LinkLost : flags.contains('?') ? LinkUnknown : LinkGood;
    s.agentLink = flags.contains('L') ? LinkLost : LinkGood;
    s.utilityFail = flags.contains('U') || flags.contains('u');
    s.unconfirmed = flags.contains('u') ? 1 << 1 : 0;
    s.batteryLow = flags.contains('B');
    s.upsFail = flags.contains('P');
    return s;
}

void setParam(Params &p, const QString &assignment)
{
    const QString key = assignment.section('=', 0, 0);
    const int value = assignment.section('=', 1).toInt();
    const QHash<QString, int *> ints{{"Utility_time", &p.Utility_time},
                                     {"Bat_time", &p.Bat_time},
                                     {"UPS_time", &p.UPS_time},
                                     {"AlarmBox_time", &p.AlarmBox_time},
                                     {"exte_time", &p.exte_time}};
    const QHash<QString, bool *> bools{{"Utility_para", &p.Utility_para},
                                       {"Bat_para", &p.Bat_para},
                                       {"UPS_para", &p.UPS_para},
                                       {"Alarm_para", &p.Alarm_para},
                                       {"exte_flag", &p.exte_flag}};
    if (ints.contains(key))
        *ints[key] = value;
    else
        *bools.value(key) = value != 0;
}

// Runs a script of steps: "UB*120" is 120 ticks of that status (- for none), "x" the
// user closing the popup, "Utility_time=1" a change of settings, "refuse" and
// "accept" the answer to the power-off requests that follow. Returns the labels of
// every tick and the events in order: "N!" a request that runs the pass first, "N?"
// one that does not, "Ne" the external program, "N+" popup created, "N-" removed,
// "Nx" dismissed before tick N.
std::pair<QStringList, QString> runCountdown(const QString &settings, const QString &script)
{
    Params p;
    for (const QString &s : settings.split(' ', Qt::SkipEmptyParts))
        setParam(p, s);
    Countdown countdown;
    QStringList labels, events;
    bool accepting = true;
    for (const QString &step : script.split(' ', Qt::SkipEmptyParts)) {
        if (step == "refuse" || step == "accept")
            accepting = step == "accept";
        else if (step == "x" && countdown.popupShown())
            events << QString::number(labels.size()) + 'x';
        if (step == "x")
            countdown.popupDismissed();
        else if (step.contains('='))
            setParam(p, step);
        if (step == "x" || step.contains('=') || step == "refuse" || step == "accept")
            continue;
        for (int i = 0, n = qMax(1, step.section('*', 1).toInt()); i < n; ++i) {
            const QString at = QString::number(labels.size());
            const bool shown = countdown.popupShown();
            CountdownTick tick = countdown.evaluateConditions(statusFrom(step.section('*', 0, 0)), p);
            if (tick.requestShutdown) {
                events << at + (tick.runPass ? '!' : '?');
                countdown.powerOffAnswered(accepting, tick);
            }
            if (tick.startExternalProgram)
                events << at + 'e';
            if (tick.popup == PopupAction::Create || (tick.popup == PopupAction::Close && shown))
                events << at + (tick.popup == PopupAction::Create ? '+' : '-');
            labels << tick.labelText();
        }
    }
    return {labels, events.join(' ')};
}

QList<LogEvent> takeEvents()
{
    QWriteLocker lock(&pendingEventsLock);
    return std::exchange(pendingEvents, {});
}

const QString refuse = QStringLiteral("raise dbus.exceptions.DBusException('refused by the test', "
                                      "name='org.freedesktop.DBus.Error.AccessDenied')");

// The operations of one document saved through the save dialog.
QStringList saving(const QString &title, int index, const QString &dir = "/Temp")
{
    const QString file = dir + "/backup" + QString::number(index);
    return {"bringForward " + title, "requestClose " + title, "press Save", "typeText " + file, "press Save",
            "saved " + file};
}

void sendMouse(QWidget *w, QEvent::Type type, const QPoint &global, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, w->mapFromGlobal(global), global, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

QList<SmartHomeMsg *> popups()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QList<SmartHomeMsg *> found;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *p = qobject_cast<SmartHomeMsg *>(w))
            found << p;
    }
    return found;
}
} // namespace

class TestShutdown : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void countdown_data();
    void countdown();
    void alarmText();
    void randomSequencesRequestOnlyWhenTheRulesSay();
    void pass_data();
    void pass();
    void logindAnswers_data();
    void logindAnswers();
    void answerIsLoggedAtOnce_data();
    void answerIsLoggedAtOnce();
    void mainWindowCountsDownAndPowersOffOnce();
    void mainWindowShowsARefusalAndAsksAgain();
    void everyPopupClosePathDismissesIt_data();
    void everyPopupClosePathDismissesIt();
    void popupDragsAndShowsTheCountdown();
    void report_data();
    void report();

private:
    MainWindow *makeWindow(const QVariantMap &settings);
    void tick(int n)
    {
        for (int i = 0; i < n; ++i)
            m_window->timerslots();
    }
    QLabel *countdownLabel() const;
    int calls(const char *method) { return int(m_mock.calls(QLatin1String(method)).size()); }

    LogindMock m_mock;
    QTemporaryDir m_config;
    std::unique_ptr<TempDataDir> m_data;
    std::unique_ptr<MainWindow> m_window;
};

void TestShutdown::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    QVERIFY2(m_mock.start(), qPrintable(m_mock.error()));
    buildEventTexts();
}

void TestShutdown::init()
{
    m_window.reset();
    popups();
    m_data = std::make_unique<TempDataDir>();
    params = Params();
    takeEvents();
    // Any power-off only ever reaches the mock's bus.
    QVERIFY(m_mock.ownsSystemBusVariable());
    QVERIFY(m_mock.replaceMethod("CanPowerOff", "", "s", "ret = 'yes'"));
    QVERIFY(m_mock.replaceMethod("PowerOff", "b", "", ""));
    QVERIFY(m_mock.clearCalls());
}

void TestShutdown::countdown_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("labels"); // "tick:label" ..., NO, hidden or refused in short
    QTest::addColumn<QString>("events");

    const QString u1 = "Utility_para=1 Utility_time=1";
    QTest::newRow("one minute, one request, rests at zero, no external program switched off")
        << u1 + " exte_time=30"
        << "U*90"
        << "0:00:01:00 1:00:00:59 58:00:00:02 59:00:00:00 89:00:00:00"
        << "0+ 59!";
    QTest::newRow("utility 10 minutes with battery 2 follows the battery")
        << "Utility_para=1 Utility_time=10 Bat_para=1 Bat_time=2"
        << "UB*130"
        << "0:00:02:00 60:00:01:00 119:00:00:00 129:00:00:00"
        << "0+ 119!";
    QTest::newRow("both conditions request at their own delays")
        << "Utility_para=1 Utility_time=3 Bat_para=1 Bat_time=2"
        << "UB*200"
        << "150:00:00:00"
        << "0+ 119! 179?";
    QTest::newRow("clearing with 5 s left, back from the full delay") << u1 << "U*56 -*1 U*61"
                                                                      << "55:00:00:05 56:NO 57:00:01:00 116:00:00:00"
                                                                      << "0+ 56- 57+ 116!";
    QTest::newRow("agent lost mid-countdown resets the count") << u1 << "U*30 UL*2 U*60"
                                                               << "29:00:00:31 30:NO 31:NO 32:00:01:00 91:00:00:00"
                                                               << "0+ 30- 32+ 91!";
    QTest::newRow("UPS link unknown stops it") << u1 << "U*10 U?*1 U*3"
                                               << "9:00:00:51 10:NO 11:00:01:00"
                                               << "0+ 10- 11+";
    QTest::newRow("zero delay requests once a run") << "UPS_para=1 UPS_time=0"
                                                    << "P*5 -*2 P*3"
                                                    << "0:NO 4:NO 9:NO"
                                                    << "0! 7!";
    QTest::newRow("zero delay beside a counting condition") << "UPS_para=1 UPS_time=0 " + u1 << "UP*3 U*1"
                                                            << "0:00:01:00 3:00:00:57"
                                                            << "0! 0+";
    QTest::newRow("unconfirmed condition counts, its request waits for a poll") << u1 << "u*65 U*2"
                                                                                << "0:00:01:00 60:00:00:00 65:00:00:00"
                                                                                << "0+ 65!";
    QTest::newRow("unconfirmed with zero delay requests nothing") << "Utility_para=1 Utility_time=0"
                                                                  << "u*30 U*1"
                                                                  << "0:NO"
                                                                  << "30!";
    QTest::newRow("two zero delays, one request") << "UPS_para=1 UPS_time=0 Bat_para=1 Bat_time=0"
                                                  << "BP*2"
                                                  << "1:NO"
                                                  << "0!";
    QTest::newRow("external program once at 60 s left, not in a later countdown")
        << "Utility_para=1 Utility_time=10 exte_flag=1 exte_time=1"
        << "U*600 -*5 U*600"
        << "539:00:01:01 540:00:01:00"
        << "0+ 540e 599! 600- 605+ 1204!";
    QTest::newRow("external program with exte_time 10 starts at once")
        << "Utility_para=1 Utility_time=10 exte_flag=1 exte_time=10"
        << "U*5"
        << ""
        << "0e 0+";
    QTest::newRow("closed popup comes back after AlarmBox_time ticks")
        << "Utility_para=1 Utility_time=2 AlarmBox_time=3"
        << "U*2 x U*5 -*1 U*4"
        << ""
        << "0+ 2x 4+ 7- 10+";
    QTest::newRow("no popup comes back once the request is made") << u1 + " AlarmBox_time=65"
                                                                  << "U*2 x U*80"
                                                                  << "70:00:00:00"
                                                                  << "0+ 2x 59!";
    QTest::newRow("AlarmBox_time 0 never brings it back") << u1 + " AlarmBox_time=0"
                                                          << "U*2 x U*70 -*1 U*30"
                                                          << ""
                                                          << "0+ 2x 59!";
    QTest::newRow("Alarm_para off shows no popup") << u1 + " Alarm_para=0"
                                                   << "U*61"
                                                   << "0:00:01:00"
                                                   << "59!";
    QTest::newRow("Alarm_para switched off removes the popup") << u1 << "U*3 Alarm_para=0 U*1"
                                                               << "3:00:00:57"
                                                               << "0+ 3-";
    QTest::newRow("all switches off: hidden") << ""
                                              << "UBP*10 -*2 UBPL*2"
                                              << "0:hidden 9:hidden 13:hidden"
                                              << "";
    QTest::newRow("condition switched on but not failing reads NO") << "Bat_para=1 Bat_time=1"
                                                                    << "UP*70"
                                                                    << "0:NO 69:NO"
                                                                    << "";
    QTest::newRow("delay shortened below the count requests on the next tick") << "Utility_para=1 Utility_time=62"
                                                                               << "U*100 Utility_time=1 U*3"
                                                                               << "0:01:02:00 99:01:00:21 100:00:00:00"
                                                                               << "0+ 100!";
    QTest::newRow("delay lengthened counts against the new delay") << u1 << "U*30 Utility_time=2 U*100"
                                                                   << "30:00:01:30"
                                                                   << "0+ 119!";
    QTest::newRow("refused: asked again every 60 s while it lasts, one pass a run")
        << u1 << "refuse U*200 -*1 U*61"
        << "58:00:00:02 59:refused 150:refused 200:NO 201:00:01:00 260:refused"
        << "0+ 59! 119? 179? 200- 201+ 260!";
    QTest::newRow("refused, then the delay lengthened: asked at the new delay")
        << u1 << "refuse U*70 Utility_time=3 U*120"
        << "69:refused 70:00:01:50 179:refused"
        << "0+ 59! 179?";
    QTest::newRow("zero delay refused: one pass, asked again every 60 s") << "UPS_para=1 UPS_time=0"
                                                                          << "refuse P*130"
                                                                          << "0:refused 59:refused 129:refused"
                                                                          << "0! 60? 120?";
    QTest::newRow("accepted after a refusal: not asked again") << "UPS_para=1 UPS_time=0"
                                                               << "refuse P*30 accept P*100"
                                                               << "29:refused 60:NO"
                                                               << "0! 60?";
}

void TestShutdown::countdown()
{
    QFETCH(QString, settings);
    QFETCH(QString, script);
    QFETCH(QString, labels);
    QFETCH(QString, events);
    const auto [shown, happened] = runCountdown(settings, script);
    const QHash<QString, QString> shorthand{
        {"NO", "Countdown of Shotdown:NO"}, {"hidden", ""}, {"refused", "Shutdown refused"}};
    for (const QString &expected : labels.split(' ', Qt::SkipEmptyParts)) {
        const QString label = expected.section(':', 1);
        QCOMPARE(shown.value(expected.section(':', 0, 0).toInt(), "<none>"),
                 shorthand.value(label, "Countdown of Shutdown:" + label));
    }
    QCOMPARE(happened, events);
}

void TestShutdown::alarmText()
{
    Params p;
    p.Utility_para = p.Bat_para = p.UPS_para = true;
    QCOMPARE(Countdown().evaluateConditions(statusFrom("PBU"), p).alarmText, "Utility Fail\nBattery Low\nUPS Fail\n");
    p.Bat_time = 0; // requests at once, counts nothing
    p.UPS_para = false;
    QCOMPARE(Countdown().evaluateConditions(statusFrom("PBU"), p).alarmText, "Utility Fail\n");
}

// Seeded random runs against the rules stated directly, every power-off accepted: a
// tick requests when a condition with delay d > 0 has been active for exactly d * 60
// ticks, or one with delay 0 has just become active; the display shows the smallest
// d * 60 - run + 1 of the counting conditions, 0 from the request on.
void TestShutdown::randomSequencesRequestOnlyWhenTheRulesSay()
{
    int requests = 0;
    for (quint32 seed = 1; seed <= 40; ++seed) {
        QRandomGenerator rng(seed);
        Params p;
        bool *switches[3] = {&p.Utility_para, &p.Bat_para, &p.UPS_para};
        int *delays[3] = {&p.Utility_time, &p.Bat_time, &p.UPS_time};
        for (int c = 0; c < 3; ++c) {
            *switches[c] = rng.bounded(4) != 0;
            *delays[c] = rng.bounded(5) == 0 ? 0 : int(rng.bounded(1, 4));
        }
        p.exte_flag = rng.bounded(2);
        p.exte_time = rng.bounded(1, 4);
        Countdown countdown;
        int run[3] = {0, 0, 0};
        UpsStatusSnapshot status = statusFrom("");
        int hold = 0;
        int externalStarts = 0;
        for (int t = 0; t < 5000; ++t) {
            if (hold-- <= 0) {
                status = statusFrom(QStringList{"U", ""}[rng.bounded(2)] + QStringList{"B", ""}[rng.bounded(2)] +
                                    QStringList{"P", ""}[rng.bounded(2)] +
                                    QStringList{"L", "?", "", "", ""}[rng.bounded(5)]);
                hold = rng.bounded(8) == 0 ? int(rng.bounded(60, 400)) : int(rng.bounded(1, 20));
            }
            const bool alarms[3] = {status.utilityFail, status.batteryLow, status.upsFail};
            bool request = false;
            bool counting = false;
            int secs = noCountdown;
            for (int c = 0; c < 3; ++c) {
                const bool active = *switches[c] && alarms[c] && status.upsLink == LinkGood;
                run[c] = active ? run[c] + 1 : 0;
                if (active && *delays[c] == 0) {
                    request |= run[c] == 1;
                } else if (active) {
                    counting = true;
                    request |= run[c] == *delays[c] * 60;
                    secs = std::min(secs, std::max(0, *delays[c] * 60 - run[c] + 1) * (run[c] < *delays[c] * 60));
                }
            }
            CountdownTick tick = countdown.evaluateConditions(status, p);
            const auto display = !p.Utility_para && !p.Bat_para && !p.UPS_para ? CountdownDisplay::Hidden
                                 : counting                                    ? CountdownDisplay::Counting
                                                                               : CountdownDisplay::Idle;
            const QString where = QStringLiteral("seed %1 tick %2").arg(seed).arg(t);
            QVERIFY2(tick.requestShutdown == request && tick.display == display &&
                         (!counting || tick.countdownSecs == secs),
                     qPrintable(where));
            if (tick.requestShutdown)
                countdown.powerOffAnswered(true, tick);
            externalStarts += tick.startExternalProgram;
            requests += tick.requestShutdown;
        }
        QVERIFY(externalStarts <= 1);
    }
    // The runs must reach the delays, or the test proves little.
    QVERIFY(requests > 40);
}

// Applications as FakeDesktop letters, "letters|title", in the order they were
// opened (the last is frontmost). Setup: "dir=D" the save directory (relative: in
// the data directory), "existing" every name the pass may choose exists already in
// it, "budget=S", "block=MS" each press takes that long, "unopenable" close_file.db,
// "then=letters|title" opened before a second pass. Paths in the operations are
// relative to the data directory, generated names shortened to backupN.
void TestShutdown::pass_data()
{
    QTest::addColumn<QStringList>("apps");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QStringList>("ops"); // empty: not compared
    QTest::addColumn<QString>("record");  // closed/saved (with the directory it was meant for)/out of time

    const QStringList ed = saving("Ed", 1);
    const QString quoted = "it's \"done\"'); drop table time; -- ünïcødé";
    QTest::newRow("closes at once") << QStringList{"c|Ed"} << "" << QStringList{"bringForward Ed", "requestClose Ed"}
                                    << "Ed//";
    QTest::newRow("asks and saves silently")
        << QStringList{"s|Ed"} << "" << QStringList{"bringForward Ed", "requestClose Ed", "press Save", "saved /known"}
        << "Ed//";
    QTest::newRow("GTK lists Cancel first: the default") << QStringList{"ag|Ed"} << "" << ed << "Ed/Ed/";
    QTest::newRow("Qt lists navigation buttons first: the default") << QStringList{"aq|Ed"} << "" << ed << "Ed/Ed/";
    QTest::newRow("no default button: the label") << QStringList{"an|Ed"} << "" << ed << "Ed/Ed/";
    QTest::newRow("no buttons: Return")
        << QStringList{"ar|Ed"} << ""
        << QStringList{"bringForward Ed",        "requestClose Ed",  "pressReturn Save changes to \"Ed\"?",
                       "typeText /Temp/backup1", "pressReturn Name", "saved /Temp/backup1"}
        << "Ed/Ed/";
    QTest::newRow("ignores the close request")
        << QStringList{"i|Ed"} << ""
        << QStringList{"bringForward Ed", "requestClose Ed", "requestClose Ed", "requestClose Ed", "terminate Ed"}
        << "Ed//";
    QTest::newRow("keeps running hidden")
        << QStringList{"h|Ed"} << "" << QStringList{"bringForward Ed", "requestClose Ed", "terminate Ed"} << "Ed//";
    QTest::newRow("dialog without an edit field")
        << QStringList{"b|Ed"} << "" << QStringList{"bringForward Ed", "requestClose Ed", "press Save",  "press Open",
                                                    "press Open",      "press Open",      "terminate Ed"}
        << "Ed//";
    QTest::newRow("overwrite question answered")
        << QStringList{"ax|Ed"} << "dir=docs existing"
        << QStringList{"bringForward Ed", "requestClose Ed", "press Save",         "typeText /docs/backup1",
                       "press Save",      "press Replace",   "saved /docs/backup1"}
        << "Ed/Ed/";
    QTest::newRow("backup index across windows and passes, second pass records only its own")
        << QStringList{"aq|Second", "s|Silent", "a|First"} << "then=a|Later"
        << saving("First", 1) +
               QStringList{"bringForward Silent", "requestClose Silent", "press Save", "saved /known"} +
               saving("Second", 2) + saving("Later", 3)
        << "Later/Later/";
    QTest::newRow("rows of a pass in order")
        << QStringList{"c|C", "a|B", "s|A"} << ""
        << QStringList{"bringForward A", "requestClose A", "press Save", "saved /known"} + saving("B", 1) +
               QStringList{"bringForward C", "requestClose C"}
        << "A|B|C/B/";
    QTest::newRow("skip list and own windows left alone")
        << QStringList{"c|mainwindow - Voltiguard - Qt Creator",
                       "c|closedialog - Voltiguard - Qt Creator",
                       "c|send - Microsoft Visual Studio",
                       "c|Voltiguard",
                       "co|Event Log",
                       "c|voltiguard"}
        << "" << QStringList{"bringForward voltiguard", "requestClose voltiguard"} << "voltiguard//";
    QTest::newRow("title with quotes") << QStringList{"a|" + quoted} << "" << saving(quoted, 1)
                                       << quoted + "/" + quoted + "/";
    QTest::newRow("process with another window is not ended")
        << QStringList{"h|one.txt", "ap|two.txt"} << ""
        << saving("two.txt", 1) + QStringList{"bringForward one.txt", "requestClose one.txt", "terminate one.txt"}
        << "two.txt|one.txt/two.txt/";
    QTest::newRow("two documents") << QStringList{"a|later", "a2|tabs"} << "" << QStringList{}
                                   << "tabs|later/tabs|tabs|later/";
    QTest::newRow("two documents, a close request each")
        << QStringList{"a|later", "a2m|tabs"} << "" << QStringList{} << "tabs|later/tabs|tabs|later/";
    QTest::newRow("twelve documents") << QStringList{"a|later", "a12|tabs"} << "" << QStringList{}
                                      << "tabs|later/" + QString("tabs|").repeated(12) + "later/";
    QTest::newRow("past the save budget")
        << QStringList{"a|later", "a12|tabs"} << "budget=20" << QStringList{} << "tabs|later/tabs|tabs|tabs/tabs|later";
    QTest::newRow("a saver run past the budget is stopped")
        << QStringList{"a|later", "a2|tabs"} << "budget=6 block=2000" << QStringList{} << "tabs|later//tabs|later";
    QTest::newRow("missing save directory is created")
        << QStringList{"a|Ed"} << "dir=stick/backups" << saving("Ed", 1, "/stick/backups") << "Ed/Ed/";
    QTest::newRow("save directory that cannot be created: Temp")
        << QStringList{"a|Ed"} << "dir=/etc/hostname/backups" << ed << "Ed/Ed (/etc/hostname/backups)/";
    QTest::newRow("unopenable close_file.db does not stop the pass")
        << QStringList{"a|Ed"} << "unopenable" << ed << "unopened";
}

void TestShutdown::pass()
{
    QFETCH(QStringList, apps);
    QFETCH(QString, setup);
    QFETCH(QStringList, ops);
    QFETCH(QString, record);
    QMap<QString, QString> options;
    for (const QString &s : setup.split(' ', Qt::SkipEmptyParts))
        options.insert(s.section('=', 0, 0), s.section('=', 1));
    const QString dir = QDir(m_data->path()).absoluteFilePath(options.value("dir"));
    if (options.contains("dir"))
        QSettings(m_data->file("param.ini"), QSettings::IniFormat).setValue("dir", dir);
    for (int s = -2; options.contains("existing") && s < 30; ++s) {
        QVERIFY(QDir().mkpath(dir));
        QFile f(dir + "/backup1_" + QDateTime::currentDateTime().addSecs(s).toString("yyyyMMdd-hhmmss"));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    if (options.contains("unopenable"))
        QVERIFY(QDir().mkpath(CloseFile::path()));
    // An earlier pass's record, which the pass replaces.
    CloseFile::reset();
    CloseFile::addClosed("earlier");
    params.exte_save_budget = options.value("budget", "180").toInt();
    FakeDesktop desktop;
    desktop.knownFile = m_data->file("known");
    desktop.pressBlocksMs = options.value("block").toInt();
    for (const QString &app : apps)
        desktop.add(app.section('|', 1), app.section('|', 0, 0));
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    {
        OpenDocumentSaver saver(desktop);
        saver.closeApplications();
        if (options.contains("then")) {
            desktop.add(options.value("then").section('|', 1), options.value("then").section('|', 0, 0));
            saver.closeApplications();
        }
    }
    static const QRegularExpression name("/backup(\\d+)_\\d{8}-\\d{6}$");
    const QStringList done = desktop.ops.replaceInStrings(m_data->path(), "").replaceInStrings(name, "/backup\\1");
    if (!ops.isEmpty())
        QCOMPARE(done, ops);
    const CloseFile::Record r = CloseFile::read();
    QStringList saved = r.saved;
    for (int i = 0; i < saved.size(); ++i) {
        QVERIFY(desktop.saved.contains(r.savedFiles.value(i)));
        if (!r.savedUnavailableDirs.value(i).isEmpty())
            saved[i] += " (" + r.savedUnavailableDirs.at(i) + ")";
    }
    const QString shown = QStringList{r.closed.join('|'), saved.join('|'), r.outOfTime.join('|')}.join('/');
    QCOMPARE(r.opened ? shown : "unopened", record);
    const QDateTime time = QDateTime::fromString(r.time, "yyyy-MM-dd hh:mm:ss");
    QVERIFY(!r.opened || (time >= before && time <= QDateTime::currentDateTime()));
    // The operations show what was ended; without them, nothing is left running.
    QVERIFY(!ops.isEmpty() || desktop.running.isEmpty());
}

void TestShutdown::logindAnswers_data()
{
    QTest::addColumn<QString>("canPowerOff"); // its Python code, with the answer's signature first
    QTest::addColumn<QString>("powerOff");
    QTest::addColumn<int>("powerOffCalls");
    QTest::addColumn<QString>("reason"); // part of it; empty: accepted

    QTest::newRow("yes") << "s ret = 'yes'"
                         << "" << 1 << "";
    QTest::newRow("no") << "s ret = 'no'"
                        << "" << 0 << "CanPowerOff with \"no\"";
    QTest::newRow("challenge") << "s ret = 'challenge'"
                               << "" << 0 << "CanPowerOff with \"challenge\"";
    QTest::newRow("CanPowerOff fails") << "s " + refuse << "" << 0 << "CanPowerOff failed: refused by the test";
    QTest::newRow("CanPowerOff answers a bool") << "b ret = True"
                                                << "" << 0 << "CanPowerOff gave an answer of the wrong type";
    QTest::newRow("CanPowerOff answers too late") << "s import time; time.sleep(2); ret = 'yes'"
                                                  << "" << 0 << "CanPowerOff failed";
    QTest::newRow("PowerOff fails") << "s ret = 'yes'" << refuse << 1
                                    << "PowerOff failed: refused by the test (org.freedesktop.DBus.Error.AccessDenied)";
    QTest::newRow("no system bus") << ""
                                   << "" << 0 << "system bus cannot be reached";
}

void TestShutdown::logindAnswers()
{
    QFETCH(QString, canPowerOff);
    QFETCH(QString, powerOff);
    QFETCH(int, powerOffCalls);
    QFETCH(QString, reason);
    QVERIFY(m_mock.replaceMethod("CanPowerOff", "", canPowerOff.left(1), canPowerOff.mid(2)));
    QVERIFY(m_mock.replaceMethod("PowerOff", "b", "", powerOff));
    const QByteArray bus = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (canPowerOff.isEmpty())
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/voltiguard-test-guard");
    const PowerOffResult result = LogindPowerOff(1000).requestPowerOff();
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus);
    QCOMPARE(result.accepted, reason.isEmpty());
    QVERIFY2(reason.isEmpty() ? result.reason.isEmpty() : result.reason.contains(reason), qPrintable(result.reason));
    QCOMPARE(calls("CanPowerOff"), canPowerOff.isEmpty() ? 0 : 1);
    QCOMPARE(m_mock.calls("PowerOff").size(), powerOffCalls);
    for (const LogindMock::Call &c : m_mock.calls("PowerOff"))
        QCOMPARE(c.args, QVariantList{false});
}

// The answer is in log.db when the call returns (the session's SIGTERM can follow an
// accepted power-off at once), after what was queued before it. The pass runs
// before the request, once a run, and its record notes every answer.
void TestShutdown::answerIsLoggedAtOnce_data()
{
    QTest::addColumn<QString>("canPowerOff");
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("event");
    QTest::newRow("accepted") << "yes" << true << "Linux System Shutdown";
    QTest::newRow("refused") << "challenge" << true << "Shutdown Failed";
    QTest::newRow("saving off: no pass, the record left alone") << "no" << false << "Shutdown Failed";
}

void TestShutdown::answerIsLoggedAtOnce()
{
    QFETCH(QString, canPowerOff);
    QFETCH(bool, save);
    QFETCH(QString, event);
    QVERIFY(m_mock.replaceMethod("CanPowerOff", "", "s", "ret = '" + canPowerOff + "'"));
    CloseFile::reset();
    CloseFile::addClosed("earlier");
    FakeDesktop desktop;
    desktop.add("notes.txt", "c");
    OpenDocumentSaver saver(desktop);
    params.exte_save = save;
    queueEvents({LogEvent{timeText(), UtilityFail}});
    int powerOffsBeforePass = -1;
    ShutdownSequence sequence(std::make_unique<LogindPowerOff>(1000), [&] {
        powerOffsBeforePass = calls("PowerOff");
        saver.closeApplications();
    });
    for (bool runPass : {true, false}) {
        const ShutdownResult result = sequence.shutdownSystem(runPass);
        QCOMPARE(result.powerOff.accepted, canPowerOff == "yes");
        QVERIFY(takeEvents().isEmpty());
        const std::optional<QList<LogRow>> rows = LogDatabase(LogDatabase::viewConnection).newestRows(10);
        QVERIFY(rows && rows->size() == (runPass ? 2 : 3));
        QCOMPARE(rows->first().event, event);
        QCOMPARE(rows->last().event, "Utility Fail");
        const CloseFile::Record record = CloseFile::read();
        QCOMPARE(record.closed, QStringList{save ? "notes.txt" : "earlier"});
        QCOMPARE(record.powerOffAccepted, save ? std::optional(result.powerOff.accepted) : std::nullopt);
    }
    QCOMPARE(powerOffsBeforePass, save ? 0 : -1);
    QCOMPARE(desktop.ops.size(), save ? 2 : 0);
}

// The main window with its own timer stopped: the test ticks by hand. The polling
// thread runs against a silent port with a long time-out, so the agent is never
// lost while the test sets the status.
MainWindow *TestShutdown::makeWindow(const QVariantMap &settings)
{
    QVariantMap values = settings;
    values.insert("timeout", 120);
    m_data->writeParams(values);
    m_window = std::make_unique<MainWindow>();
    for (QTimer *timer : m_window->findChildren<QTimer *>()) {
        if (timer->interval() == 1000)
            timer->stop();
    }
    m_window->show();
    upsStatus.clearAlarms();
    upsStatus.agentAnswered();
    upsStatus.setAlarm(alarmIndex("1.3.6.1.2.1.33.1.6.3.6"), true, true);
    return m_window.get();
}

QLabel *TestShutdown::countdownLabel() const
{
    // The status bar's fields in the order they were added: clock, countdown, state.
    return m_window->statusBar()->findChildren<QLabel *>(Qt::FindDirectChildrenOnly).value(1);
}

void TestShutdown::mainWindowCountsDownAndPowersOffOnce()
{
    const QString marker = m_data->file("marker");
    const QString script = m_data->file("before shutdown.sh");
    QVERIFY(writeMarkerScript(script, marker));
    makeWindow({{"Utility_para", true}, {"Utility_time", 1}, {"exte_flag", true}, {"exte_param", script}});
    tick(1);
    QCOMPARE(countdownLabel()->text(), "Countdown of Shutdown:00:01:00");
    QCOMPARE(popups().size(), 1);
    auto *text = popups().first()->findChild<QLabel *>("textBrowser");
    QCOMPARE(text->text(), "Utility Fail\n\nShut down the operating system Countdown:00:01:00");
    tick(58);
    QCOMPARE(text->text(), "Utility Fail\n\nShut down the operating system Countdown:00:00:02");
    QCOMPARE(calls("PowerOff"), 0);
    tick(1);
    QCOMPARE(countdownLabel()->text(), "Countdown of Shutdown:00:00:00");
    QCOMPARE(calls("PowerOff"), 1);
    // Written, and shown among the recent events, on that very tick.
    QVERIFY(takeEvents().isEmpty());
    QCOMPARE(m_window->findChild<QTableView *>("tableView")->model()->index(0, 2).data(), "Linux System Shutdown");
    // The machine stayed on (it is a mock): no second request while the failure lasts.
    tick(70);
    QCOMPARE(countdownLabel()->text(), "Countdown of Shutdown:00:00:00");
    QCOMPARE(calls("PowerOff"), 1);
    QTRY_VERIFY(QFile::exists(marker));
    QTest::qWait(200);
    QFile m(marker);
    QVERIFY(m.open(QIODevice::ReadOnly));
    QCOMPARE(m.readAll(), "started\n");
}

void TestShutdown::mainWindowShowsARefusalAndAsksAgain()
{
    QVERIFY(m_mock.replaceMethod("CanPowerOff", "", "s", "ret = 'challenge'"));
    makeWindow({{"Utility_para", true}, {"Utility_time", 1}});
    tick(60);
    QCOMPARE(countdownLabel()->text(), "Shutdown refused");
    QCOMPARE(countdownLabel()->palette().color(QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(m_window->findChild<QTableView *>("tableView")->model()->index(0, 2).data(), "Shutdown Failed");
    tick(59);
    QCOMPARE(calls("CanPowerOff"), 1);
    QCOMPARE(countdownLabel()->text(), "Shutdown refused");
    tick(1);
    QCOMPARE(calls("CanPowerOff"), 2);
    QCOMPARE(calls("PowerOff"), 0);
}

void TestShutdown::everyPopupClosePathDismissesIt_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("Close button") << "tb_ignore";
    QTest::newRow("title-bar button") << "m_pButtonClose";
    QTest::newRow("close event") << "close";
    QTest::newRow("Escape") << "escape";
}

// Dismissed: gone, and back after AlarmBox_time ticks.
void TestShutdown::everyPopupClosePathDismissesIt()
{
    QFETCH(QString, path);
    makeWindow({{"Utility_para", true}, {"Utility_time", 5}, {"AlarmBox_time", 3}});
    tick(1);
    QCOMPARE(popups().size(), 1);
    QPointer<SmartHomeMsg> popup = popups().first();
    if (path == "close")
        popup->close();
    else if (path == "escape")
        QTest::keyClick(popup, Qt::Key_Escape);
    else
        QTest::mouseClick(popup->findChild<QToolButton *>(path), Qt::LeftButton);
    QVERIFY(popups().isEmpty() && !popup);
    tick(2);
    QVERIFY(popups().isEmpty());
    tick(1);
    QCOMPARE(popups().size(), 1);
}

void TestShutdown::popupDragsAndShowsTheCountdown()
{
    SmartHomeMsg panel("Alarm Prompt Dialog", QString());
    panel.setCountdownText("Utility Fail\nBattery Low\n", QTime(1, 2, 3));
    QCOMPARE(panel.findChild<QLabel *>("textBrowser")->text(),
             "Utility Fail\nBattery Low\n\nShut down the operating system Countdown:01:02:03");
    panel.show();
    QTRY_VERIFY(!panel.findChild<QPropertyAnimation *>());
    const QPoint start = panel.pos();
    const QPoint grip = panel.frameGeometry().topLeft() + QPoint(120, 80);
    sendMouse(&panel, QEvent::MouseMove, grip, Qt::NoButton);
    sendMouse(&panel, QEvent::MouseButtonPress, grip, Qt::LeftButton);
    sendMouse(&panel, QEvent::MouseMove, grip - QPoint(300, 200), Qt::LeftButton);
    sendMouse(&panel, QEvent::MouseButtonRelease, grip - QPoint(300, 200), Qt::NoButton);
    sendMouse(&panel, QEvent::MouseMove, grip, Qt::NoButton);
    QCOMPARE(panel.pos(), start - QPoint(300, 200));
}

void TestShutdown::report_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("shown"); // time | closed count | saved count | closed rows | saved rows
    QTest::newRow("missing database") << "missing"
                                      << " | 0 | 0 |  | ";
    QTest::newRow("empty database without tables") << "empty"
                                                   << " | 0 | 0 |  | ";
    QTest::newRow("older build's tables of two passes: the last time")
        << "older"
        << "2026-12-06 09:30:00 | 2 | 1 | A, it's mine | it's mine";
    QTest::newRow("power-off refused, paths and the time budget")
        << "refused"
        << "2026-12-06 21:00:05  (power-off refused) | 2 | 2 | notes, tabs: not saved (time budget) | notes (saved "
           "as /usb/backup1), tabs (saved as /data/Temp/backup2: /gone could not be created)";
    QTest::newRow("database that cannot be opened") << "unopenable"
                                                    << " |  |  |  | ";
}

void TestShutdown::report()
{
    QFETCH(QString, setup);
    QFETCH(QString, shown);
    QFile file(CloseFile::path());
    if (setup == "empty")
        QVERIFY(file.open(QIODevice::WriteOnly));
    if (setup == "unopenable")
        QVERIFY(QDir().mkpath(CloseFile::path()));
    if (setup == "older") {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "older");
        db.setDatabaseName(CloseFile::path());
        QVERIFY(db.open());
        for (const char *sql :
             {"create table closedfile(name varchar)", "create table savedfile(name varchar)",
              "create table time(time varchar)", "insert into time values ('2026-12-05 08:00:00')",
              "insert into time values ('2026-12-06 09:30:00')", "insert into closedfile values ('A')",
              "insert into closedfile values ('it''s mine')", "insert into savedfile values ('it''s mine')"})
            QVERIFY(QSqlQuery(db).exec(sql));
        db.close();
    }
    QSqlDatabase::removeDatabase("older");
    if (setup == "refused") {
        CloseFile::reset();
        CloseFile::setTime("2026-12-06 21:00:05");
        CloseFile::addClosed("notes");
        CloseFile::addSaved("notes", "/usb/backup1");
        CloseFile::addClosed("tabs");
        CloseFile::addSaved("tabs", "/data/Temp/backup2", "/gone");
        CloseFile::markLastClosedOutOfTime();
        CloseFile::setPowerOff("2026-12-06 21:00:05", false, "no");
    }
    CloseDialog dialog;
    QStringList fields{dialog.findChild<QLineEdit *>("timeLineEdit")->text(),
                       dialog.findChild<QLabel *>("numProgramLabel")->text(),
                       dialog.findChild<QLabel *>("numSavedfileLabel")->text()};
    for (const char *name : {"programTableWidget", "savedfileTableWidget"}) {
        auto *table = dialog.findChild<QTableWidget *>(name);
        QStringList rows;
        for (int i = 0; i < table->rowCount(); ++i)
            rows << table->item(i, 0)->text();
        fields << rows.join(", ");
    }
    QCOMPARE(fields.join(" | "), shown);
    // The connection is gone again, so the next pass can add it.
    QVERIFY(!QSqlDatabase::contains("param"));
}

QTEST_MAIN(TestShutdown)
#include "tst_shutdown.moc"
