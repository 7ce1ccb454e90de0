// The tray icon and its menu against a real notification area: Debian's trayer
// (an XEmbed tray) with openbox on a private Xvfb display, clicked with xdotool.
#include "app/mainwindow.h"
#include "binaryrun.h"
#include "model/logevent.h"
#include "sessionbus.h"
#include "tempdatadir.h"
#include "xsession.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {
XSession *xsession = nullptr;

QSystemTrayIcon *trayOf(MainWindow &w)
{
    return w.findChild<QSystemTrayIcon *>();
}

QImage iconImage(const QIcon &icon)
{
    return icon.pixmap(QSize(22, 22)).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The XEmbed balloon Qt shows for QSystemTrayIcon::showMessage, with its texts.
QStringList visibleBalloonTexts()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || qstrcmp(w->metaObject()->className(), "QBalloonTip") != 0)
            continue;
        QStringList texts;
        for (const QLabel *label : w->findChildren<QLabel *>())
            texts << label->text();
        return texts;
    }
    return {};
}

void click(const QPoint &at, const QStringList &buttonArgs)
{
    // From elsewhere, as a hand would: the icon reacts only once the pointer has entered it.
    xsession->run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--sync"),
                                              QStringLiteral("600"), QStringLiteral("600")});
    xsession->run(QStringLiteral("xdotool"),
                  QStringList{QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(at.x()),
                              QString::number(at.y()), QStringLiteral("click")} +
                      buttonArgs);
}

// Captures the tray icon as it is when it first appears in the notification area,
// that is inside the main window's constructor before the first status display.
class FirstTrayShow : public QObject
{
public:
    bool seen = false;
    bool visible = false;
    QString toolTip;
    QImage image;

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (seen || event->type() != QEvent::Show ||
            qstrcmp(object->metaObject()->className(), "QSystemTrayIconSys") != 0)
            return false;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *window = qobject_cast<MainWindow *>(w);
            if (QSystemTrayIcon *icon = window ? trayOf(*window) : nullptr) {
                seen = true;
                visible = icon->isVisible();
                toolTip = icon->toolTip();
                image = iconImage(icon->icon());
            }
        }
        return false;
    }
};
} // namespace

// A panel's StatusNotifierWatcher with its host registered; records the items.
class StatusNotifierWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
public:
    QStringList items;
    bool hostRegistered() const { return true; }
public slots:
    void RegisterStatusNotifierItem(const QString &service) { items << service; }
};

class TrayTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void iconAppearsBeforeFirstStatus();
    void menuEntries_data();
    void menuEntries();
    void minimiseHidesToTray_data();
    void minimiseHidesToTray();
    void iconClicks_data();
    void iconClicks();
    void menuDrivesWindow_data();
    void menuDrivesWindow();
    void exitQuitsWithoutQuestion_data();
    void exitQuitsWithoutQuestion();
    void withoutNotificationAreaMinimisesNormally();

private:
    void showActive();
    QPoint iconCentre();

    std::unique_ptr<TempDataDir> m_data;
    std::unique_ptr<MainWindow> m_window;
};

void TrayTest::init()
{
    QVERIFY(xsession->trayAvailable() || xsession->startTrayHost());
    m_data = std::make_unique<TempDataDir>();
    m_data->writeParams();
    m_window = std::make_unique<MainWindow>();
}

void TrayTest::cleanup()
{
    m_window.reset();
    m_data.reset();
}

void TrayTest::showActive()
{
    m_window->showNormal();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

// Where trayer has embedded our icon, read from the X server: Qt does not learn the
// position of a window that another client reparented.
QPoint TrayTest::iconCentre()
{
    QRect icon;
    if (!QTest::qWaitFor([&] { return !(icon = xsession->trayIcon(QStringLiteral("tst_tray"))).isNull(); }, 5000))
        return {};
    // Qt takes the embedding up in its event loop; a click that comes earlier is lost.
    QTest::qWait(500);
    return icon.center();
}

void TrayTest::iconAppearsBeforeFirstStatus()
{
    m_window.reset();
    FirstTrayShow probe;
    qApp->installEventFilter(&probe);
    m_window = std::make_unique<MainWindow>();
    qApp->removeEventFilter(&probe);

    QVERIFY2(probe.seen, "the tray icon was not shown while the main window was built");
    QVERIFY(probe.visible);
    QCOMPARE(probe.toolTip, appTitle + QStringLiteral(",Agent Lost Connect!"));
    QCOMPARE(probe.toolTip, QStringLiteral("Voltiguard,Agent Lost Connect!"));
    QCOMPARE(probe.image, iconImage(QIcon(QStringLiteral(":/file/images/offline_1.PNG"))));

    // The first status display then takes over the tooltip, and trayer embeds the icon.
    QSystemTrayIcon *icon = trayOf(*m_window);
    QCOMPARE(icon->toolTip(), QStringLiteral("Voltiguard,Agent Unconnected"));
    QVERIFY2(!iconCentre().isNull(), "trayer did not embed the icon");
}

void TrayTest::menuEntries_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("icon");
    QTest::newRow("minimise") << 0 << "Minimize(&N)"
                              << ":/file/images/gtk-remove.png";
    QTest::newRow("maximise") << 1 << "Maximize(&X)"
                              << ":/file/images/gtk-add.png";
    QTest::newRow("restore") << 2 << "Resume(&R)"
                             << ":/file/images/gtk-fullscreen.png";
    QTest::newRow("separator") << 3 << ""
                               << "";
    QTest::newRow("exit") << 4 << "Exit(&Q)"
                          << ":/file/images/stop.png";
}

void TrayTest::menuEntries()
{
    QFETCH(int, index);
    QFETCH(QString, text);
    QFETCH(QString, icon);
    QMenu *menu = trayOf(*m_window)->contextMenu();
    QVERIFY(menu);
    const QList<QAction *> actions = menu->actions();
    QCOMPARE(actions.size(), 5);
    QAction *action = actions.at(index);
    QCOMPARE(action->isSeparator(), text.isEmpty());
    QCOMPARE(action->text(), text);
    if (!icon.isEmpty())
        QCOMPARE(iconImage(action->icon()), iconImage(QIcon(icon)));
}

void TrayTest::minimiseHidesToTray_data()
{
    QTest::addColumn<bool>("byWindowManager");
    QTest::newRow("minimised by the program") << false;
    QTest::newRow("minimised by the window manager") << true;
}

void TrayTest::minimiseHidesToTray()
{
    QFETCH(bool, byWindowManager);
    const QPoint centre = iconCentre();
    QVERIFY(!centre.isNull());
    showActive();

    if (byWindowManager)
        xsession->run(QStringLiteral("xdotool"),
                      {QStringLiteral("windowminimize"), QString::number(m_window->winId())});
    else
        m_window->showMinimized();

    QTRY_VERIFY(!m_window->isVisible());
    QTRY_COMPARE(visibleBalloonTexts().size() >= 2, true);
    const QStringList balloon = visibleBalloonTexts();
    QVERIFY2(balloon.contains(QStringLiteral("Voltiguard")), qPrintable(balloon.join(QLatin1Char('|'))));
    QVERIFY2(balloon.contains(QStringLiteral("running as tray!")), qPrintable(balloon.join(QLatin1Char('|'))));
    // Shown for one second only.
    QTRY_VERIFY_WITH_TIMEOUT(visibleBalloonTexts().isEmpty(), 3000);

    click(centre, {QStringLiteral("1")});
    QTRY_VERIFY(m_window->isVisible());
    QVERIFY(!m_window->isMinimized());
}

void TrayTest::iconClicks_data()
{
    QTest::addColumn<QStringList>("buttonArgs");
    QTest::addColumn<bool>("shows");
    QTest::addColumn<bool>("menuOpens");
    QTest::newRow("left click") << QStringList{"1"} << true << false;
    QTest::newRow("double click") << QStringList{"--repeat", "2", "--delay", "80", "1"} << true << false;
    QTest::newRow("middle click") << QStringList{"2"} << false << false;
    QTest::newRow("right click") << QStringList{"3"} << false << true;
}

void TrayTest::iconClicks()
{
    QFETCH(QStringList, buttonArgs);
    QFETCH(bool, shows);
    QFETCH(bool, menuOpens);
    const QPoint centre = iconCentre();
    QVERIFY(!centre.isNull());
    m_window->hide();

    click(centre, buttonArgs);
    QMenu *menu = trayOf(*m_window)->contextMenu();
    if (shows) {
        QTRY_VERIFY(m_window->isVisible());
        QVERIFY(!m_window->isMinimized());
    } else {
        if (menuOpens)
            QTRY_VERIFY(menu->isVisible());
        QTest::qWait(1000);
        QVERIFY(!m_window->isVisible());
    }
    QCOMPARE(menu->isVisible(), menuOpens);
    menu->close();
}

void TrayTest::menuDrivesWindow_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("startsHidden");
    QTest::addColumn<bool>("visible");
    QTest::newRow("minimise hides") << "Minimize(&N)" << false << false;
    QTest::newRow("resume shows") << "Resume(&R)" << true << true;
    QTest::newRow("maximise shows") << "Maximize(&X)" << true << true;
}

void TrayTest::menuDrivesWindow()
{
    QFETCH(QString, entry);
    QFETCH(bool, startsHidden);
    QFETCH(bool, visible);
    if (startsHidden)
        m_window->hide();
    else
        showActive();
    QAction *action = nullptr;
    for (QAction *a : trayOf(*m_window)->contextMenu()->actions()) {
        if (a->text() == entry)
            action = a;
    }
    QVERIFY(action);
    action->trigger();
    QTRY_COMPARE(m_window->isVisible(), visible);
    if (entry == QLatin1String("Resume(&R)"))
        QVERIFY(!(m_window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)));
}

void TrayTest::exitQuitsWithoutQuestion_data()
{
    QTest::addColumn<QString>("lateHost");
    QTest::newRow("tray host running at start") << "";
    // The usual race at login: the autostarted program comes up before the panel.
    QTest::newRow("tray host started after the program") << "trayer";
    QTest::newRow("StatusNotifierWatcher started after the program") << "watcher";
}

void TrayTest::exitQuitsWithoutQuestion()
{
    QFETCH(QString, lateHost);
    m_window.reset();
    if (!lateHost.isEmpty())
        xsession->stopTrayHost();
    QTemporaryDir busDir;
    QProcess bus;
    const QString busAddress = lateHost == QLatin1String("watcher") ? startPrivateSessionBus(bus, busDir)
                                                                    : QStringLiteral("unix:path=/nonexistent/vg");
    QVERIFY(!busAddress.isEmpty());
    BinaryRun run;
    run.dataDir().writeParams();
    run.environment().insert(QStringLiteral("DISPLAY"), xsession->display());
    run.environment().insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    run.environment().insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/vg"));
    QVERIFY(run.start());
    if (!lateHost.isEmpty())
        QVERIFY(QTest::qWaitFor([] { return xsession->windows(QStringLiteral("voltiguard")).size() > 0; }, 15000));
    if (lateHost == QLatin1String("watcher")) {
        StatusNotifierWatcher watcher;
        QDBusConnection panel = QDBusConnection::connectToBus(busAddress, QStringLiteral("panel"));
        QVERIFY(panel.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                     QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
        QVERIFY(panel.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
        QTRY_COMPARE_WITH_TIMEOUT(watcher.items.size(), 1, 10000);
        // Registered by the program itself, under a name of its connection.
        QCOMPARE(panel.interface()->servicePid(watcher.items.first()).value(), uint(run.process().processId()));
        QDBusConnection::disconnectFromBus(QStringLiteral("panel"));
        run.stop();
        bus.kill();
        bus.waitForFinished();
        // The item and its menu over D-Bus are Qt's own; the clicks below need XEmbed.
        return;
    }
    if (!lateHost.isEmpty())
        QVERIFY(xsession->startTrayHost());

    QRect icon;
    QVERIFY(
        QTest::qWaitFor([&] { return !(icon = xsession->trayIcon(QStringLiteral("voltiguard"))).isNull(); }, 15000));
    auto menuShown = [] {
        for (const QRect &r : xsession->windows(QStringLiteral("voltiguard"))) {
            if (r.width() > 64 && r.width() < 400 && r.height() > 64 && r.height() < 400)
                return true;
        }
        return false;
    };
    // A click that comes before the program has taken up the embedding is lost; a
    // user would simply click again.
    bool opened = false;
    for (int attempt = 0; attempt < 3 && !opened; ++attempt) {
        click(icon.center(), {QStringLiteral("3")});
        opened = QTest::qWaitFor(menuShown, 2000);
    }
    QVERIFY2(opened, "the tray menu did not open");
    xsession->run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("q")});

    QVERIFY2(run.process().waitForFinished(10000), "Exit(&Q) did not end the program");
    QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.process().exitCode(), 0);
}

void TrayTest::withoutNotificationAreaMinimisesNormally()
{
    m_window.reset();
    xsession->stopTrayHost();
    QTRY_VERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    m_window = std::make_unique<MainWindow>();
    showActive();

    m_window->showMinimized();
    QTRY_VERIFY(m_window->isMinimized());
    QTest::qWait(500);
    QVERIFY(m_window->isVisible());
    QVERIFY(visibleBalloonTexts().isEmpty());
    QCOMPARE(m_window->statusBar()->currentMessage(),
             QStringLiteral("No notification area: minimised to the task list"));
    // Said once: after it was cleared, a second minimise does not repeat it.
    m_window->statusBar()->clearMessage();
    showActive();
    m_window->showMinimized();
    QTRY_VERIFY(m_window->isMinimized());
    QVERIFY(m_window->statusBar()->currentMessage().isEmpty());
}

int main(int argc, char *argv[])
{
    // The display, the session bus (none: Qt then uses the XEmbed tray, not
    // StatusNotifierItem) and the autostart directory must be ours before Qt starts.
    XSession x;
    if (x.display().isEmpty())
        qFatal("Xvfb did not start");
    xsession = &x;
    QTemporaryDir home;
    qputenv("DISPLAY", x.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/voltiguard-test");
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    QApplication app(argc, argv);
    if (!x.startWindowManager() || !x.startTrayHost())
        qFatal("openbox or trayer did not start");
    TrayTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tray.moc"
