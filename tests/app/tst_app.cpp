#include "app/language.h"
#include "app/mainwindow.h"
#include "binaryrun.h"
#include "config/settingsdialog.h"
#include "model/logevent.h"
#include "model/upsstatus.h"
#include "snmp/usmusers.h"
#include "xsession.h"

#include <QtDBus>
#include <QtTest>
#include <QtWidgets>

namespace {
XSession *xsession = nullptr;
QProcess *notificationServer = nullptr;
QString notificationLog;
} // namespace

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

class AppTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<TempDataDir> m_data;

private slots:
    void init()
    {
        m_data = std::make_unique<TempDataDir>();
        m_data->writeParams();
        QWriteLocker locker(&pendingEventsLock);
        pendingEvents.clear();
    }

    void languageChoice()
    {
        const std::tuple<const char *, const char *, bool> rows[] = {
            {"en_US.UTF-8", "zh_TW", true}, {"", "ZH_cn", true}, {"zh_CN.UTF-8", "C", true},
            {"ZH_CN.UTF-8", "C", true},     {"zh", "C", false},  {"zh_CN", "en_US", false}};
        for (const auto &[lang, locale, chinese] : rows)
            QVERIFY2(chineseChosen(lang, locale) == chinese, qPrintable(QString("%1 %2").arg(lang, locale)));
    }

    void chinese()
    {
        QTranslator app, qt;
        QVERIFY(app.load(":/file/zh.qm") && qt.load(":/file/qt_zh_CN.qm"));
        const QStringList asItIs = QString("Dialog|Form|Widget|MainWindow|PushButton|TextLabel|IP|IP:|Voltiguard|"
                                           "SNMP Create Fail!|Warning|DES|AES128|AES196|AES256|HMAC-MD5|HMAC-SHA|"
                                           "161|162|192.168.1.1|%1:%2:%3|\n%1:%2:%3|Reset the values to the old values")
                                       .split('|');
        QFile ts(qEnvironmentVariable("VOLTIGUARD_SOURCE_DIR") + "/src/translations/zh.ts");
        QVERIFY(ts.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&ts);
        QString context, source;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("name"))
                context = xml.readElementText();
            if (xml.name() == QLatin1String("source"))
                source = xml.readElementText();
            if (xml.name() != QLatin1String("translation"))
                continue;
            const QString chinese = xml.readElementText(), entry = context + ": " + source;
            QVERIFY2(!chinese.isEmpty() || asItIs.contains(source), qPrintable("untranslated " + entry));
            QVERIFY2(app.translate(context.toUtf8(), source.toUtf8()) == chinese, qPrintable("not in zh.qm " + entry));
            QVERIFY2(!chinese.contains(QRegularExpression("&[^\\x00-\\x7f]")), qPrintable("CJK mnemonic " + entry));
        }

        QCoreApplication::installTranslator(&app);
        QCoreApplication::installTranslator(&qt);
        chineseUi = true;
        const auto english = qScopeGuard([&] {
            QCoreApplication::removeTranslator(&app);
            QCoreApplication::removeTranslator(&qt);
            chineseUi = false;
        });
        QCOMPARE(QDialogButtonBox(QDialogButtonBox::Cancel).buttons().at(0)->text(), QStringLiteral("取消"));
        {
            MainWindow w;
            w.timerslots();
            QStringList texts;
            for (const QLabel *label : w.statusBar()->findChildren<QLabel *>())
                texts << label->text();
            const QString day = uiLocale().dayName(QDate::currentDate().dayOfWeek(), QLocale::ShortFormat);
            QVERIFY2(day.startsWith("周") && texts.join('|').contains(" " + day), qPrintable(texts.join('|')));
        }
        UsmUserTable users;
        SettingsDialog settings(users);
        settings.show();
        QVERIFY(QTest::qWaitForWindowExposed(&settings));
        settings.findChild<QTabWidget *>("tabWidget")->setCurrentIndex(1);
        const auto *group = settings.findChild<QGroupBox *>("groupBox6");
        // Chinese lines are taller: the rows of System Set must still fit the group, and the group its page.
        QVERIFY(group->layout()->minimumSize().height() <= group->height());
        QVERIFY(group->geometry().bottom() < group->parentWidget()->height());
    }

    void notifications_data()
    {
        QTest::addColumn<QVariantMap>("settings");
        QTest::addColumn<int>("event"); // -1: a utility failure that starts a countdown instead
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("urgency"); // -1: nothing is sent
        const QVariantMap none;
        QTest::newRow("utility failure is critical") << none << int(UtilityFail) << "Utility Fail" << 2;
        QTest::newRow("connected is normal") << none << int(AgentAndUpsConnected) << "Agent and UPS Connected" << 1;
        QTest::newRow("refused power-off, with its reason")
            << QVariantMap{{"Utility_para", true}, {"Utility_time", 0}} << -1
            << "Shutdown Failed\nthe D-Bus system bus cannot be reached" << 2;
        QTest::newRow("switched off") << QVariantMap{{"Notify_para", false}, {"Utility_para", true}} << int(UtilityFail)
                                      << "" << -1;
        // Last: it ends the server.
        QTest::newRow("no notification server") << none << int(UtilityFail) << "" << -1;
    }

    void notifications()
    {
        QFETCH(QVariantMap, settings);
        QFETCH(int, event);
        QFETCH(QString, body);
        QFETCH(int, urgency);
        if (QTest::currentDataTag() == QLatin1String("no notification server")) {
            notificationServer->terminate();
            QVERIFY(notificationServer->waitForFinished(5000));
        }
        QFile log(notificationLog);
        QVERIFY(log.open(QIODevice::ReadOnly));
        log.seek(log.size());
        m_data->writeParams(settings);
        MainWindow w;
        if (event >= 0) {
            queueEvents({{timeText(), event}});
        } else {
            upsStatus.agentAnswered();
            upsStatus.applyAlarmMask(2);
        }
        w.timerslots();
        const QRegularExpression sent(urgency < 0
                                          ? " Notify "
                                          : "\"" + QRegularExpression::escape(body) +
                                                "[^\"]*\" \\[\\] \\{[^}]*\"urgency\": " + QString::number(urgency));
        QString text;
        auto arrived = [&] { return (text += QString::fromUtf8(log.readAll())).contains(sent); };
        QVERIFY2(QTest::qWaitFor(arrived, urgency < 0 ? 1500 : 5000) == (urgency >= 0), qPrintable(text));
    }

    void lateTrayHost_data()
    {
        QTest::addColumn<bool>("watcher");
        QTest::newRow("StatusNotifierWatcher") << true;
        QTest::newRow("trayer; then Exit quits without a question") << false;
    }

    void lateTrayHost()
    {
        QFETCH(bool, watcher);
        xsession->stopTrayHost();
        BinaryRun run;
        run.dataDir().writeParams();
        QVERIFY(run.start());
        QVERIFY(QTest::qWaitFor([] { return !xsession->windows("voltiguard").isEmpty(); }, 15000));
        if (watcher) {
            StatusNotifierWatcher panel;
            QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "panel");
            const auto leave = qScopeGuard([] { QDBusConnection::disconnectFromBus("panel"); });
            QVERIFY(bus.registerObject("/StatusNotifierWatcher", &panel,
                                       QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
            QVERIFY(bus.registerService("org.kde.StatusNotifierWatcher"));
            QTRY_COMPARE_WITH_TIMEOUT(panel.items.size(), 1, 10000);
            QCOMPARE(bus.interface()->servicePid(panel.items.first()).value(), uint(run.process().processId()));
            return;
        }
        QVERIFY(xsession->startTrayHost());
        QRect icon;
        QVERIFY(QTest::qWaitFor([&] { return !(icon = xsession->trayIcon("voltiguard")).isNull(); }, 15000));
        const auto menuShown = [] {
            const QList<QRect> windows = xsession->windows("voltiguard");
            return std::any_of(windows.begin(), windows.end(),
                               [](const QRect &r) { return QRect(65, 65, 335, 335).contains(r.width(), r.height()); });
        };
        // The pointer comes from elsewhere, as a hand's would; a click lost before the embedding is repeated.
        bool opened = false;
        for (int attempt = 0; attempt < 3 && !opened; ++attempt) {
            xsession->run("xdotool", {"mousemove", "--sync", "600", "600"});
            xsession->run("xdotool", {"mousemove", "--sync", QString::number(icon.center().x()),
                                      QString::number(icon.center().y()), "click", "3"});
            opened = QTest::qWaitFor(menuShown, 2000);
        }
        QVERIFY2(opened, "the tray menu did not open");
        xsession->run("xdotool", {"key", "q"});
        QVERIFY2(run.process().waitForFinished(10000), "Exit(&Q) did not end the program");
        QVERIFY(run.process().exitStatus() == QProcess::NormalExit && run.process().exitCode() == 0);
    }

    void withoutTrayMinimisesToTaskList()
    {
        xsession->stopTrayHost();
        QTRY_VERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        MainWindow w;
        for (const char *said : {"No notification area: minimised to the task list", ""}) {
            w.showNormal();
            w.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&w));
            w.showMinimized();
            QTRY_VERIFY(w.isMinimized());
            QTest::qWait(500);
            QVERIFY(w.isVisible());
            // Said once: after it was cleared, a second minimise does not repeat it.
            QCOMPARE(w.statusBar()->currentMessage(), QString(said));
            w.statusBar()->clearMessage();
        }
    }
};

int main(int argc, char *argv[])
{
    // A row powers off: towards no system bus at all, whatever the environment says.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/voltiguard-test-guard");
    XSession x;
    QTemporaryDir dir;
    QProcess daemon, server;
    // Without service activation, so that nothing reaches or starts a real desktop service.
    const QString config = QStringLiteral(R"(<busconfig><type>session</type><listen>unix:dir=%1</listen>
        <auth>EXTERNAL</auth><policy context="default"><allow user="*"/><allow own="*"/>
        <allow send_destination="*"/><allow receive_sender="*"/></policy></busconfig>)");
    writeFile(dir.filePath("session.conf"), config.arg(dir.path()).toUtf8());
    daemon.start("dbus-daemon", {"--config-file=" + dir.filePath("session.conf"), "--print-address", "--nofork"});
    if (x.display().isEmpty() || !daemon.waitForReadyRead(5000))
        qFatal("Xvfb or dbus-daemon did not start");
    xsession = &x;
    notificationServer = &server;
    notificationLog = dir.filePath("notifications.log");
    // Ours before Qt starts; without a StatusNotifierWatcher on the bus Qt uses the XEmbed tray.
    qputenv("DISPLAY", x.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("DBUS_SESSION_BUS_ADDRESS", daemon.readLine().trimmed());
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit());
    server.start("/usr/bin/python3", {"-m", "dbusmock", "--template", "notification_daemon", "-l", notificationLog});
    QApplication app(argc, argv);
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    if (!x.startWindowManager() || !x.startTrayHost() ||
        !QTest::qWaitFor([&] { return bus->isServiceRegistered("org.freedesktop.Notifications").value(); }, 10000))
        qFatal("openbox, trayer or the notification server did not start");
    AppTest test;
    return QTest::qExec(&test, argc, argv); // the bus and the server end with their QProcess
}

#include "tst_app.moc"
