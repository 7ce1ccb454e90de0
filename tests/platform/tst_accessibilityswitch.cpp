// With "exte_save" on, the real binary switches the desktop's accessibility on as
// it starts, so that applications started afterwards expose their dialogs, and puts
// the user's setting back when it ends (here on SIGTERM, as at a logout).
#include "binaryrun.h"
#include "desktopsession.h"
#include "platform/desktopautomation.h"

#include <QtTest>

class TestAccessibilitySwitch : public QObject
{
    Q_OBJECT

private slots:
    void switchesOnWithSaving_data();
    void switchesOnWithSaving();
};

void TestAccessibilitySwitch::switchesOnWithSaving_data()
{
    QTest::addColumn<bool>("save");
    QTest::newRow("exte_save on") << true;
    QTest::newRow("exte_save off") << false;
}

void TestAccessibilitySwitch::switchesOnWithSaving()
{
    QFETCH(bool, save);
    DesktopSession session;
    QString error;
    QVERIFY2(session.start(&error, false), qPrintable(error));
    QCOMPARE(session.accessibilityEnabled(), std::optional<bool>(false));

    BinaryRun run;
    run.dataDir().writeParams({{QStringLiteral("exte_save"), save}});
    const QProcessEnvironment desktop = session.environment();
    for (const char *name : {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "QT_QPA_PLATFORM"})
        run.environment().insert(QString::fromLatin1(name), desktop.value(QString::fromLatin1(name)));
    QVERIFY(run.start());

    // The main window is up once its title is on the desktop; the switch comes
    // before it is shown.
    const std::unique_ptr<DesktopAutomation> automation = createDesktopAutomation();
    QVERIFY(DesktopSession::waitFor(
        [&] {
            const QList<WindowInfo> windows = automation->applicationWindows();
            return std::any_of(windows.begin(), windows.end(),
                               [](const WindowInfo &w) { return w.title == QLatin1String("Voltiguard"); });
        },
        15000));
    QCOMPARE(session.accessibilityEnabled(), std::optional<bool>(save));
    run.stop();
    QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(session.accessibilityEnabled(), std::optional<bool>(false));
}

QTEST_GUILESS_MAIN(TestAccessibilitySwitch)
#include "tst_accessibilityswitch.moc"
