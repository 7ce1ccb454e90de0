// The X11 and AT-SPI desktop against real toolkits on a private desktop: which
// windows count as application windows, what an editor shows when asked to close,
// and how processes are waited for and ended.
#include "desktopsession.h"
#include "platform/desktopautomation.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QString editorPath()
{
    return QStringLiteral(TEST_EDITOR);
}

UiElement chooseDefault(const QList<UiElement> &buttons)
{
    for (const UiElement &b : buttons) {
        if (b.isDefault)
            return b;
    }
    return {};
}
} // namespace

class TestLinuxDesktop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void applicationWindowFilter();
    void answersTheCloseRequest_data();
    void answersTheCloseRequest();
    void showsTheOverwriteQuestion_data();
    void showsTheOverwriteQuestion();
    void waitsAndEndsProcesses_data();
    void waitsAndEndsProcesses();
    void findsNoWindowsWithoutDisplay_data();
    void findsNoWindowsWithoutDisplay();

private:
    qint64 windowOf(qint64 pid, WindowInfo *info = nullptr);

    DesktopSession m_session;
    std::unique_ptr<DesktopAutomation> m_desktop;
};

void TestLinuxDesktop::initTestCase()
{
    QString error;
    QVERIFY2(m_session.start(&error), qPrintable(error));
    m_desktop = createDesktopAutomation();
    // The null desktop finds nothing: this catches a build without the X11 desktop.
    const qint64 pid = m_session.launch(editorPath(), {QStringLiteral("--caption"), QStringLiteral("Probe")});
    QVERIFY(windowOf(pid) != 0);
}

void TestLinuxDesktop::cleanupTestCase()
{
    m_desktop.reset();
    m_session.stop();
}

qint64 TestLinuxDesktop::windowOf(qint64 pid, WindowInfo *info)
{
    WindowHandle found = 0;
    DesktopSession::waitFor(
        [&] {
            for (const WindowInfo &w : m_desktop->applicationWindows()) {
                if (m_desktop->windowProcessId(w.handle) == pid) {
                    found = w.handle;
                    if (info)
                        *info = w;
                    return true;
                }
            }
            return false;
        },
        10000);
    return static_cast<qint64>(found);
}

void TestLinuxDesktop::applicationWindowFilter()
{
    const qint64 tool = m_session.launch(
        editorPath(), {QStringLiteral("--tool"), QStringLiteral("--caption"), QStringLiteral("Tool palette")});
    const qint64 editor = m_session.launch(editorPath(), {QStringLiteral("--caption"), QStringLiteral("Filter editor"),
                                                          QStringLiteral("--text"), QStringLiteral("x")});
    WindowInfo info;
    const WindowHandle handle = windowOf(editor, &info);
    QVERIFY(handle != 0);
    QCOMPARE(info.title, QStringLiteral("Filter editor"));
    QCOMPARE(info.className, QStringLiteral("vg_testeditor"));
    QVERIFY(m_desktop->isWindowVisible(handle));
    // The editor is frontmost: it was mapped last.
    QCOMPARE(m_desktop->applicationWindows().constFirst().handle, handle);
    QVERIFY(!m_desktop->hasApplicationWindow(tool));

    // The prompt is a window of the same process, but transient: never a candidate.
    m_desktop->requestClose(handle);
    QVERIFY(DesktopSession::waitFor([&] { return !m_desktop->dialogWindows(editor).isEmpty(); }, 5000));
    int editorWindows = 0;
    for (const WindowInfo &w : m_desktop->applicationWindows())
        editorWindows += m_desktop->windowProcessId(w.handle) == editor;
    QCOMPARE(editorWindows, 1);
    const UiElement prompt = m_desktop->dialogWindows(editor).constFirst();
    QCOMPARE(prompt.role, UiElement::Role::Window);
    QVERIFY(m_desktop->isShowing(prompt));

    // "Discard": the window goes, the process ends by itself.
    const QList<UiElement> buttons = m_desktop->buttons(prompt);
    const auto discard = std::find_if(buttons.begin(), buttons.end(),
                                      [](const UiElement &b) { return b.label == QLatin1String("Discard"); });
    QVERIFY(discard != buttons.end());
    QVERIFY(m_desktop->press(*discard));
    QVERIFY(DesktopSession::waitFor([&] { return !m_desktop->isWindowVisible(handle); }, 5000));
    QVERIFY(!m_desktop->isShowing(prompt));
    QVERIFY(DesktopSession::waitFor([&] { return m_session.hasEnded(editor); }, 5000));
    QCOMPARE(m_desktop->windowProcessId(handle), 0);
    QVERIFY(!m_session.hasEnded(tool));
}

void TestLinuxDesktop::answersTheCloseRequest_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("typeText");
    QTest::addColumn<bool>("confirmWithReturn");
    QTest::addColumn<QString>("saveButton");

    const QStringList qt6Args = {QStringLiteral("--text"), QStringLiteral("known text")};
    QTest::newRow("GTK 3 mousepad") << "mousepad" << QStringList() << true << false << "Save";
    QTest::newRow("Qt 5 featherpad") << "featherpad" << QStringList() << true << false << "Save";
    QTest::newRow("Qt 6 editor") << editorPath() << qt6Args << false << false << "Save";
    QTest::newRow("Qt 6 editor, Return in the name field") << editorPath() << qt6Args << false << true << "Save";
}

void TestLinuxDesktop::answersTheCloseRequest()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(bool, typeText);
    QFETCH(bool, confirmWithReturn);
    QFETCH(QString, saveButton);

    const qint64 pid = m_session.launch(program, arguments);
    QVERIFY(pid != 0);
    if (typeText)
        QVERIFY(m_session.typeIntoDocument(pid, QStringLiteral("known text")));
    const WindowHandle window = windowOf(pid);
    QVERIFY(window != 0);

    QElapsedTimer timer;
    timer.start();
    m_desktop->bringForward(window);
    m_desktop->requestClose(window);
    QVERIFY(DesktopSession::waitFor([&] { return !m_desktop->dialogWindows(pid).isEmpty(); }, 5000));
    const UiElement prompt = m_desktop->dialogWindows(pid).constFirst();
    const UiElement save = chooseDefault(m_desktop->buttons(prompt));
    QCOMPARE(save.label, saveButton);
    QVERIFY(m_desktop->press(save));

    UiElement dialog;
    QVERIFY(DesktopSession::waitFor(
        [&] {
            const QList<UiElement> list = m_desktop->dialogWindows(pid);
            dialog = list.isEmpty() ? UiElement() : list.constFirst();
            return !dialog.isNull() && dialog != prompt;
        },
        5000));
    QVERIFY(!m_desktop->isShowing(prompt));
    const QList<UiElement> fields = m_desktop->editFields(dialog);
    QCOMPARE(fields.size(), 1);

    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("backup1_20261206-203401"));
    // Typing replaces a prefilled name ("Untitled" in FeatherPad).
    QVERIFY(m_desktop->typeText(fields.constFirst(), name));
    QCOMPARE(m_desktop->text(fields.constFirst()), name);
    QVERIFY(m_desktop->setText(fields.constFirst(), name));
    QCOMPARE(m_desktop->text(fields.constFirst()), name);

    if (confirmWithReturn) {
        QVERIFY(m_desktop->pressReturn(fields.constFirst()));
    } else {
        const UiElement confirm = chooseDefault(m_desktop->buttons(dialog));
        QCOMPARE(confirm.label, saveButton);
        QVERIFY(m_desktop->press(confirm));
    }
    QVERIFY(DesktopSession::waitFor([&] { return QFile::exists(name) && !m_desktop->isWindowVisible(window); }, 5000));
    const std::unique_ptr<DesktopProcess> process = m_desktop->openProcess(pid);
    QVERIFY(!process || process->waitForExit(2000) == DesktopProcess::WaitResult::Exited);
    qInfo("%s: saved and ended in %lld ms", QTest::currentDataTag(), timer.elapsed());

    QFile file(name);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // Editors may end the file with a line break of their own.
    QCOMPARE(QString::fromUtf8(file.readAll()).trimmed(), QStringLiteral("known text"));
    QVERIFY(m_session.hasEnded(pid));
}

void TestLinuxDesktop::showsTheOverwriteQuestion_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("typeText");
    QTest::addColumn<QString>("replaceButton");

    QTest::newRow("GTK 3 mousepad") << "mousepad" << QStringList() << true << "Replace";
    QTest::newRow("Qt 6 editor") << editorPath() << QStringList{QStringLiteral("--text"), QStringLiteral("known text")}
                                 << false << "Yes";
}

// A name that exists already: the confirmation brings up a new alert of the same
// process while the save dialog stays; only that alert is answered.
void TestLinuxDesktop::showsTheOverwriteQuestion()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(bool, typeText);
    QFETCH(QString, replaceButton);

    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("backup1_20261206-203401"));
    QFile old(name);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old text");
    old.close();

    const qint64 pid = m_session.launch(program, arguments);
    if (typeText)
        QVERIFY(m_session.typeIntoDocument(pid, QStringLiteral("known text")));
    const WindowHandle window = windowOf(pid);
    QVERIFY(window != 0);
    m_desktop->requestClose(window);
    QVERIFY(DesktopSession::waitFor([&] { return !m_desktop->dialogWindows(pid).isEmpty(); }, 5000));
    const UiElement prompt = m_desktop->dialogWindows(pid).constFirst();
    QVERIFY(m_desktop->press(chooseDefault(m_desktop->buttons(prompt))));
    UiElement dialog;
    QVERIFY(DesktopSession::waitFor(
        [&] {
            const QList<UiElement> list = m_desktop->dialogWindows(pid);
            dialog = list.isEmpty() ? UiElement() : list.constFirst();
            return !dialog.isNull() && dialog != prompt && !m_desktop->editFields(dialog).isEmpty();
        },
        5000));
    QVERIFY(m_desktop->setText(m_desktop->editFields(dialog).constFirst(), name));

    const QList<UiElement> before = m_desktop->dialogWindows(pid);
    QVERIFY(m_desktop->press(chooseDefault(m_desktop->buttons(dialog))));
    UiElement alert;
    QVERIFY(DesktopSession::waitFor(
        [&] {
            for (const UiElement &w : m_desktop->dialogWindows(pid)) {
                if (!before.contains(w))
                    alert = w;
            }
            return !alert.isNull();
        },
        5000));
    QVERIFY(m_desktop->isShowing(dialog));
    // Frontmost once the window manager has activated it.
    QVERIFY(DesktopSession::waitFor([&] { return m_desktop->dialogWindows(pid).constFirst() == alert; }, 3000));
    const QList<UiElement> buttons = m_desktop->buttons(alert);
    const auto replace = std::find_if(buttons.begin(), buttons.end(), [&](const UiElement &b) {
        return QString(b.label).remove(QLatin1Char('_')).remove(QLatin1Char('&')) == replaceButton;
    });
    QVERIFY(replace != buttons.end());
    qInfo("%s: overwrite question default button \"%s\"", QTest::currentDataTag(),
          qPrintable(chooseDefault(buttons).label));
    QVERIFY(m_desktop->press(*replace));
    QVERIFY(DesktopSession::waitFor([&] { return !m_desktop->isWindowVisible(window); }, 5000));
    QFile file(name);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()).trimmed(), QStringLiteral("known text"));
    QVERIFY(DesktopSession::waitFor([&] { return m_session.hasEnded(pid); }, 5000));
}

void TestLinuxDesktop::waitsAndEndsProcesses_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("minimumMs");
    QTest::addColumn<int>("maximumMs");

    QTest::newRow("ends at SIGTERM") << "exec sleep 60" << 0 << 1000;
    QTest::newRow("ignores SIGTERM, killed after 2 s") << "trap '' TERM; exec sleep 60" << 1900 << 3500;
}

void TestLinuxDesktop::waitsAndEndsProcesses()
{
    QFETCH(QString, script);
    QFETCH(int, minimumMs);
    QFETCH(int, maximumMs);

    const qint64 pid = m_session.launch(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
    QVERIFY(pid != 0);
    const std::unique_ptr<DesktopProcess> process = m_desktop->openProcess(pid);
    QVERIFY(process);
    QCOMPARE(process->pid(), pid);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(process->waitForExit(300), DesktopProcess::WaitResult::TimedOut);
    QVERIFY(timer.elapsed() >= 290);
    timer.restart();
    process->terminate();
    const qint64 took = timer.elapsed();
    QVERIFY2(took >= minimumMs && took <= maximumMs, qPrintable(QString::number(took)));
    QCOMPARE(process->waitForExit(0), DesktopProcess::WaitResult::Exited);
    QVERIFY(DesktopSession::waitFor([&] { return m_session.hasEnded(pid); }, 2000));
    // Never ourselves, never init.
    QVERIFY(!m_desktop->openProcess(QCoreApplication::applicationPid()));
    QVERIFY(!m_desktop->openProcess(1));
}

void TestLinuxDesktop::findsNoWindowsWithoutDisplay_data()
{
    QTest::addColumn<QByteArray>("display");
    QTest::newRow("no DISPLAY (a pure Wayland session)") << QByteArray();
    QTest::newRow("a display that does not answer") << QByteArray(":4711");
}

void TestLinuxDesktop::findsNoWindowsWithoutDisplay()
{
    QFETCH(QByteArray, display);
    QVERIFY(!m_desktop->applicationWindows().isEmpty());
    const QByteArray real = qgetenv("DISPLAY");
    if (display.isEmpty())
        qunsetenv("DISPLAY");
    else
        qputenv("DISPLAY", display);
    const std::unique_ptr<DesktopAutomation> desktop = createDesktopAutomation();
    qputenv("DISPLAY", real);
    QVERIFY(desktop);
    QVERIFY(desktop->applicationWindows().isEmpty());
}

QTEST_GUILESS_MAIN(TestLinuxDesktop)
#include "tst_linuxdesktop.moc"
