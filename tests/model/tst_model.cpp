#include "model/logevent.h"
#include "model/statuschanges.h"
#include "model/statusview.h"
#include "model/upsstatus.h"

#include <QTest>

Q_DECLARE_METATYPE(UpsStatusSnapshot)

namespace {
QList<int> drainIds()
{
    QWriteLocker locker(&pendingEventsLock);
    QList<int> ids;
    for (const LogEvent &e : pendingEvents)
        ids.append(e.id);
    pendingEvents.clear();
    return ids;
}

UpsStatusSnapshot snap(int agent, int ups, bool utility = false, bool battery = false, bool upsFail = false,
                       int unconfirmed = 0)
{
    UpsStatusSnapshot s;
    s.unconfirmed = unconfirmed;
    s.agentLink = agent;
    s.upsLink = ups;
    s.utilityFail = utility;
    s.batteryLow = battery;
    s.upsFail = upsFail;
    return s;
}

// Runs a space-separated sequence of UpsStatus operations: answered, clear, lost,
// unknown, forget (the detector's), maskN, setI+ / setI- (a trap; authI+ / authI- an
// authenticated one).
void apply(const QString &sequence, StatusChangeDetector *detector)
{
    for (const QString &op : sequence.split(' ', Qt::SkipEmptyParts)) {
        if (op == "answered")
            upsStatus.agentAnswered();
        else if (op == "clear")
            upsStatus.clearAlarms();
        else if (op == "lost")
            upsStatus.agentLost();
        else if (op == "unknown")
            upsStatus.markUnknown();
        else if (op == "forget" && detector)
            detector->forgetLinks();
        else if (op.startsWith("mask"))
            upsStatus.applyAlarmMask(op.mid(4).toInt());
        else if (op.startsWith("set") || op.startsWith("auth"))
            upsStatus.setAlarm(op.right(2).left(1).toInt(), op.endsWith('+'), op.startsWith("auth"));
    }
}
} // namespace

class TestModel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { buildEventTexts(); }
    void init()
    {
        upsStatus.reset();
        drainIds();
    }

    void operations_data()
    {
        QTest::addColumn<QString>("sequence");
        QTest::addColumn<UpsStatusSnapshot>("expected");
        QTest::newRow("reset") << "" << snap(3, 3);
        QTest::newRow("answer") << "answered" << snap(0, 3);
        QTest::newRow("no alarms") << "answered clear" << snap(0, 0);
        QTest::newRow("mask utility+battery") << "answered mask6" << snap(0, 0, true, true);
        QTest::newRow("mask comms lost") << "answered mask1" << snap(0, 1);
        QTest::newRow("mask all") << "answered mask15" << snap(0, 1, true, true, true);
        QTest::newRow("lost clears alarms") << "answered mask14 lost" << snap(1, 3);
        QTest::newRow("lost twice") << "answered lost lost" << snap(1, 3);
        QTest::newRow("unknown keeps alarms") << "answered mask2 unknown" << snap(3, 3, true);
        QTest::newRow("trap utility added, unconfirmed") << "answered clear set1+" << snap(0, 0, true, false, false, 2);
        QTest::newRow("authenticated trap utility added") << "answered clear auth1+" << snap(0, 0, true);
        QTest::newRow("poll answer confirms a trap") << "answered clear set1+ set2+ mask2" << snap(0, 0, true);
        QTest::newRow("trap comms lost removed") << "answered mask1 set0-" << snap(0, 0);
        QTest::newRow("trap comms lost added") << "answered clear set0+" << snap(0, 1);
        QTest::newRow("trap ups fail removed") << "answered mask8 set3-" << snap(0, 0, false, false, false, 8);
        QTest::newRow("trap unknown index") << "answered clear set7+" << snap(0, 0);
    }

    void operations()
    {
        QFETCH(QString, sequence);
        QFETCH(UpsStatusSnapshot, expected);
        apply(sequence, nullptr);
        QCOMPARE(upsStatus.snapshot(), expected);
    }

    void alarmMapping()
    {
        QCOMPARE(alarmIndex("1.3.6.1.2.1.33.1.6.3.20"), 0);
        QCOMPARE(alarmIndex("1.3.6.1.2.1.33.1.6.3.6"), 1);
        QCOMPARE(alarmIndex("1.3.6.1.2.1.33.1.6.3.3"), 2);
        QCOMPARE(alarmIndex("1.3.6.1.2.1.33.1.6.3.18"), 3);
        QCOMPARE(alarmIndex("1.3.6.1.2.1.33.1.6.3.10"), -1);
        QCOMPARE(alarmIndex(".1.3.6.1.2.1.33.1.6.3.6"), -1);
    }

    // Each step is one poll cycle: the status operations, then change detection.
    void changeDetection_data()
    {
        QTest::addColumn<QStringList>("cycles");
        QTest::addColumn<QList<QList<int>>>("events");
        QTest::newRow("first answer without alarms") << QStringList{"answered", "clear"} << QList<QList<int>>{{7}, {9}};
        QTest::newRow("first answer and alarm table in one poll")
            << QStringList{"answered clear"} << QList<QList<int>>{{7, 9}};
        QTest::newRow("agent lost with utility failure present, back with it")
            << QStringList{"answered clear", "mask2", "lost", "lost", "answered mask2"}
            << QList<QList<int>>{{7, 9}, {0}, {6}, {}, {7}};
        QTest::newRow("answer before the alarm table after a loss")
            << QStringList{"answered clear", "lost", "answered", "clear"} << QList<QList<int>>{{7, 9}, {6}, {7}, {}};
        QTest::newRow("alarm cleared while agent away")
            << QStringList{"answered clear", "mask2", "lost", "answered clear"}
            << QList<QList<int>>{{7, 9}, {0}, {6}, {7, 3}};
        QTest::newRow("two alarms in one poll")
            << QStringList{"answered clear", "mask6"} << QList<QList<int>>{{7, 9}, {0, 1}};
        QTest::newRow("all three fail and recover")
            << QStringList{"answered clear", "mask14", "clear"} << QList<QList<int>>{{7, 9}, {0, 1, 2}, {3, 4, 5}};
        QTest::newRow("unknown alarm identifiers only") << QStringList{"answered mask0"} << QList<QList<int>>{{7, 9}};
        QTest::newRow("comms lost trap removed")
            << QStringList{"answered mask1", "set0-"} << QList<QList<int>>{{7, 8}, {9}};
        QTest::newRow("never answers") << QStringList{"lost", "lost"} << QList<QList<int>>{{6}, {}};
        QTest::newRow("address change is silent") << QStringList{"answered clear", "unknown forget", "answered clear"}
                                                  << QList<QList<int>>{{7, 9}, {}, {7, 9}};
        QTest::newRow("alarm while ups link lost is not logged")
            << QStringList{"answered mask3", "mask1", "clear"} << QList<QList<int>>{{7, 8}, {}, {9}};
    }

    void changeDetection()
    {
        QFETCH(QStringList, cycles);
        QFETCH(QList<QList<int>>, events);
        StatusChangeDetector detector;
        for (int i = 0; i < cycles.size(); ++i) {
            apply(cycles[i], &detector);
            const QList<LogEvent> returned = detector.detectStatusChanges();
            const QList<int> queued = drainIds();
            QCOMPARE(queued, events[i]);
            QCOMPARE(returned.size(), queued.size());
            for (const LogEvent &e : returned)
                QCOMPARE(e.time, returned.first().time);
        }
    }

    void statusDisplay_data()
    {
        QTest::addColumn<UpsStatusSnapshot>("status");
        QTest::addColumn<QString>("switches");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QString>("tray");
        QTest::addColumn<QString>("lamps");
        QTest::newRow("start") << snap(3, 3) << "ubs"
                               << "Agent Unconnected" << QColor(Qt::red) << "stop.png"
                               << "offline_1.PNG"
                               << "grey grey grey";
        QTest::newRow("agent lost") << snap(1, 1, true) << "ubs"
                                    << "Agent Unconnected" << QColor(Qt::red) << "stop.png"
                                    << "offline_1.PNG"
                                    << "grey grey grey";
        QTest::newRow("ups unknown") << snap(0, 3) << "ubs"
                                     << "UPS Unconnected" << QColor(Qt::darkYellow) << "question.png"
                                     << "15.png"
                                     << "grey grey grey";
        QTest::newRow("ups lost with alarm") << snap(0, 1, true, true, true) << "ubs"
                                             << "UPS Unconnected" << QColor(Qt::darkYellow) << "question.png"
                                             << "15.png"
                                             << "grey grey grey";
        QTest::newRow("connected all watched") << snap(0, 0, true, false, true) << "ubs"
                                               << "Agent and UPS Connected" << QColor(Qt::darkGreen) << "12.png"
                                               << "online_1.png"
                                               << "red green red";
        QTest::newRow("battery switch off") << snap(0, 0, true, true, false) << "us"
                                            << "Agent and UPS Connected" << QColor(Qt::darkGreen) << "12.png"
                                            << "online_1.png"
                                            << "red grey green";
        QTest::newRow("nothing watched") << snap(0, 0, true, true, true) << ""
                                         << "Agent and UPS Connected" << QColor(Qt::darkGreen) << "12.png"
                                         << "online_1.png"
                                         << "grey grey grey";
    }

    void statusDisplay()
    {
        QFETCH(UpsStatusSnapshot, status);
        QFETCH(QString, switches);
        QFETCH(QString, text);
        QFETCH(QColor, colour);
        QFETCH(QString, picture);
        QFETCH(QString, tray);
        QFETCH(QString, lamps);
        const LampSwitches sw{switches.contains('u'), switches.contains('b'), switches.contains('s')};
        int phase = 0;
        const StatusView v = statusView(status, sw, phase);
        QCOMPARE(v.stateText, text);
        QCOMPARE(v.colour, colour);
        QCOMPARE(v.picture, ":/file/images/" + picture);
        QCOMPARE(v.trayIcon, ":/file/images/" + tray);
        QCOMPARE(v.toolTip, "Voltiguard," + text);
        const QStringList l = lamps.split(' ');
        QCOMPARE(v.utilityLamp, ":/file/images/" + l[0] + ".png");
        QCOMPARE(v.batteryLamp, ":/file/images/" + l[1] + ".png");
        QCOMPARE(v.upsLamp, ":/file/images/" + l[2] + ".png");
        QCOMPARE(v.pictureSize, picture == "stop.png" ? QSize(20, 20) : QSize());
    }

    void connectedPicturesBlink()
    {
        int phase = 0;
        QStringList pictures;
        for (int i = 0; i < 4; ++i)
            pictures << statusView(snap(0, 0), {}, phase).trayIcon.section('/', -1);
        QCOMPARE(pictures, (QStringList{"online_1.png", "onlineA_1.png", "online_1.png", "onlineA_1.png"}));
        statusView(snap(1, 1), {}, phase);
        QCOMPARE(phase, 0);
    }

    void eventTextsTable()
    {
        QCOMPARE(eventTexts.size(), logEventIdCount);
        QCOMPARE(eventText(LinuxSystemShutdown), QString("Linux System Shutdown"));
        QCOMPARE(eventText(AgentAndUpsConnected), QString("Agent and UPS Connected"));
        QCOMPARE(eventText(ShutdownFailed), QString("Shutdown Failed"));
        QCOMPARE(eventText(14), QString("14"));
        QCOMPARE(eventText(-1), QString("-1"));
        QCOMPARE(appTitle, QString("Voltiguard"));
    }
};

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
