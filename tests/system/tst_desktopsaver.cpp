// The pre-shutdown pass on a real X11 desktop: real editors (GTK 3 mousepad, Qt 5
// featherpad, our Qt 6 editor) hold unsaved documents; the pass must save each
// one under a generated name, record the pass in close_file.db, and leave no
// editor behind, while applications that do not close are ended and windows it
// must not touch are left alone.
#include "config/datadir.h"
#include "desktopsession.h"
#include "platform/desktopautomation.h"
#include "shutdown/closefile.h"
#include "shutdown/opendocumentsaver.h"
#include "tempdatadir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

namespace {
QString editorPath()
{
    return QStringLiteral(TEST_EDITOR);
}

// The real desktop, noting when the pass turns to each window (it brings every
// window forward first), to tell the time spent on each.
class TimedDesktop : public DesktopAutomation
{
public:
    explicit TimedDesktop(DesktopAutomation &real) : m_real(real) { m_timer.start(); }
    QList<std::pair<WindowHandle, qint64>> turns() const { return m_turns; }
    qint64 elapsed() const { return m_timer.elapsed(); }

    QList<WindowInfo> applicationWindows() override { return m_real.applicationWindows(); }
    qint64 windowProcessId(WindowHandle w) override { return m_real.windowProcessId(w); }
    bool isWindowVisible(WindowHandle w) override { return m_real.isWindowVisible(w); }
    void bringForward(WindowHandle w) override
    {
        m_turns.append({w, m_timer.elapsed()});
        m_real.bringForward(w);
    }
    void requestClose(WindowHandle w) override { m_real.requestClose(w); }
    QList<UiElement> dialogWindows(qint64 pid) override { return m_real.dialogWindows(pid); }
    QList<UiElement> visibleChildren(const UiElement &w) override { return m_real.visibleChildren(w); }
    QList<UiElement> buttons(const UiElement &w) override { return m_real.buttons(w); }
    QList<UiElement> editFields(const UiElement &w) override { return m_real.editFields(w); }
    bool isShowing(const UiElement &e) override { return m_real.isShowing(e); }
    bool press(const UiElement &b) override { return m_real.press(b); }
    bool pressReturn(const UiElement &e) override { return m_real.pressReturn(e); }
    bool typeText(const UiElement &f, const QString &t) override { return m_real.typeText(f, t); }
    QString text(const UiElement &f) override { return m_real.text(f); }
    bool setText(const UiElement &f, const QString &t) override { return m_real.setText(f, t); }
    std::unique_ptr<DesktopProcess> openProcess(qint64 pid) override { return m_real.openProcess(pid); }
    void pause(int ms) override { m_real.pause(ms); }

private:
    DesktopAutomation &m_real;
    QElapsedTimer m_timer;
    QList<std::pair<WindowHandle, qint64>> m_turns;
};

QString contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}
} // namespace

class TestDesktopSaver : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void savesEveryDocument();
    void endsWhatDoesNotClose();
    void saveDirectoryThatCannotBeCreated();

private:
    WindowHandle windowOf(qint64 pid, const QString &title = {});
    QList<WindowInfo> runPass(const QList<WindowHandle> &watched, qint64 *passMs);

    std::unique_ptr<DesktopSession> m_session;
    std::unique_ptr<TempDataDir> m_data;
    QString m_saveDir;
    std::unique_ptr<DesktopAutomation> m_desktop;
};

void TestDesktopSaver::init()
{
    m_data = std::make_unique<TempDataDir>();
    m_saveDir = m_data->file(QStringLiteral("saved"));
    QVERIFY(QDir().mkpath(m_saveDir));
    m_data->writeParams({{QStringLiteral("dir"), m_saveDir}});
    m_session = std::make_unique<DesktopSession>();
    QString error;
    QVERIFY2(m_session->start(&error), qPrintable(error));
    m_desktop = createDesktopAutomation();
}

void TestDesktopSaver::cleanup()
{
    m_desktop.reset();
    m_session.reset();
    m_data.reset();
}

WindowHandle TestDesktopSaver::windowOf(qint64 pid, const QString &title)
{
    WindowHandle found = 0;
    DesktopSession::waitFor(
        [&] {
            for (const WindowInfo &w : m_desktop->applicationWindows()) {
                if (m_desktop->windowProcessId(w.handle) == pid && (title.isEmpty() || w.title == title)) {
                    found = w.handle;
                    return true;
                }
            }
            return false;
        },
        10000);
    return found;
}

// Runs one pass with the real desktop and prints the time spent on each window.
QList<WindowInfo> TestDesktopSaver::runPass(const QList<WindowHandle> &watched, qint64 *passMs)
{
    QList<WindowInfo> order;
    const QList<WindowInfo> windows = m_desktop->applicationWindows();
    for (const WindowInfo &w : windows) {
        if (watched.contains(w.handle))
            order.append(w);
    }
    TimedDesktop timed(*m_desktop);
    OpenDocumentSaver saver(timed);
    saver.closeApplications();
    *passMs = timed.elapsed();

    const auto turns = timed.turns();
    for (qsizetype i = 0; i < turns.size(); ++i) {
        const qint64 end = i + 1 < turns.size() ? turns.at(i + 1).second : *passMs;
        const auto w = std::find_if(windows.begin(), windows.end(),
                                    [&](const WindowInfo &info) { return info.handle == turns.at(i).first; });
        qInfo("window \"%s\": %.1f s", w == windows.end() ? "?" : qPrintable(w->title),
              (end - turns.at(i).second) / 1000.0);
    }
    qInfo("whole pass: %.1f s", *passMs / 1000.0);
    return order;
}

void TestDesktopSaver::savesEveryDocument()
{
    // GTK 3: one process, one window, two unsaved tabs.
    const qint64 mousepad = m_session->launch(QStringLiteral("mousepad"));
    QVERIFY(m_session->typeIntoDocument(mousepad, QStringLiteral("mousepad first tab")));
    const WindowHandle mousepadWindow = windowOf(mousepad);
    QVERIFY(mousepadWindow);
    m_session->launch(QStringLiteral("mousepad"), {QStringLiteral("--opening-mode=tab")});
    QVERIFY(DesktopSession::waitFor(
        [&] {
            const QList<WindowInfo> windows = m_desktop->applicationWindows();
            return std::any_of(windows.begin(), windows.end(), [&](const WindowInfo &w) {
                return w.handle == mousepadWindow && w.title.contains(QLatin1String("Untitled 2"));
            });
        },
        10000));
    QVERIFY(m_session->typeIntoDocument(mousepad, QStringLiteral("mousepad second tab")));

    // Qt 5.
    const qint64 featherpad = m_session->launch(QStringLiteral("featherpad"));
    QVERIFY(m_session->typeIntoDocument(featherpad, QStringLiteral("featherpad text")));
    const WindowHandle featherpadWindow = windowOf(featherpad);
    QVERIFY(featherpadWindow);

    // Qt 6.
    const qint64 qt6 =
        m_session->launch(editorPath(), {QStringLiteral("--caption"), QStringLiteral("Qt 6 'quoted' editor"),
                                         QStringLiteral("--text"), QStringLiteral("qt6 text")});
    const WindowHandle qt6Window = windowOf(qt6);
    QVERIFY(qt6Window);

    // Not to be touched: our own title, and a window that is no application window.
    const qint64 ours = m_session->launch(editorPath(), {QStringLiteral("--caption"), QStringLiteral("Voltiguard"),
                                                         QStringLiteral("--text"), QStringLiteral("keep me")});
    QVERIFY(windowOf(ours));
    const qint64 tool = m_session->launch(
        editorPath(), {QStringLiteral("--tool"), QStringLiteral("--caption"), QStringLiteral("Tool palette")});
    QVERIFY(DesktopSession::waitFor(
        [&] {
            QProcess xprop;
            xprop.setProcessEnvironment(m_session->environment());
            xprop.start(QStringLiteral("xprop"),
                        {QStringLiteral("-name"), QStringLiteral("Tool palette"), QStringLiteral("WM_NAME")});
            return xprop.waitForFinished(3000) && xprop.exitCode() == 0;
        },
        10000));

    qint64 passMs = 0;
    const QList<WindowInfo> handled = runPass({mousepadWindow, featherpadWindow, qt6Window}, &passMs);
    QCOMPARE(handled.size(), 3);

    // Every document, under backup<N>_<yyyyMMdd-hhmmss>, N counting across windows.
    const QStringList files = QDir(m_saveDir).entryList(QDir::Files, QDir::Name);
    QCOMPARE(files.size(), 4);
    QStringList contents;
    QList<int> indexes;
    const QRegularExpression pattern(QStringLiteral("^backup(\\d+)_(\\d{8}-\\d{6})$"));
    for (const QString &file : files) {
        const QRegularExpressionMatch m = pattern.match(file);
        QVERIFY2(m.hasMatch(), qPrintable(file));
        QVERIFY(QDateTime::fromString(m.captured(2), QStringLiteral("yyyyMMdd-hhmmss")).isValid());
        indexes.append(m.captured(1).toInt());
        contents.append(contentsOf(QDir(m_saveDir).filePath(file)));
    }
    std::sort(indexes.begin(), indexes.end());
    QCOMPARE(indexes, (QList<int>{1, 2, 3, 4}));
    contents.sort();
    QCOMPARE(contents, (QStringList{QStringLiteral("featherpad text"), QStringLiteral("mousepad first tab"),
                                    QStringLiteral("mousepad second tab"), QStringLiteral("qt6 text")}));

    const CloseFile::Record record = CloseFile::read();
    QVERIFY(record.opened);
    QVERIFY(QDateTime::fromString(record.time, QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid());
    QStringList titles;
    for (const WindowInfo &w : handled)
        titles.append(w.title);
    QCOMPARE(record.closed, titles);
    // One saved row per saved document, with the title the window had when the pass
    // found it.
    QCOMPARE(record.saved.size(), 4);
    QCOMPARE(record.saved.count(handled.at(0).title) + record.saved.count(handled.at(1).title) +
                 record.saved.count(handled.at(2).title),
             4);
    QVERIFY(record.saved.contains(QStringLiteral("Qt 6 'quoted' editor")));

    for (qint64 pid : {mousepad, featherpad, qt6})
        QVERIFY2(m_session->hasEnded(pid), qPrintable(QString::number(pid)));
    QVERIFY(!m_session->hasEnded(ours));
    QVERIFY(!m_session->hasEnded(tool));
    QVERIFY(windowOf(ours, QStringLiteral("Voltiguard")));
}

void TestDesktopSaver::endsWhatDoesNotClose()
{
    const qint64 stubborn = m_session->launch(editorPath(), {QStringLiteral("--caption"), QStringLiteral("Stubborn"),
                                                             QStringLiteral("--ignore-close"), QStringLiteral("--text"),
                                                             QStringLiteral("lost")});
    const WindowHandle stubbornWindow = windowOf(stubborn);
    QVERIFY(stubbornWindow);
    const qint64 tray = m_session->launch(
        editorPath(), {QStringLiteral("--caption"), QStringLiteral("Tray keeper"), QStringLiteral("--hide-on-close")});
    const WindowHandle trayWindow = windowOf(tray);
    QVERIFY(trayWindow);

    qint64 passMs = 0;
    const QList<WindowInfo> handled = runPass({stubbornWindow, trayWindow}, &passMs);
    QCOMPARE(handled.size(), 2);

    QVERIFY(DesktopSession::waitFor([&] { return m_session->hasEnded(stubborn) && m_session->hasEnded(tray); }, 3000));
    const CloseFile::Record record = CloseFile::read();
    QCOMPARE(record.closed, (QStringList{handled.at(0).title, handled.at(1).title}));
    QVERIFY(record.saved.isEmpty());
    QVERIFY(QDir(m_saveDir).entryList(QDir::Files).isEmpty());
}

// "dir" names a directory that cannot be created (an unplugged stick): the document
// goes to Temp in the data directory, and the record names the file and says why.
void TestDesktopSaver::saveDirectoryThatCannotBeCreated()
{
    const QString unplugged = QStringLiteral("/etc/hostname/usb-stick");
    m_data->writeParams({{QStringLiteral("dir"), unplugged}});
    const qint64 editor =
        m_session->launch(editorPath(), {QStringLiteral("--caption"), QStringLiteral("Report"),
                                         QStringLiteral("--text"), QStringLiteral("quarterly figures")});
    const WindowHandle window = windowOf(editor);
    QVERIFY(window);

    qint64 passMs = 0;
    QCOMPARE(runPass({window}, &passMs).size(), 1);

    const QString temp = m_data->file(QStringLiteral("Temp"));
    const QStringList files = QDir(temp).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    QCOMPARE(contentsOf(QDir(temp).filePath(files.first())), QStringLiteral("quarterly figures"));
    const CloseFile::Record record = CloseFile::read();
    QCOMPARE(record.saved, QStringList{"Report"});
    QCOMPARE(record.savedFiles, QStringList{QDir(temp).filePath(files.first())});
    QCOMPARE(record.savedUnavailableDirs, QStringList{unplugged});
    QVERIFY(DesktopSession::waitFor([&] { return m_session->hasEnded(editor); }, 3000));
}

QTEST_GUILESS_MAIN(TestDesktopSaver)
#include "tst_desktopsaver.moc"
