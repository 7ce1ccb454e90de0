#include "app/mainwindow.h"
#include "config/params.h"
#include "model/logevent.h"
#include "model/upsstatus.h"
#include "sessionbus.h"
#include "tempdatadir.h"
#include "widgets/messagebox.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
// The session bus of this test is private, so that no notification reaches a real desktop.
QString notificationLog;
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void noToExitQuestionKeepsRunning()
    {
        TempDataDir dir;
        dir.writeParams();
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        MessageBox::shownBoxes().clear();
        MessageBox::setNextAnswer(QMessageBox::No);
        QVERIFY(!w.close());
        QVERIFY(w.isVisible());
        QCOMPARE(MessageBox::shownBoxes().size(), 1);
        QCOMPARE(MessageBox::shownBoxes().first().title, QString("Exit"));
        QCOMPARE(MessageBox::shownBoxes().first().text, QString("Do you want to exit Voltiguard?"));
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QVERIFY(w.close());
    }

    void showsStatusEveryTick()
    {
        TempDataDir dir;
        dir.writeParams({{"Utility_para", true}});
        MainWindow w;
        auto *state = w.findChild<QLabel *>("td_ip");
        QCOMPARE(state->text(), QString("127.0.0.1"));
        QCOMPARE(state->palette().color(QPalette::WindowText), QColor(Qt::red));
        upsStatus.agentAnswered();
        upsStatus.applyAlarmMask(2);
        w.timerslots();
        QCOMPARE(state->palette().color(QPalette::WindowText), QColor(Qt::darkGreen));
        const QList<QLabel *> fields = w.statusBar()->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(!fields.isEmpty());
        QCOMPARE(fields.last()->text(), QString("Agent and UPS Connected"));
        auto *lamp = w.findChild<QLabel *>("state_utility");
        QCOMPARE(lamp->pixmap().toImage(), QPixmap(":/file/images/red.png").toImage());
        auto *battery = w.findChild<QLabel *>("state_battery");
        QCOMPARE(battery->pixmap().toImage(), QPixmap(":/file/images/grey.png").toImage());
        MessageBox::setNextAnswer(QMessageBox::Yes);
    }

    void desktopNotifications_data()
    {
        QTest::addColumn<QVariantMap>("settings");
        QTest::addColumn<int>("event"); // -1: a utility failure that starts a countdown instead
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("urgency"); // -1: nothing is sent
        QTest::newRow("utility failure is critical") << QVariantMap() << int(UtilityFail) << "Utility Fail" << 2;
        QTest::newRow("utility normal is normal") << QVariantMap() << int(UtilityNormal) << "Utility Normal" << 1;
        QTest::newRow("agent lost is critical") << QVariantMap() << int(AgentUnconnected) << "Agent Unconnected" << 2;
        QTest::newRow("connected is normal")
            << QVariantMap() << int(AgentAndUpsConnected) << "Agent and UPS Connected" << 1;
        QTest::newRow("countdown start is critical")
            << QVariantMap{{"Utility_para", true}} << -1 << "Utility Fail\nCountdown of Shutdown:00:10:00" << 2;
        QTest::newRow("refused power-off is critical, with its reason")
            << QVariantMap{{"Utility_para", true}, {"Utility_time", 0}} << -1
            << "Shutdown Failed\nthe D-Bus system bus cannot be reached" << 2;
        QTest::newRow("switched off in the settings")
            << QVariantMap{{"Notify_para", false}, {"Utility_para", true}} << int(UtilityFail) << "Utility Fail" << -1;
    }

    void desktopNotifications()
    {
        QFETCH(QVariantMap, settings);
        QFETCH(int, event);
        QFETCH(QString, body);
        QFETCH(int, urgency);
        QFile log(notificationLog);
        QVERIFY(log.open(QIODevice::ReadOnly));
        log.seek(log.size());
        TempDataDir dir;
        dir.writeParams(settings);
        {
            QWriteLocker locker(&pendingEventsLock);
            pendingEvents.clear();
        }
        MainWindow w;
        if (event >= 0) {
            queueEvents({{timeText(), event}});
        } else {
            upsStatus.agentAnswered();
            upsStatus.applyAlarmMask(2);
        }
        w.timerslots();

        const QRegularExpression sent(QStringLiteral("\"%1[^\"]*\" \\[\\] \\{[^}]*\"urgency\": %2")
                                          .arg(QRegularExpression::escape(body))
                                          .arg(urgency));
        QString text;
        auto arrived = [&] {
            text += QString::fromUtf8(log.readAll());
            return text.contains(urgency < 0 ? QRegularExpression(QStringLiteral(" Notify ")) : sent);
        };
        QCOMPARE(QTest::qWaitFor(arrived, urgency < 0 ? 1500 : 5000), urgency >= 0);
        MessageBox::setNextAnswer(QMessageBox::Yes);
    }
};

int main(int argc, char *argv[])
{
    // A row powers off: towards no bus at all, whatever the environment says.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/voltiguard-test-guard");
    QTemporaryDir dir;
    QProcess bus;
    QProcess server;
    const QString busAddress = startPrivateSessionBus(bus, dir);
    if (busAddress.isEmpty())
        qFatal("dbus-daemon did not start");
    qputenv("DBUS_SESSION_BUS_ADDRESS", busAddress.toUtf8());
    notificationLog = dir.filePath("notifications.log");
    server.start("/usr/bin/python3", {"-m", "dbusmock", "--template", "notification_daemon", "-l", notificationLog});
    QApplication app(argc, argv);
    if (!QTest::qWaitFor(
            [] {
                return QDBusConnection::sessionBus().interface()->isServiceRegistered("org.freedesktop.Notifications");
            },
            10000))
        qFatal("the notification server did not start");
    TestMainWindow test;
    const int result = QTest::qExec(&test, argc, argv);
    for (QProcess *p : {&server, &bus}) {
        p->terminate();
        p->waitForFinished(5000);
    }
    return result;
}
#include "tst_mainwindow.moc"
