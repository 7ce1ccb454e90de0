// The X11 and AT-SPI desktop against real toolkits and processes, and the real binary's accessibility switch.
#include "binaryrun.h"
#include "desktopsession.h"
#include "platform/accessibility.h"
#include "platform/desktopautomation.h"

#include <QtTest>

namespace {
const QString editor = TEST_EDITOR;

// An empty label: the default button.
UiElement withLabel(const QList<UiElement> &buttons, const QString &label)
{
    for (const UiElement &b : buttons) {
        if (label.isEmpty() ? b.isDefault : QString(b.label).remove('_').remove('&') == label)
            return b;
    }
    return {};
}
} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QString error;
        // Off, so that the binary's switch can be seen; on for the editors started later.
        QVERIFY2(m_session.start(&error, false), qPrintable(error));
        m_desktop = createDesktopAutomation();
    }

    // With saving on, the binary switches accessibility on as it starts and back off on SIGTERM, as at a logout.
    void accessibilitySwitchedOnWithSaving()
    {
        for (const bool save : {false, true}) {
            BinaryRun run;
            run.dataDir().writeParams({{"exte_save", save}});
            for (const char *name : {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "QT_QPA_PLATFORM"})
                run.environment().insert(name, m_session.environment().value(name));
            QVERIFY(run.start());
            // The switch comes before the main window.
            QVERIFY(DesktopSession::waitFor(
                [&] { return m_desktop->applicationWindows().value(0).title == "Voltiguard"; }, 15000));
            QCOMPARE(m_session.accessibilityEnabled(), std::optional<bool>(save));
            run.stop();
            QCOMPARE(m_session.accessibilityEnabled(), std::optional<bool>(false));
        }
        QVERIFY(m_accessibility.switchOn());
    }

    // A name that exists brings up a new alert over the dialog, answered alone.
    void answersTheCloseRequest_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("replace");    // the name exists: "Replace" or "Yes" answers
        QTest::addColumn<QString>("confirm"); // "Return" in the name field, else the default button

        QTest::newRow("Qt 6 editor, Return in the name field") << editor << false << "Return";
        QTest::newRow("GTK 3 mousepad, overwrite question") << "mousepad" << true << "Replace";
        QTest::newRow("Qt 6 editor, overwrite question") << editor << true << "Yes";
    }

    void answersTheCloseRequest()
    {
        QFETCH(QString, program);
        QFETCH(bool, replace);
        QFETCH(QString, confirm);
        QTemporaryDir dir;
        const QString name = dir.filePath("backup1_20261206-203401");
        QVERIFY(!replace || writeFile(name, "old text"));
        const qint64 pid =
            m_session.launch(program, program == editor ? QStringList{"--text", "known text"} : QStringList{});
        QVERIFY(program == editor || m_session.typeIntoDocument(pid, "known text"));
        const WindowHandle window = windowOf(pid);
        m_desktop->requestClose(window);
        const UiElement prompt = newDialog(pid);
        // The prompt is a window of the same process, but transient: never a candidate.
        QCOMPARE(windowOf(pid), window);
        QCOMPARE(m_desktop->applicationWindows().size(), 1);
        QVERIFY(m_desktop->press(withLabel(m_desktop->buttons(prompt), QString())));
        const UiElement dialog = newDialog(pid, {prompt});
        QVERIFY(!m_desktop->isShowing(prompt));
        const UiElement field = m_desktop->editFields(dialog).value(0);
        QVERIFY(m_desktop->typeText(field, name) && m_desktop->text(field) == name);
        QVERIFY(m_desktop->setText(field, name) && m_desktop->text(field) == name);
        const QList<UiElement> before = m_desktop->dialogWindows(pid);
        QVERIFY(confirm == "Return" ? m_desktop->pressReturn(field)
                                    : m_desktop->press(withLabel(m_desktop->buttons(dialog), QString())));
        if (replace) {
            const UiElement alert = newDialog(pid, before);
            QVERIFY(m_desktop->isShowing(dialog));
            QVERIFY(m_desktop->press(withLabel(m_desktop->buttons(alert), confirm)));
        }
        QVERIFY(DesktopSession::waitFor([&] { return m_session.hasEnded(pid); }, 5000));
        QVERIFY(!m_desktop->isWindowVisible(window) && m_desktop->windowProcessId(window) == 0);
        // Editors may end the file with a line break of their own.
        QCOMPARE(fileBytes(name).trimmed(), "known text");
    }

    void waitsAndEndsProcesses_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("minimumMs");
        QTest::newRow("ends at SIGTERM") << "exec sleep 60" << 0;
        QTest::newRow("ignores SIGTERM, killed after 2 s") << "trap '' TERM; exec sleep 60" << 1900;
    }

    void waitsAndEndsProcesses()
    {
        QFETCH(QString, script);
        QFETCH(int, minimumMs);
        const qint64 pid = m_session.launch("/bin/sh", {"-c", script});
        const std::unique_ptr<DesktopProcess> process = m_desktop->openProcess(pid);
        QVERIFY(process && process->pid() == pid);
        QCOMPARE(process->waitForExit(300), DesktopProcess::WaitResult::TimedOut);
        QElapsedTimer timer;
        timer.start();
        process->terminate();
        QVERIFY2(timer.elapsed() >= minimumMs && timer.elapsed() < 3500, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(process->waitForExit(0), DesktopProcess::WaitResult::Exited);
        QVERIFY(DesktopSession::waitFor([&] { return m_session.hasEnded(pid); }, 2000));
        // Never ourselves, never init.
        QVERIFY(!m_desktop->openProcess(QCoreApplication::applicationPid()) && !m_desktop->openProcess(1));
    }

    // No DISPLAY (a pure Wayland session) or one that does not answer: no windows, while one is open here.
    void findsNoWindowsWithoutDisplay()
    {
        QVERIFY(windowOf(m_session.launch(editor)) != 0);
        const QByteArray real = qgetenv("DISPLAY");
        for (const char *display : {"", ":4711"}) {
            qputenv("DISPLAY", display);
            const std::unique_ptr<DesktopAutomation> desktop = createDesktopAutomation();
            qputenv("DISPLAY", real);
            QVERIFY2(desktop && desktop->applicationWindows().isEmpty(), display);
        }
    }

private:
    WindowHandle windowOf(qint64 pid)
    {
        WindowHandle found = 0;
        DesktopSession::waitFor(
            [&] {
                for (const WindowInfo &w : m_desktop->applicationWindows())
                    found = m_desktop->windowProcessId(w.handle) == pid ? w.handle : found;
                return found != 0;
            },
            10000);
        return found;
    }

    UiElement newDialog(qint64 pid, const QList<UiElement> &old = {})
    {
        UiElement found;
        DesktopSession::waitFor(
            [&] { return !old.contains(found = m_desktop->dialogWindows(pid).value(0)) && !found.isNull(); }, 5000);
        return found;
    }

    DesktopSession m_session;
    std::unique_ptr<DesktopAutomation> m_desktop;
    AccessibilitySwitch m_accessibility;
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
