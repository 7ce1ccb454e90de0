#include "app/mainwindow.h"
#include "config/params.h"
#include "logindmock.h"
#include "model/logevent.h"
#include "model/upsstatus.h"
#include "shutdown/closedialog.h"
#include "shutdown/smarthomemsg.h"
#include "tempdatadir.h"
#include "widgets/btnwidget.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {
QList<SmartHomeMsg *> popups()
{
    QList<SmartHomeMsg *> found;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *p = qobject_cast<SmartHomeMsg *>(w))
            found << p;
    }
    return found;
}

QList<LogEvent> takeEvents()
{
    QWriteLocker lock(&pendingEventsLock);
    return std::exchange(pendingEvents, {});
}

void utilityFails(bool fails)
{
    upsStatus.clearAlarms();
    upsStatus.agentAnswered();
    upsStatus.setAlarm(alarmIndex(QStringLiteral("1.3.6.1.2.1.33.1.6.3.6")), fails, true);
}

void flushDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
} // namespace

// The main window's side of the shutdown: its tick applies the countdown to the
// status bar, the popup, the external program and the power-off (through the
// logind mock). The window's own timer is stopped; the test ticks by hand.
class TestMainWindowShutdown : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void oneMinuteUtilityFailure();
    void refusedPowerOffIsShownAndAskedAgain();
    void userClosesThePopup_data();
    void userClosesThePopup();
    void clearingShowsNoAndRemovesThePopup();
    void switchesOffHideTheLabel();
    void closeButtonShowsTheReport();

private:
    void makeWindow(const QVariantMap &settings);
    QLabel *countdownLabel() const;
    void tick(int n = 1);

    std::unique_ptr<TempDataDir> m_data;
    QTemporaryDir m_config;
    LogindMock m_mock;
    std::unique_ptr<MainWindow> m_window;
};

void TestMainWindowShutdown::initTestCase()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS"),
             "DBUS_SYSTEM_BUS_ADDRESS is unset; refusing to run a test that powers off");
    // The autostart entry goes to a private config directory.
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    QVERIFY2(m_mock.start(), qPrintable(m_mock.error()));
}

void TestMainWindowShutdown::init()
{
    // Any tick may power off: only ever towards the mock's bus.
    QVERIFY(m_mock.ownsSystemBusVariable());
    takeEvents();
    m_mock.clearCalls();
}

void TestMainWindowShutdown::cleanup()
{
    m_mock.replaceMethod(QStringLiteral("CanPowerOff"), QString(), QStringLiteral("s"), QStringLiteral("ret = 'yes'"));
    m_window.reset();
    flushDeferredDeletes();
    m_data.reset();
}

void TestMainWindowShutdown::cleanupTestCase()
{
    m_mock.stop();
}

void TestMainWindowShutdown::makeWindow(const QVariantMap &settings)
{
    m_data = std::make_unique<TempDataDir>();
    // The polling thread runs too: with a long time-out against the silent port it
    // never reports the agent lost while the test sets the status by hand.
    QVariantMap values = settings;
    values.insert(QStringLiteral("timeout"), 120);
    m_data->writeParams(values);
    m_window = std::make_unique<MainWindow>();
    for (QTimer *timer : m_window->findChildren<QTimer *>()) {
        if (timer->interval() == 1000)
            timer->stop();
    }
    m_window->show();
}

QLabel *TestMainWindowShutdown::countdownLabel() const
{
    // The status bar's fields in the order they were added: clock, countdown, state.
    const QList<QLabel *> labels = m_window->statusBar()->findChildren<QLabel *>(Qt::FindDirectChildrenOnly);
    return labels.size() == 3 ? labels.at(1) : nullptr;
}

void TestMainWindowShutdown::tick(int n)
{
    for (int i = 0; i < n; ++i)
        m_window->timerslots();
}

void TestMainWindowShutdown::oneMinuteUtilityFailure()
{
    QVERIFY(m_mock.ownsSystemBusVariable());
    QTemporaryDir scripts;
    const QString marker = scripts.filePath(QStringLiteral("marker"));
    const QString script = scripts.filePath(QStringLiteral("before shutdown.sh"));
    QVERIFY(writeMarkerScript(script, marker));

    makeWindow(
        {{"Utility_para", true}, {"Utility_time", 1}, {"exte_flag", true}, {"exte_param", script}, {"exte_time", 1}});
    QLabel *label = countdownLabel();
    QVERIFY(label);
    QVERIFY(label->isHidden());
    utilityFails(true);

    tick();
    QVERIFY(label->isVisible());
    QCOMPARE(label->text(), QStringLiteral("Countdown of Shutdown:00:01:00"));
    QCOMPARE(label->palette().color(QPalette::Active, QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(label->palette().color(QPalette::Inactive, QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(popups().size(), 1);
    SmartHomeMsg *popup = popups().first();
    QVERIFY(popup->isVisible());
    QCOMPARE(popup->findChild<QLabel *>("label_title")->text(), QStringLiteral("Alarm Prompt Dialog"));
    QCOMPARE(popup->findChild<QLabel *>("textBrowser")->text(),
             QStringLiteral("Utility Fail\n\nShut down the operating system Countdown:00:01:00"));

    tick(58);
    QCOMPARE(label->text(), QStringLiteral("Countdown of Shutdown:00:00:02"));
    QCOMPARE(popup->findChild<QLabel *>("textBrowser")->text(),
             QStringLiteral("Utility Fail\n\nShut down the operating system Countdown:00:00:02"));
    QVERIFY(m_mock.calls(QStringLiteral("PowerOff")).isEmpty());

    tick();
    QCOMPARE(label->text(), QStringLiteral("Countdown of Shutdown:00:00:00"));
    QCOMPARE(popup->findChild<QLabel *>("textBrowser")->text(),
             QStringLiteral("Utility Fail\n\nShut down the operating system Countdown:00:00:00"));
    QCOMPARE(m_mock.calls(QStringLiteral("PowerOff")).size(), 1);
    // Written, and shown among the recent events, on that very tick.
    QVERIFY(takeEvents().isEmpty());
    const QAbstractItemModel *recent = m_window->findChild<QTableView *>("tableView")->model();
    QCOMPARE(recent->index(0, 2).data().toString(), QStringLiteral("Linux System Shutdown"));

    // The machine stayed on (it is a mock): no second request while the failure lasts.
    tick(30);
    QCOMPARE(label->text(), QStringLiteral("Countdown of Shutdown:00:00:00"));
    QCOMPARE(m_mock.calls(QStringLiteral("PowerOff")).size(), 1);
    QVERIFY(takeEvents().isEmpty());

    QTRY_VERIFY(QFile::exists(marker));
    QTest::qWait(200);
    QFile m(marker);
    QVERIFY(m.open(QIODevice::ReadOnly));
    QCOMPARE(m.readAll(), QByteArray("started\n"));
}

void TestMainWindowShutdown::refusedPowerOffIsShownAndAskedAgain()
{
    QVERIFY(m_mock.replaceMethod(QStringLiteral("CanPowerOff"), QString(), QStringLiteral("s"),
                                 QStringLiteral("ret = 'challenge'")));
    makeWindow({{"Utility_para", true}, {"Utility_time", 1}});
    utilityFails(true);
    tick(60);
    QLabel *label = countdownLabel();
    QCOMPARE(label->text(), QStringLiteral("Shutdown refused"));
    QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::red));
    const QAbstractItemModel *recent = m_window->findChild<QTableView *>("tableView")->model();
    QCOMPARE(recent->index(0, 2).data().toString(), QStringLiteral("Shutdown Failed"));
    QCOMPARE(m_mock.calls(QStringLiteral("CanPowerOff")).size(), 1);

    tick(59);
    QCOMPARE(m_mock.calls(QStringLiteral("CanPowerOff")).size(), 1);
    QCOMPARE(label->text(), QStringLiteral("Shutdown refused"));
    tick();
    QCOMPARE(m_mock.calls(QStringLiteral("CanPowerOff")).size(), 2);
    QVERIFY(m_mock.calls(QStringLiteral("PowerOff")).isEmpty());
}

void TestMainWindowShutdown::userClosesThePopup_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("Close button") << "tb_ignore";
    QTest::newRow("title-bar button") << "m_pButtonClose";
    QTest::newRow("close event") << "close";
}

void TestMainWindowShutdown::userClosesThePopup()
{
    QFETCH(QString, path);
    makeWindow({{"Utility_para", true}, {"Utility_time", 5}, {"AlarmBox_time", 3}});
    utilityFails(true);
    tick();
    QCOMPARE(popups().size(), 1);
    QPointer<SmartHomeMsg> popup = popups().first();
    if (path == QLatin1String("close"))
        popup->close();
    else
        QTest::mouseClick(popup->findChild<QToolButton *>(path), Qt::LeftButton);
    // Still alive right after its own signal; gone once deferred deletes ran.
    QVERIFY(popup);
    flushDeferredDeletes();
    QVERIFY(!popup);
    QVERIFY(popups().isEmpty());

    tick(2);
    QVERIFY(popups().isEmpty());
    tick();
    QCOMPARE(popups().size(), 1);
    QCOMPARE(popups().first()->findChild<QLabel *>("textBrowser")->text(),
             QStringLiteral("Utility Fail\n\nShut down the operating system Countdown:00:04:57"));
}

void TestMainWindowShutdown::clearingShowsNoAndRemovesThePopup()
{
    makeWindow({{"Utility_para", true}, {"Utility_time", 1}});
    utilityFails(true);
    tick(55);
    QCOMPARE(countdownLabel()->text(), QStringLiteral("Countdown of Shutdown:00:00:06"));
    QCOMPARE(popups().size(), 1);
    utilityFails(false);
    tick();
    QCOMPARE(countdownLabel()->text(), QStringLiteral("Countdown of Shotdown:NO"));
    QCOMPARE(countdownLabel()->palette().color(QPalette::WindowText), QColor(Qt::darkGreen));
    flushDeferredDeletes();
    QVERIFY(popups().isEmpty());
    utilityFails(true);
    tick();
    QCOMPARE(countdownLabel()->text(), QStringLiteral("Countdown of Shutdown:00:01:00"));
    QCOMPARE(popups().size(), 1);
    QVERIFY(m_mock.calls(QStringLiteral("PowerOff")).isEmpty());
}

void TestMainWindowShutdown::switchesOffHideTheLabel()
{
    makeWindow({{"Utility_para", false}, {"Bat_para", false}, {"UPS_para", false}, {"Utility_time", 0}});
    utilityFails(true);
    upsStatus.setAlarm(2, true, true);
    upsStatus.setAlarm(3, true, true);
    tick(5);
    QVERIFY(countdownLabel()->isHidden());
    QCOMPARE(countdownLabel()->text(), QString());
    QVERIFY(popups().isEmpty());
    QVERIFY(m_mock.calls(QStringLiteral("PowerOff")).isEmpty());
}

void TestMainWindowShutdown::closeButtonShowsTheReport()
{
    makeWindow({});
    QString title;
    Qt::WindowFlags flags;
    bool iconSet = false;
    QTimer::singleShot(0, this, [&] {
        auto *dialog = qobject_cast<CloseDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        title = dialog->windowTitle();
        flags = dialog->windowFlags();
        iconSet = !dialog->windowIcon().isNull();
        dialog->reject();
    });
    QTimer::singleShot(5000, this, [] {
        if (QWidget *w = QApplication::activeModalWidget())
            w->close();
    });
    // The button's click reaches bt_close_clicked.
    emit m_window->findChild<BtnWidget *>("bt_close")->clicked();
    QCOMPARE(title, QStringLiteral("Close File"));
    // Qt adds the title and system menu a close button needs; nothing else.
    QCOMPARE(flags & ~Qt::WindowType_Mask, Qt::WindowCloseButtonHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint);
    QVERIFY(iconSet);
    QVERIFY(m_window->findChildren<CloseDialog *>().isEmpty());
}

QTEST_MAIN(TestMainWindowShutdown)
#include "tst_mainwindowshutdown.moc"
