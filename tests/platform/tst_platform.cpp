// The X11 and AT-SPI desktop against real toolkits on one private desktop: which
// windows count, what editors show when asked to close, how processes are ended,
// and the accessibility switch of the real binary.
#include "binaryrun.h"
#include "desktopsession.h"
#include "platform/accessibility.h"
#include "platform/desktopautomation.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {
const QString editor = TEST_EDITOR;

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
    void cleanupTestCase() { m_session.stop(); }
    void initTestCase()
    {
        QString error;
        // Off, so that the binary's switch can be seen; on for the editors started later.
        QVERIFY2(m_session.start(&error, false), qPrintable(error));
        m_desktop = createDesktopAutomation();
    }

    // With "exte_save" on, the binary switches accessibility on as it starts and puts
    // the user's setting back when it ends (here on SIGTERM, as at a logout).
    void accessibilitySwitchedOnWithSaving_data()
    {
        QTest::addColumn<bool>("save");
        QTest::newRow("exte_save off") << false;
        QTest::newRow("exte_save on") << true;
    }

    void accessibilitySwitchedOnWithSaving()
    {
        QFETCH(bool, save);
        QCOMPARE(m_session.accessibilityEnabled(), std::optional<bool>(false));
        BinaryRun run;
        run.dataDir().writeParams({{"exte_save", save}});
        for (const char *name : {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "QT_QPA_PLATFORM"})
            run.environment().insert(name, m_session.environment().value(name));
        QVERIFY(run.start());
        // The main window is up once its title is on the desktop; the switch comes first.
        QVERIFY(DesktopSession::waitFor(
            [&] {
                const QList<WindowInfo> windows = m_desktop->applicationWindows();
                return std::any_of(windows.begin(), windows.end(), [](auto &w) { return w.title == "Voltiguard"; });
            },
            15000));
        QCOMPARE(m_session.accessibilityEnabled(), std::optional<bool>(save));
        run.stop();
        QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_session.accessibilityEnabled(), std::optional<bool>(false));
        if (save)
            QVERIFY(m_accessibility.switchOn());
    }

    void applicationWindowFilter()
    {
        const qint64 tool = m_session.launch(editor, {"--tool", "--caption", "Tool palette"});
        const qint64 pid = m_session.launch(editor, {"--caption", "Filter editor", "--text", "x"});
        const WindowHandle handle = windowOf(pid);
        QVERIFY(handle != 0);
        // Frontmost: mapped last.
        const WindowInfo front = m_desktop->applicationWindows().constFirst();
        QCOMPARE(front.handle, handle);
        QCOMPARE(front.title + ' ' + front.className, "Filter editor vg_testeditor");
        QVERIFY(!m_desktop->hasApplicationWindow(tool));
        // The prompt is a window of the same process, but transient: never a candidate.
        m_desktop->requestClose(handle);
        const UiElement prompt = newDialog(pid);
        QVERIFY(m_desktop->isShowing(prompt));
        QCOMPARE(m_desktop->applicationWindows().constFirst().handle, handle);
        QCOMPARE(m_desktop->applicationWindows().size(), 1);
        // Discard: the window goes, the process ends by itself.
        QVERIFY(m_desktop->press(withLabel(m_desktop->buttons(prompt), "Discard")));
        QVERIFY(DesktopSession::waitFor([&] { return m_session.hasEnded(pid); }, 5000));
        QVERIFY(!m_desktop->isWindowVisible(handle) && !m_desktop->isShowing(prompt));
        QCOMPARE(m_desktop->windowProcessId(handle), 0);
        QVERIFY(!m_session.hasEnded(tool));
    }

    // The default button answers the prompt and the save dialog whatever the toolkit's
    // order; a name that exists brings up a new alert over the dialog, answered alone.
    void answersTheCloseRequest_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("replace");    // the name exists: "Replace" or "Yes" answers
        QTest::addColumn<QString>("confirm"); // "Return" in the name field, else the default button

        QTest::newRow("GTK 3 mousepad") << "mousepad" << false << "";
        QTest::newRow("Qt 5 featherpad") << "featherpad" << false << "";
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
        QFile old(name);
        QVERIFY(!replace || (old.open(QIODevice::WriteOnly) && old.write("old text") && old.flush()));

        QElapsedTimer timer;
        timer.start();
        const qint64 pid =
            m_session.launch(program, program == editor ? QStringList{"--text", "known text"} : QStringList{});
        QVERIFY(program == editor || m_session.typeIntoDocument(pid, "known text"));
        const WindowHandle window = windowOf(pid);
        m_desktop->bringForward(window);
        m_desktop->requestClose(window);
        const UiElement prompt = newDialog(pid);
        QCOMPARE(withLabel(m_desktop->buttons(prompt), QString()).label, "Save");
        QVERIFY(m_desktop->press(withLabel(m_desktop->buttons(prompt), QString())));
        const UiElement dialog = newDialog(pid, {prompt});
        QVERIFY(!m_desktop->isShowing(prompt));
        QCOMPARE(m_desktop->editFields(dialog).size(), 1);
        const UiElement field = m_desktop->editFields(dialog).constFirst();
        // Typing replaces a prefilled name ("Untitled" in FeatherPad).
        QVERIFY(m_desktop->typeText(field, name));
        QCOMPARE(m_desktop->text(field), name);
        QVERIFY(m_desktop->setText(field, name));
        QCOMPARE(m_desktop->text(field), name);
        const QList<UiElement> before = m_desktop->dialogWindows(pid);
        if (confirm == "Return")
            QVERIFY(m_desktop->pressReturn(field));
        else
            QVERIFY(m_desktop->press(withLabel(m_desktop->buttons(dialog), QString())));
        if (replace) {
            const UiElement alert = newDialog(pid, before);
            QVERIFY(m_desktop->isShowing(dialog));
            QVERIFY(m_desktop->press(withLabel(m_desktop->buttons(alert), confirm)));
        }
        QVERIFY(DesktopSession::waitFor([&] { return m_session.hasEnded(pid); }, 5000));
        qInfo("%s: saved and ended in %lld ms", QTest::currentDataTag(), timer.elapsed());
        QFile file(name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        // Editors may end the file with a line break of their own.
        QCOMPARE(file.readAll().trimmed(), "known text");
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

    void findsNoWindowsWithoutDisplay_data()
    {
        QTest::addColumn<QByteArray>("display");
        QTest::newRow("no DISPLAY (a pure Wayland session)") << QByteArray();
        QTest::newRow("a display that does not answer") << QByteArray(":4711");
    }

    void findsNoWindowsWithoutDisplay()
    {
        QFETCH(QByteArray, display);
        const qint64 pid = m_session.launch(editor);
        QVERIFY(windowOf(pid) != 0);
        const QByteArray real = qgetenv("DISPLAY");
        qputenv("DISPLAY", display);
        const std::unique_ptr<DesktopAutomation> desktop = createDesktopAutomation();
        qputenv("DISPLAY", real);
        QVERIFY(desktop && desktop->applicationWindows().isEmpty());
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
            [&] {
                const QList<UiElement> list = m_desktop->dialogWindows(pid);
                found = list.isEmpty() || old.contains(list.first()) ? UiElement() : list.first();
                return !found.isNull();
            },
            5000);
        return found;
    }

    DesktopSession m_session;
    std::unique_ptr<DesktopAutomation> m_desktop;
    AccessibilitySwitch m_accessibility;
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
