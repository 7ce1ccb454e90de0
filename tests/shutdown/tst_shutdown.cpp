#include "app/countdown.h"
#include "app/mainwindow.h"
#include "fakedesktop.h"
#include "logindmock.h"
#include "shutdown/closedialog.h"
#include "shutdown/closefile.h"
#include "shutdown/opendocumentsaver.h"
#include "shutdown/shutdownsequence.h"
#include "shutdown/smarthomemsg.h"
#include "tempdatadir.h"

#include <QtSql>
#include <QtTest>
#include <QtWidgets>

namespace {
// One row a line: its tag, then columns separated by " | ", "-" for an empty one; an indented line continues.
void addRows(const char *table)
{
    QTest::addColumn<QStringList>("row");
    const QString text = QString::fromUtf8(table).replace(QRegularExpression("\n +"), " ");
    for (const QString &line : text.split('\n', Qt::SkipEmptyParts)) {
        QStringList columns = line.split(" | ").replaceInStrings(QRegularExpression("^-$"), "");
        QTest::newRow(qPrintable(columns.takeFirst())) << columns;
    }
}

template <size_t N> std::array<QString, N> columns()
{
    std::array<QString, N> row;
    std::copy_n(static_cast<QStringList *>(QTest::qData("row", qMetaTypeId<QStringList>()))->cbegin(), N, row.begin());
    return row;
}

// U utility failure, B battery low, P UPS failure, u unconfirmed utility failure, L agent lost, ? UPS link unknown.
UpsStatusSnapshot statusFrom(const QString &flags)
{
    UpsStatusSnapshot s;
    s.agentLink = flags.contains('L') ? LinkLost : LinkGood;
    s.upsLink = flags.contains('L') ? LinkLost : flags.contains('?') ? LinkUnknown : LinkGood;
    s.utilityFail = flags.contains('U') || flags.contains('u');
    s.unconfirmed = flags.contains('u') ? 1 << 1 : 0;
    s.batteryLow = flags.contains('B');
    s.upsFail = flags.contains('P');
    return s;
}

QList<LogEvent> takeEvents()
{
    QWriteLocker lock(&pendingEventsLock);
    return std::exchange(pendingEvents, {});
}

QList<SmartHomeMsg *> popups()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QList<SmartHomeMsg *> found;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *popup = qobject_cast<SmartHomeMsg *>(w))
            found << popup;
    return found;
}
} // namespace

class TestShutdown : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        QVERIFY2(m_mock.start(), qPrintable(m_mock.error()));
        buildEventTexts();
    }

    void init()
    {
        m_window.reset();
        popups();
        m_data = std::make_unique<TempDataDir>();
        params = Params();
        takeEvents();
        QVERIFY(m_mock.ownsSystemBusVariable() && m_mock.clearCalls());
    }

    // Script: "UB*120" 120 ticks of that status (- none), "x" popup closed, "K=V" a setting, "refuse"/"accept"
    // the power-off answers. Labels "tick:text". Events before tick N: "N!" request with the pass, "N?" without,
    // "Ne" external program, "N+" popup created, "N-" removed, "Nx" dismissed.
    void countdown_data()
    {
        addRows(R"(
one minute, one request, rests at zero, exte_flag off | Utility_para=1 Utility_time=1 exte_time=30 U*90
  | 0:00:01:00 1:00:00:59 58:00:00:02 59:00:00:00 89:00:00:00 | 0+ 59!
utility 10 min with battery 2 follows the battery | Utility_para=1 Utility_time=10 Bat_para=1 Bat_time=2 UB*130
  | 0:00:02:00 60:00:01:00 119:00:00:00 129:00:00:00 | 0+ 119!
both conditions request at their own delays | Utility_para=1 Utility_time=3 Bat_para=1 Bat_time=2 UB*200 | 150:00:00:00
  | 0+ 119! 179?
clearing with 5 s left, back from the full delay | Utility_para=1 Utility_time=1 U*56 -*1 U*61
  | 55:00:00:05 56:NO 57:00:01:00 116:00:00:00 | 0+ 56- 57+ 116!
agent lost resets the count | Utility_para=1 Utility_time=1 U*30 UL*2 U*60
  | 29:00:00:31 30:NO 31:NO 32:00:01:00 91:00:00:00 | 0+ 30- 32+ 91!
UPS link unknown stops it | Utility_para=1 Utility_time=1 U*10 U?*1 U*3 | 9:00:00:51 10:NO 11:00:01:00 | 0+ 10- 11+
zero delay requests once a run | UPS_para=1 UPS_time=0 P*5 -*2 P*3 | 0:NO 4:NO 9:NO | 0! 7!
zero delay beside a counting condition | UPS_para=1 UPS_time=0 Utility_para=1 Utility_time=1 UP*3 U*1
  | 0:00:01:00 3:00:00:57 | 0! 0+
unconfirmed condition counts, requests after a poll | Utility_para=1 Utility_time=1 u*65 U*2
  | 0:00:01:00 60:00:00:00 65:00:00:00 | 0+ 65!
unconfirmed with zero delay requests nothing | Utility_para=1 Utility_time=0 u*30 U*1 | 0:NO | 30!
two zero delays, one request | UPS_para=1 UPS_time=0 Bat_para=1 Bat_time=0 BP*2 | 1:NO | 0!
external program once at 60 s left, not in a later run | Utility_para=1 Utility_time=10 exte_flag=1 exte_time=1
  U*600 -*5 U*600 | 539:00:01:01 540:00:01:00 | 0+ 540e 599! 600- 605+ 1204!
external program with exte_time 10 starts at once | Utility_para=1 Utility_time=10 exte_flag=1 exte_time=10 U*5 | -
  | 0e 0+
closed popup back after AlarmBox_time | Utility_para=1 Utility_time=2 AlarmBox_time=3 U*2 x U*5 -*1 U*4 | -
  | 0+ 2x 4+ 7- 10+
no popup back once requested | Utility_para=1 Utility_time=1 AlarmBox_time=65 U*2 x U*80 | 70:00:00:00 | 0+ 2x 59!
AlarmBox_time 0 never brings it back | Utility_para=1 Utility_time=1 AlarmBox_time=0 U*2 x U*70 -*1 U*30 | - | 0+ 2x 59!
Alarm_para off shows no popup | Utility_para=1 Utility_time=1 Alarm_para=0 U*61 | 0:00:01:00 | 59!
Alarm_para switched off removes it | Utility_para=1 Utility_time=1 U*3 Alarm_para=0 U*1 | 3:00:00:57 | 0+ 3-
all switches off: hidden | UBP*10 -*2 UBPL*2 | 0:hidden 9:hidden 13:hidden | -
switched on but not failing reads NO | Bat_para=1 Bat_time=1 UP*70 | 0:NO 69:NO | -
delay shortened below the count: next tick | Utility_para=1 Utility_time=62 U*100 Utility_time=1 U*3
  | 0:01:02:00 99:01:00:21 100:00:00:00 | 0+ 100!
delay lengthened counts on | Utility_para=1 Utility_time=1 U*30 Utility_time=2 U*100 | 30:00:01:30 | 0+ 119!
refused: again every 60 s, one pass a run | Utility_para=1 Utility_time=1 refuse U*200 -*1 U*61
  | 58:00:00:02 59:refused 150:refused 200:NO 201:00:01:00 260:refused | 0+ 59! 119? 179? 200- 201+ 260!
refused, then lengthened: asked at the new delay | Utility_para=1 Utility_time=1 refuse U*70 Utility_time=3 U*120
  | 69:refused 70:00:01:50 179:refused | 0+ 59! 179?
zero delay refused: one pass, again every 60 s | UPS_para=1 UPS_time=0 refuse P*130 | 0:refused 59:refused 129:refused
  | 0! 60? 120?
accepted after a refusal: not asked again | UPS_para=1 UPS_time=0 refuse P*30 accept P*100 | 29:refused 60:NO | 0! 60?
)");
    }

    void countdown()
    {
        const auto [script, labels, events] = columns<3>();
        Params p;
        Countdown countdown;
        QStringList shown, happened;
        bool accepting = true;
        for (const QString &step : script.split(' ')) {
            if (step == "refuse" || step == "accept") {
                accepting = step == "accept";
            } else if (step == "x") {
                if (countdown.popupShown())
                    happened << QString::number(shown.size()) + 'x';
                countdown.popupDismissed();
            } else if (step.contains('=')) {
                QSettings(m_data->file("param.ini"), QSettings::IniFormat)
                    .setValue(step.section('=', 0, 0), step.section('=', 1));
                readParamFile(m_data->file("param.ini"), p);
            }
            for (int i = 0, n = step.contains('*') ? step.section('*', 1).toInt() : 0; i < n; ++i) {
                const QString at = QString::number(shown.size());
                const bool popupShown = countdown.popupShown();
                CountdownTick tick = countdown.evaluateConditions(statusFrom(step.section('*', 0, 0)), p);
                if (tick.requestShutdown) {
                    happened << at + (tick.runPass ? '!' : '?');
                    countdown.powerOffAnswered(accepting, tick);
                }
                if (tick.startExternalProgram)
                    happened << at + 'e';
                if (tick.popup == PopupAction::Create || (tick.popup == PopupAction::Close && popupShown))
                    happened << at + (tick.popup == PopupAction::Create ? '+' : '-');
                shown << tick.labelText();
            }
        }
        const QHash<QString, QString> shorthand{
            {"NO", "Countdown of Shotdown:NO"}, {"hidden", ""}, {"refused", "Shutdown refused"}};
        for (const QString &expected : labels.split(' ', Qt::SkipEmptyParts)) {
            const QString label = expected.section(':', 1);
            QCOMPARE(shown.value(expected.section(':', 0, 0).toInt()),
                     shorthand.value(label, "Countdown of Shutdown:" + label));
        }
        QCOMPARE(happened.join(' '), events);
    }

    // Seeded random runs against the rules stated directly: a request when a condition with delay d has been
    // active for max(d * 60, 1) ticks; the display shows the smallest d * 60 - run + 1 of those counting.
    void randomSequencesRequestOnlyWhenTheRulesSay()
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
            Countdown countdown;
            int run[3] = {0, 0, 0};
            UpsStatusSnapshot status;
            for (int t = 0, hold = 0; t < 5000; ++t, --hold) {
                if (hold <= 0) {
                    status =
                        statusFrom(QString("UBP").at(rng.bounded(3)) + "UBP"[rng.bounded(3)] + "L?---"[rng.bounded(5)]);
                    hold = rng.bounded(8) == 0 ? int(rng.bounded(60, 400)) : int(rng.bounded(1, 20));
                }
                const bool alarms[3] = {status.utilityFail, status.batteryLow, status.upsFail};
                bool request = false, counting = false;
                int secs = noCountdown;
                for (int c = 0; c < 3; ++c) {
                    const bool active = *switches[c] && alarms[c] && status.upsLink == LinkGood;
                    run[c] = active ? run[c] + 1 : 0;
                    const int delay = *delays[c] * 60;
                    request |= active && run[c] == std::max(delay, 1);
                    counting |= active && delay > 0;
                    if (active && delay > 0)
                        secs = std::min(secs, run[c] >= delay ? 0 : delay - run[c] + 1);
                }
                CountdownTick tick = countdown.evaluateConditions(status, p);
                const auto display = !p.Utility_para && !p.Bat_para && !p.UPS_para ? CountdownDisplay::Hidden
                                     : counting                                    ? CountdownDisplay::Counting
                                                                                   : CountdownDisplay::Idle;
                QVERIFY2(tick.requestShutdown == request && tick.display == display &&
                             (!counting || tick.countdownSecs == secs),
                         qPrintable(QString("seed %1 tick %2").arg(seed).arg(t)));
                if (tick.requestShutdown)
                    countdown.powerOffAnswered(true, tick);
                requests += tick.requestShutdown;
            }
        }
        // The runs must reach the delays, or the test proves little.
        QVERIFY(requests > 40);
    }

    // Apps "letters title" (FakeDesktop) joined by " + ", the last frontmost. Setup: "dir=D" save directory,
    // "existing" every name the pass may choose taken, "budget=S", "block=MS" per press, "unopenable"
    // close_file.db, "then=T" a window for a second pass. Ops as FakeDesktop records them. Record: closed/saved/late.
    void pass_data()
    {
        addRows(R"(
GTK lists Cancel first: the default | ag Ed | - | Ed: close Save type Save >Temp/backup1 | Ed/Ed/
Qt lists navigation buttons first: the default | aq Ed | - | Ed: close Save type Save >Temp/backup1 | Ed/Ed/
no default button: the label | an Ed | - | Ed: close Save type Save >Temp/backup1 | Ed/Ed/
no buttons: Return | ar Ed | - | Ed: close Return type Return >Temp/backup1 | Ed/Ed/
ignores the close request | i Ed | - | Ed: close close close end | Ed//
keeps running hidden | h Ed | - | Ed: close end | Ed//
dialog without an edit field | b Ed | - | Ed: close Save Open Open Open end | Ed//
overwrite question answered | ax Ed | dir=docs existing | Ed: close Save type Save Replace >docs/backup1 | Ed/Ed/
backup index across windows and passes, the second pass records its own | aq Second + s Silent + a First
  | then=Later | First: close Save type Save >Temp/backup1 Silent: close Save >known
  Second: close Save type Save >Temp/backup2 Later: close Save type Save >Temp/backup3 | Later/Later/
rows of a pass in order | c C + a B + s A | - | A: close Save >known B: close Save type Save >Temp/backup1 C: close
  | A|B|C/B/
skip list and own windows left alone | c mainwindow - Voltiguard - Qt Creator + c closedialog - Voltiguard - Qt Creator
  + c send - Microsoft Visual Studio + c Voltiguard + co Event Log + c voltiguard | - | voltiguard: close | voltiguard//
title with quotes | a it's "done"'); drop table time; -- ünïcødé | - | -
  | it's "done"'); drop table time; -- ünïcødé/it's "done"'); drop table time; -- ünïcødé/
process with another window is not ended | h one.txt + ap two.txt | -
  | two.txt: close Save type Save >Temp/backup1 one.txt: close end | two.txt|one.txt/two.txt/
two documents | a later + a2 tabs | - | - | tabs|later/tabs|tabs|later/
two documents, a close request each | a later + a2m tabs | - | - | tabs|later/tabs|tabs|later/
twelve documents | a later + a12 tabs | - | - | tabs|later/tabs|tabs|tabs|tabs|tabs|tabs|tabs|tabs|tabs|tabs|tabs|tabs|later/
past the save budget | a later + a12 tabs | budget=20 | - | tabs|later/tabs|tabs|tabs/tabs|later
a saver run past the budget is stopped | a later + a2 tabs | budget=6 block=2000 | - | tabs|later//tabs|later
missing save directory is created | a Ed | dir=stick/backups | Ed: close Save type Save >stick/backups/backup1 | Ed/Ed/
save directory that cannot be created: Temp | a Ed | dir=/etc/hostname/backups
  | Ed: close Save type Save >Temp/backup1 | Ed/Ed (/etc/hostname/backups)/
unopenable close_file.db does not stop the pass | a Ed | unopenable | Ed: close Save type Save >Temp/backup1 | -
)");
    }

    void pass()
    {
        const auto [apps, setup, ops, record] = columns<4>();
        QMap<QString, QString> options;
        for (const QString &s : setup.split(' ', Qt::SkipEmptyParts))
            options.insert(s.section('=', 0, 0), s.section('=', 1));
        const QString dir = QDir(m_data->path()).absoluteFilePath(options.value("dir"));
        if (options.contains("dir"))
            QSettings(m_data->file("param.ini"), QSettings::IniFormat).setValue("dir", dir);
        for (int s = -2; options.contains("existing") && s < 30; ++s)
            QVERIFY(
                QDir().mkpath(dir) &&
                writeFile(dir + "/backup1_" + QDateTime::currentDateTime().addSecs(s).toString("yyyyMMdd-hhmmss"), {}));
        if (options.contains("unopenable"))
            QVERIFY(QDir().mkpath(CloseFile::path()));
        CloseFile::reset();
        CloseFile::addClosed("earlier");
        params.exte_save_budget = options.value("budget", "180").toInt();
        FakeDesktop desktop;
        desktop.knownFile = m_data->file("known");
        desktop.pressBlocksMs = options.value("block").toInt();
        for (const QString &app : apps.split(" + "))
            desktop.add(app.section(' ', 1), app.section(' ', 0, 0));
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        {
            OpenDocumentSaver saver(desktop);
            saver.closeApplications();
            if (options.contains("then")) {
                desktop.add(options.value("then"), "a");
                saver.closeApplications();
            }
        }
        static const QRegularExpression stamp("_\\d{8}-\\d{6}$");
        const QString done =
            desktop.ops.replaceInStrings(m_data->path() + '/', "").replaceInStrings(stamp, "").join(' ');
        QVERIFY2(ops.isEmpty() || done == ops, qPrintable(done));
        const CloseFile::Record r = CloseFile::read();
        QStringList saved = r.saved;
        for (int i = 0; i < saved.size(); ++i) {
            QVERIFY(desktop.saved.contains(r.savedFiles.value(i)));
            if (!r.savedUnavailableDirs.value(i).isEmpty())
                saved[i] += " (" + r.savedUnavailableDirs.at(i) + ")";
        }
        const QString shown = QStringList{r.closed.join('|'), saved.join('|'), r.outOfTime.join('|')}.join('/');
        QCOMPARE(r.opened ? shown : QString(), record);
        const QDateTime time = QDateTime::fromString(r.time, "yyyy-MM-dd hh:mm:ss");
        QVERIFY(!r.opened || (time >= before && time <= QDateTime::currentDateTime()));
        // The operations show what was ended; without them, nothing may be left running.
        QVERIFY(!ops.isEmpty() || desktop.running.isEmpty());
    }

    // CanPowerOff's signature and code, PowerOff's code, PowerOff calls a request, the reason (empty: accepted).
    // The answer is in log.db when the call returns, as SIGTERM can follow at once; the pass runs first, once.
    void powerOff_data()
    {
        addRows(R"(
yes | s ret = 'yes' | - | 1 | -
no, saving off | s ret = 'no' | - | 0 | CanPowerOff with "no"
challenge | s ret = 'challenge' | - | 0 | CanPowerOff with "challenge"
CanPowerOff fails | s raise dbus.exceptions.DBusException('refused') | - | 0 | CanPowerOff failed: refused
CanPowerOff answers a bool | b ret = True | - | 0 | CanPowerOff gave an answer of the wrong type
CanPowerOff answers too late | s import time; time.sleep(1.2); ret = 'yes' | - | 0 | CanPowerOff failed
PowerOff fails | s ret = 'yes' | raise dbus.exceptions.DBusException('refused',
  name='org.freedesktop.DBus.Error.AccessDenied') | 1 | PowerOff failed: refused (org.freedesktop.DBus.Error.AccessDenied)
no system bus | - | - | 0 | system bus cannot be reached
)");
    }

    void powerOff()
    {
        const auto [canPowerOff, powerOff, powerOffCalls, reason] = columns<4>();
        QVERIFY(m_mock.replaceMethod("CanPowerOff", "", canPowerOff.left(1), canPowerOff.mid(2)));
        QVERIFY(m_mock.replaceMethod("PowerOff", "b", "", powerOff));
        CloseFile::reset();
        CloseFile::addClosed("earlier");
        FakeDesktop desktop;
        desktop.add("notes.txt", "c");
        OpenDocumentSaver saver(desktop);
        params.exte_save = !QByteArray(QTest::currentDataTag()).contains("saving off");
        queueEvents({LogEvent{timeText(), UtilityFail}});
        int powerOffsBeforePass = -1;
        ShutdownSequence sequence(std::make_unique<LogindPowerOff>(1000), [&] {
            powerOffsBeforePass = calls("PowerOff");
            saver.closeApplications();
        });
        const QByteArray bus = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
        for (bool runPass : {true, false}) {
            if (canPowerOff.isEmpty())
                qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/voltiguard-test-guard");
            const PowerOffResult result = sequence.shutdownSystem(runPass).powerOff;
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus);
            QCOMPARE(result.accepted, reason.isEmpty());
            QVERIFY2(result.reason.contains(reason) && result.reason.isEmpty() == reason.isEmpty(),
                     qPrintable(result.reason));
            QVERIFY(takeEvents().isEmpty());
            const std::optional<QList<LogRow>> rows = LogDatabase(LogDatabase::viewConnection).newestRows(10);
            QVERIFY(rows && rows->size() == (runPass ? 2 : 3));
            QCOMPARE(rows->first().event + ", " + rows->last().event,
                     (result.accepted ? "Linux System Shutdown" : "Shutdown Failed") + QString(", Utility Fail"));
            const CloseFile::Record record = CloseFile::read();
            QCOMPARE(record.closed, QStringList{params.exte_save ? "notes.txt" : "earlier"});
            QCOMPARE(record.powerOffAccepted, params.exte_save ? std::optional(result.accepted) : std::nullopt);
        }
        QCOMPARE(powerOffsBeforePass, params.exte_save ? 0 : -1);
        QCOMPARE(calls("CanPowerOff"), canPowerOff.isEmpty() ? 0 : 2);
        QCOMPARE(calls("PowerOff"), 2 * powerOffCalls.toInt());
    }

    void mainWindowRefused()
    {
        QVERIFY(m_mock.replaceMethod("CanPowerOff", "", "s", "ret = 'challenge'"));
        makeWindow({{"Utility_para", true}, {"Utility_time", 1}});
        QLabel *status = m_window->statusBar()->findChildren<QLabel *>(Qt::FindDirectChildrenOnly).value(1);
        tick(60);
        QCOMPARE(status->text(), "Shutdown refused");
        QCOMPARE(status->palette().color(QPalette::WindowText), QColor(Qt::red));
        QCOMPARE(m_window->findChild<QTableView *>("tableView")->model()->index(0, 2).data(), "Shutdown Failed");
        tick(60);
        QCOMPARE(calls("CanPowerOff"), 2);
        QCOMPARE(calls("PowerOff"), 0);
    }

    void popupClosePaths_data()
    {
        addRows("Close button | tb_ignore\ntitle-bar button | m_pButtonClose\nclose event | close\nEscape | escape\n");
    }

    // Every path dismisses the popup: gone, and back after AlarmBox_time ticks.
    void popupClosePaths()
    {
        const auto [path] = columns<1>();
        makeWindow({{"Utility_para", true}, {"Utility_time", 5}, {"AlarmBox_time", 3}});
        tick(1);
        QPointer<SmartHomeMsg> popup = popups().value(0);
        QVERIFY(popup);
        if (path == "close")
            popup->close();
        else if (path == "escape")
            QTest::keyClick(popup, Qt::Key_Escape);
        else
            QTest::mouseClick(popup->findChild<QToolButton *>(path), Qt::LeftButton);
        QVERIFY(popups().isEmpty() && !popup);
        tick(3);
        QCOMPARE(popups().size(), 1);
    }

    // The last-shutdown report: time;closed count;saved count;closed rows;saved rows.
    void report_data()
    {
        addRows(R"(
missing database | ;0;0;;
empty database without tables | ;0;0;;
an older build's tables of two passes: the last time | 2026-12-06 09:30:00;2;1;A, it's mine;it's mine
power-off refused, paths and the time budget | 2026-12-06 21:00:05  (power-off refused);2;2;notes,
  tabs: not saved (time budget);notes (saved as /usb/backup1),
  tabs (saved as /data/Temp/backup2: /gone could not be created)
database that cannot be opened | ;;;;
)");
    }

    void report()
    {
        const auto [shown] = columns<1>();
        const QString setup = QTest::currentDataTag();
        QVERIFY(!setup.startsWith("empty") || writeFile(CloseFile::path(), {}));
        QVERIFY(!setup.contains("cannot be opened") || QDir().mkpath(CloseFile::path()));
        if (setup.contains("older")) {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "older");
            db.setDatabaseName(CloseFile::path());
            QVERIFY(db.open());
            for (const char *sql :
                 {"create table closedfile(name varchar)", "create table savedfile(name varchar)",
                  "create table time(time varchar)",
                  "insert into time values ('2026-12-05 08:00:00'),('2026-12-06 09:30:00')",
                  "insert into closedfile values ('A'),('it''s mine')", "insert into savedfile values ('it''s mine')"})
                QVERIFY(QSqlQuery(db).exec(sql));
            db.close();
        }
        QSqlDatabase::removeDatabase("older");
        if (setup.contains("refused")) {
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
            QStringList rows;
            for (auto *table = dialog.findChild<QTableWidget *>(name); rows.size() < table->rowCount();)
                rows << table->item(rows.size(), 0)->text();
            fields << rows.join(", ");
        }
        QCOMPARE(fields.join(';'), shown);
        // The connection is gone again, so the next pass can add it.
        QVERIFY(!QSqlDatabase::contains("param"));
    }

private:
    // The test ticks the main window; its poller waits long on a silent port, so the agent is never lost.
    void makeWindow(QVariantMap settings)
    {
        settings.insert("timeout", 120);
        m_data->writeParams(settings);
        m_window = std::make_unique<MainWindow>();
        for (QTimer *timer : m_window->findChildren<QTimer *>())
            if (timer->interval() == 1000)
                timer->stop();
        m_window->show();
        upsStatus.clearAlarms();
        upsStatus.agentAnswered();
        upsStatus.setAlarm(alarmIndex("1.3.6.1.2.1.33.1.6.3.6"), true, true);
    }

    void tick(int n)
    {
        while (n-- > 0)
            m_window->timerslots();
    }
    int calls(const char *method) { return int(m_mock.calls(method).size()); }

    LogindMock m_mock;
    QTemporaryDir m_config;
    std::unique_ptr<TempDataDir> m_data;
    std::unique_ptr<MainWindow> m_window;
};

QTEST_MAIN(TestShutdown)
#include "tst_shutdown.moc"
