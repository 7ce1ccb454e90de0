#include "config/params.h"
#include "fakedesktop.h"
#include "logindmock.h"
#include "model/logevent.h"
#include "platform/poweroff.h"
#include "shutdown/closefile.h"
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
    void unreachableBusFailsSilently();
    void everyRequestCallsPowerOffOnce();
    void passRunsBeforeThePowerOffWhenSavingIsOn();
    void savingOffLeavesCloseFileAlone();
    void refusedPowerOffQueuesNoEvent();

private:
    bool startMock(LogindMock &mock, const QString &canPowerOff = QStringLiteral("yes"));
};

void TestPowerOff::initTestCase()
{
    // Without a value here a missing mock would let the code reach the real system
    // bus; scripts/run-tests sets a guard path.
    QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS"),
             "DBUS_SYSTEM_BUS_ADDRESS is unset; refusing to run power-off tests");
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
    QTest::addColumn<QString>("canPowerOff");
    QTest::addColumn<QString>("replace"); // method replaced before the request, if any
    QTest::addColumn<QString>("outSig");
    QTest::addColumn<QString>("code"); // Python body; empty: fail with AccessDenied
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("powerOffCalls");

    QTest::newRow("yes") << "yes"
                         << ""
                         << ""
                         << "" << true << 1;
    QTest::newRow("no") << "no"
                        << ""
                        << ""
                        << "" << false << 0;
    QTest::newRow("challenge") << "challenge"
                               << ""
                               << ""
                               << "" << false << 0;
    QTest::newRow("na") << "na"
                        << ""
                        << ""
                        << "" << false << 0;
    QTest::newRow("CanPowerOff fails") << "yes"
                                       << "CanPowerOff"
                                       << "s"
                                       << "" << false << 0;
    QTest::newRow("CanPowerOff answers a bool") << "yes"
                                                << "CanPowerOff"
                                                << "b"
                                                << "ret = True" << false << 0;
    QTest::newRow("CanPowerOff answers too late") << "yes"
                                                  << "CanPowerOff"
                                                  << "s"
                                                  << "import time; time.sleep(3); ret = 'yes'" << false << 0;
    QTest::newRow("PowerOff fails") << "yes"
                                    << "PowerOff"
                                    << ""
                                    << "" << false << 1;
}

void TestPowerOff::logindAnswers()
{
    QFETCH(QString, canPowerOff);
    QFETCH(QString, replace);
    QFETCH(QString, outSig);
    QFETCH(QString, code);
    QFETCH(bool, accepted);
    QFETCH(int, powerOffCalls);

    LogindMock mock;
    QVERIFY(startMock(mock, canPowerOff));
    if (!replace.isEmpty()) {
        const QString inSig = replace == QLatin1String("PowerOff") ? QStringLiteral("b") : QString();
        QVERIFY2(code.isEmpty() ? mock.failMethod(replace, QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"))
                                : mock.replaceMethod(replace, inSig, outSig, code),
                 qPrintable(mock.error()));
    }

    LogindPowerOff powerOff(1000);
    QVERIFY(mock.ownsSystemBusVariable());
    QCOMPARE(powerOff.requestPowerOff(), accepted);

    QCOMPARE(mock.calls(QStringLiteral("CanPowerOff")).size(), 1);
    const QList<LogindMock::Call> calls = mock.calls(QStringLiteral("PowerOff"));
    QCOMPARE(calls.size(), powerOffCalls);
    for (const LogindMock::Call &c : calls)
        QCOMPARE(c.args, QVariantList{false});
}

void TestPowerOff::unreachableBusFailsSilently()
{
    const QByteArray saved = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/voltiguard-test-guard");
    LogindPowerOff powerOff(1000);
    const bool accepted = powerOff.requestPowerOff();
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", saved);
    QVERIFY(!accepted);
}

void TestPowerOff::everyRequestCallsPowerOffOnce()
{
    TempDataDir data;
    LogindMock mock;
    QVERIFY(startMock(mock));
    ShutdownSequence sequence(std::make_unique<LogindPowerOff>(1000), std::make_unique<FakeDesktop>());
    QVERIFY(sequence.shutdownSystem());
    QCOMPARE(mock.calls(QStringLiteral("PowerOff")).size(), 1);
    QVERIFY(sequence.shutdownSystem());
    QCOMPARE(mock.calls(QStringLiteral("PowerOff")).size(), 2);

    const QList<LogEvent> events = takeEvents();
    QCOMPARE(events.size(), 2);
    for (const LogEvent &e : events) {
        QCOMPARE(e.id, int(LinuxSystemShutdown));
        QVERIFY(QDateTime::fromString(e.time, QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid());
    }
}

void TestPowerOff::passRunsBeforeThePowerOffWhenSavingIsOn()
{
    TempDataDir data;
    LogindMock mock;
    QVERIFY(startMock(mock));
    auto desktop = std::make_unique<WatchingDesktop>(mock);
    WatchingDesktop *fake = desktop.get();
    FakeDesktop::Application app;
    app.title = QStringLiteral("notes.txt - Editor");
    app.behaviour = FakeDesktop::Behaviour::ClosesAtOnce;
    fake->addApplication(app);

    params.exte_save = true;
    ShutdownSequence sequence(std::make_unique<LogindPowerOff>(1000), std::move(desktop));
    QVERIFY(sequence.shutdownSystem());
    QCOMPARE(fake->powerOffsSeenByPass, 0);
    QCOMPARE(mock.calls(QStringLiteral("PowerOff")).size(), 1);
    QCOMPARE(fake->operationTexts(),
             (QStringList{"bringForward notes.txt - Editor", "requestClose notes.txt - Editor"}));
    const CloseFile::Record record = CloseFile::read();
    QVERIFY(!record.time.isEmpty());
    QCOMPARE(record.closed, QStringList{"notes.txt - Editor"});
    QCOMPARE(takeEvents().size(), 1);
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
    QVERIFY(startMock(mock));
    auto desktop = std::make_unique<FakeDesktop>();
    FakeDesktop *fake = desktop.get();
    FakeDesktop::Application app;
    app.title = QStringLiteral("untouched");
    fake->addApplication(app);
    params.exte_save = false;
    ShutdownSequence sequence(std::make_unique<LogindPowerOff>(1000), std::move(desktop));
    QVERIFY(sequence.shutdownSystem());
    QVERIFY(fake->operations().isEmpty());
    QFile after(CloseFile::path());
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), bytes);
}

void TestPowerOff::refusedPowerOffQueuesNoEvent()
{
    TempDataDir data;
    LogindMock mock;
    QVERIFY(startMock(mock, QStringLiteral("challenge")));
    params.exte_save = true;
    ShutdownSequence sequence(std::make_unique<LogindPowerOff>(1000), std::make_unique<FakeDesktop>());
    QVERIFY(!sequence.shutdownSystem());
    QVERIFY(takeEvents().isEmpty());
    QVERIFY(mock.calls(QStringLiteral("PowerOff")).isEmpty());
    // The pass ran all the same.
    QVERIFY(!CloseFile::read().time.isEmpty());
}

QTEST_GUILESS_MAIN(TestPowerOff)
#include "tst_poweroff.moc"
