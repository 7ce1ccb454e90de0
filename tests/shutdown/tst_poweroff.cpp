#include "config/params.h"
#include "eventlog/logstore.h"
#include "fakedesktop.h"
#include "logindmock.h"
#include "model/logevent.h"
#include "platform/poweroff.h"
#include "shutdown/closefile.h"
#include "shutdown/opendocumentsaver.h"
#include "shutdown/shutdownsequence.h"
#include "tempdatadir.h"

#include <QFile>
#include <QTest>

namespace {
QList<LogEvent> takeEvents()
{
    QWriteLocker lock(&pendingEventsLock);
    return std::exchange(pendingEvents, {});
}

// A fake desktop that notes, when the pass enumerates the windows, how many
// power-off requests logind has already seen.
class WatchingDesktop : public FakeDesktop
{
public:
    explicit WatchingDesktop(LogindMock &mock) : m_mock(mock) {}
    QList<WindowInfo> applicationWindows() override
    {
        if (powerOffsSeenByPass < 0)
            powerOffsSeenByPass = int(m_mock.calls(QStringLiteral("PowerOff")).size());
        return FakeDesktop::applicationWindows();
    }
    int powerOffsSeenByPass = -1;

private:
    LogindMock &m_mock;
};
} // namespace

class TestPowerOff : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void logindAnswers_data();
    void logindAnswers();
    void answerIsLoggedAtOnce_data();
    void answerIsLoggedAtOnce();
    void passRunsBeforeThePowerOffWhenSavingIsOn();
    void savingOffLeavesCloseFileAlone();

private:
    bool startMock(LogindMock &mock, const QString &canPowerOff = QStringLiteral("yes"));
};

void TestPowerOff::initTestCase()
{
    // Without a value here a missing mock would let the code reach the real system
    // bus; scripts/run-tests sets a guard path.
    QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS"),
             "DBUS_SYSTEM_BUS_ADDRESS is unset; refusing to run power-off tests");
    buildEventTexts();
}

void TestPowerOff::init()
{
    takeEvents();
    params = Params();
}

bool TestPowerOff::startMock(LogindMock &mock, const QString &canPowerOff)
{
    if (!mock.start(canPowerOff)) {
        qWarning("%s", qPrintable(mock.error()));
        return false;
    }
    return mock.ownsSystemBusVariable();
}

void TestPowerOff::logindAnswers_data()
{
    QTest::addColumn<QString>("canPowerOff"); // "<no bus>": no mock, an address where no bus is
    QTest::addColumn<QString>("replace");     // method replaced before the request, if any
    QTest::addColumn<QString>("outSig");
    QTest::addColumn<QString>("code"); // Python body; empty: fail with AccessDenied
    QTest::addColumn<int>("powerOffCalls");
    QTest::addColumn<QString>("reason"); // part of the reason given; empty: accepted

    QTest::newRow("yes") << "yes"
                         << ""
                         << ""
                         << "" << 1 << "";
    QTest::newRow("no") << "no"
                        << ""
                        << ""
                        << "" << 0 << "CanPowerOff with \"no\"";
    QTest::newRow("challenge") << "challenge"
                               << ""
                               << ""
                               << "" << 0 << "CanPowerOff with \"challenge\"";
    QTest::newRow("na") << "na"
                        << ""
                        << ""
                        << "" << 0 << "CanPowerOff with \"na\"";
    QTest::newRow("CanPowerOff fails") << "yes"
                                       << "CanPowerOff"
                                       << "s"
                                       << "" << 0 << "CanPowerOff failed: refused by the test";
    QTest::newRow("CanPowerOff answers a bool") << "yes"
                                                << "CanPowerOff"
                                                << "b"
                                                << "ret = True" << 0 << "CanPowerOff gave an answer of the wrong type";
    QTest::newRow("CanPowerOff answers too late")
        << "yes"
        << "CanPowerOff"
        << "s"
        << "import time; time.sleep(3); ret = 'yes'" << 0 << "CanPowerOff failed";
    QTest::newRow("PowerOff fails") << "yes"
                                    << "PowerOff"
                                    << ""
                                    << "" << 1
                                    << "PowerOff failed: refused by the test (org.freedesktop.DBus.Error.AccessDenied)";
    QTest::newRow("no system bus") << "<no bus>"
                                   << ""
                                   << ""
                                   << "" << 0 << "system bus cannot be reached";
}

void TestPowerOff::logindAnswers()
{
    QFETCH(QString, canPowerOff);
    QFETCH(QString, replace);
    QFETCH(QString, outSig);
    QFETCH(QString, code);
    QFETCH(int, powerOffCalls);
    QFETCH(QString, reason);

    LogindPowerOff powerOff(1000);
    if (canPowerOff == QLatin1String("<no bus>")) {
        // Set here, whatever the environment says: this row must never meet a real bus.
        const QByteArray saved = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/voltiguard-test-guard");
        const PowerOffResult result = powerOff.requestPowerOff();
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", saved);
        QVERIFY(!result.accepted);
        QVERIFY2(result.reason.contains(reason), qPrintable(result.reason));
        return;
    }

    LogindMock mock;
    QVERIFY(startMock(mock, canPowerOff));
    if (!replace.isEmpty()) {
        const QString inSig = replace == QLatin1String("PowerOff") ? QStringLiteral("b") : QString();
        QVERIFY2(code.isEmpty() ? mock.failMethod(replace, QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"))
                                : mock.replaceMethod(replace, inSig, outSig, code),
                 qPrintable(mock.error()));
    }

    QVERIFY(mock.ownsSystemBusVariable());
    const PowerOffResult result = powerOff.requestPowerOff();
    QCOMPARE(result.accepted, reason.isEmpty());
    QVERIFY2(reason.isEmpty() ? result.reason.isEmpty() : result.reason.contains(reason), qPrintable(result.reason));

    QCOMPARE(mock.calls(QStringLiteral("CanPowerOff")).size(), 1);
    const QList<LogindMock::Call> calls = mock.calls(QStringLiteral("PowerOff"));
    QCOMPARE(calls.size(), powerOffCalls);
    for (const LogindMock::Call &c : calls)
        QCOMPARE(c.args, QVariantList{false});
}

// The answer is in log.db when the call returns (the session's SIGTERM can follow
// an accepted power-off at once), after what was queued before it; the pass's
// record notes it, and a retry neither runs the pass again nor loses the record.
void TestPowerOff::answerIsLoggedAtOnce_data()
{
    QTest::addColumn<QString>("canPowerOff");
    QTest::addColumn<QString>("event");
    QTest::newRow("accepted") << "yes"
                              << "Linux System Shutdown";
    QTest::newRow("refused") << "challenge"
                             << "Shutdown Failed";
}

void TestPowerOff::answerIsLoggedAtOnce()
{
    QFETCH(QString, canPowerOff);
    QFETCH(QString, event);
    TempDataDir data;
    LogindMock mock;
    QVERIFY(startMock(mock, canPowerOff));
    auto desktop = std::make_unique<FakeDesktop>();
    FakeDesktop::Application app;
    app.title = QStringLiteral("notes.txt - Editor");
    app.behaviour = FakeDesktop::Behaviour::ClosesAtOnce;
    desktop->addApplication(app);
    OpenDocumentSaver saver(*desktop);
    params.exte_save = true;
    queueEvents({LogEvent{timeText(), UtilityFail}});
    ShutdownSequence sequence(std::make_unique<LogindPowerOff>(1000), [&] { saver.closeApplications(); });

    for (bool runPass : {true, false}) {
        const ShutdownResult result = sequence.shutdownSystem(runPass);
        QCOMPARE(result.powerOff.accepted, canPowerOff == QLatin1String("yes"));
        QVERIFY(takeEvents().isEmpty());
        const std::optional<QList<LogRow>> rows = LogDatabase(LogDatabase::viewConnection).newestRows(10);
        QVERIFY(rows && result.flushed && result.flushed->newest);
        QCOMPARE(rows->size(), runPass ? 2 : 3);
        QCOMPARE(rows->first().event, event);
        QCOMPARE(rows->last().event, QStringLiteral("Utility Fail"));

        const CloseFile::Record record = CloseFile::read();
        QCOMPARE(record.closed, QStringList{"notes.txt - Editor"});
        QCOMPARE(record.powerOffAccepted, std::optional<bool>(result.powerOff.accepted));
        QCOMPARE(record.powerOffReason, result.powerOff.reason);
    }
    QCOMPARE(desktop->operationTexts().size(), 2);
}

void TestPowerOff::passRunsBeforeThePowerOffWhenSavingIsOn()
{
    TempDataDir data;
    LogindMock mock;
    QVERIFY(startMock(mock));
    WatchingDesktop desktop(mock);
    FakeDesktop::Application app;
    app.title = QStringLiteral("notes.txt - Editor");
    app.behaviour = FakeDesktop::Behaviour::ClosesAtOnce;
    desktop.addApplication(app);
    OpenDocumentSaver saver(desktop);

    params.exte_save = true;
    ShutdownSequence sequence(std::make_unique<LogindPowerOff>(1000), [&] { saver.closeApplications(); });
    QVERIFY(sequence.shutdownSystem(true).powerOff.accepted);
    QCOMPARE(desktop.powerOffsSeenByPass, 0);
    QCOMPARE(mock.calls(QStringLiteral("PowerOff")).size(), 1);
    QCOMPARE(desktop.operationTexts(),
             (QStringList{"bringForward notes.txt - Editor", "requestClose notes.txt - Editor"}));
}

void TestPowerOff::savingOffLeavesCloseFileAlone()
{
    TempDataDir data;
    CloseFile::reset();
    CloseFile::setTime(QStringLiteral("2026-01-02 03:04:05"));
    CloseFile::addClosed(QStringLiteral("earlier"));
    QFile before(CloseFile::path());
    QVERIFY(before.open(QIODevice::ReadOnly));
    const QByteArray bytes = before.readAll();
    before.close();

    LogindMock mock;
    QVERIFY(startMock(mock, QStringLiteral("no")));
    bool passRan = false;
    params.exte_save = false;
    ShutdownSequence sequence(std::make_unique<LogindPowerOff>(1000), [&] { passRan = true; });
    QVERIFY(!sequence.shutdownSystem(true).powerOff.accepted);
    QVERIFY(!passRan);
    QFile after(CloseFile::path());
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), bytes);
}

QTEST_GUILESS_MAIN(TestPowerOff)
#include "tst_poweroff.moc"
