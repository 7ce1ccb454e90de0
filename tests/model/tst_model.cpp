#include "model/logevent.h"
#include "model/statuschanges.h"
#include "model/upsstatus.h"

#include <QTest>

Q_DECLARE_METATYPE(UpsStatusSnapshot)

namespace {
QList<int> drainIds()
{
    QWriteLocker locker(&pendingEventsLock);
    QList<int> ids;
    for (const LogEvent &e : std::exchange(pendingEvents, {}))
        ids.append(e.id);
    return ids;
}

// Runs space-separated UpsStatus operations: answered, clear, lost, unknown, forget (the
// detector's), maskN, setI+ / setI- (a trap; authI+ / authI- an authenticated one).
void apply(const QString &sequence, StatusChangeDetector *detector = nullptr)
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
        else if (op == "forget")
            detector->forgetLinks();
        else if (op.startsWith("mask"))
            upsStatus.applyAlarmMask(op.mid(4).toInt());
        else
            upsStatus.setAlarm(op.at(op.size() - 2).digitValue(), op.endsWith('+'), op.startsWith("auth"));
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

    // Snapshot fields: agent link, UPS link, utility, battery, UPS fail, unconfirmed bits.
    void operations_data()
    {
        QTest::addColumn<QString>("sequence");
        QTest::addColumn<UpsStatusSnapshot>("expected");
        QTest::newRow("mask of all alarms") << "answered mask15" << UpsStatusSnapshot{0, 1, true, true, true};
        QTest::newRow("lost clears alarms") << "answered mask14 set2+ lost" << UpsStatusSnapshot{1, 3};
        QTest::newRow("unknown keeps alarms") << "answered mask2 unknown" << UpsStatusSnapshot{3, 3, true};
        // A trap is shown at once but confirmed only by a poll answer or SNMPv3 authentication.
        QTest::newRow("trap") << "answered clear set1+ set3-" << UpsStatusSnapshot{0, 0, true, false, false, 10};
        QTest::newRow("authenticated trap") << "answered clear set1+ auth1+" << UpsStatusSnapshot{0, 0, true};
        QTest::newRow("poll answer confirms traps")
            << "answered clear set1+ set2+ mask2" << UpsStatusSnapshot{0, 0, true};
        QTest::newRow("trap comms lost removed") << "answered mask1 set0-" << UpsStatusSnapshot{0, 0};
        QTest::newRow("trap of an unknown alarm") << "answered clear set7+" << UpsStatusSnapshot{0, 0};
    }
    void operations()
    {
        QFETCH(QString, sequence);
        QFETCH(UpsStatusSnapshot, expected);
        apply(sequence);
        QCOMPARE(upsStatus.snapshot(), expected);
    }

    void alarmMapping()
    {
        const QStringList ids{"20", "6", "3", "18", "10"};
        for (int i = 0; i < ids.size(); ++i)
            QCOMPARE(alarmIndex("1.3.6.1.2.1.33.1.6.3." + ids[i]), i < 4 ? i : -1);
        QCOMPARE(alarmIndex(".1.3.6.1.2.1.33.1.6.3.6"), -1);
    }

    // Each step is one poll cycle: the status operations, then change detection.
    void changeDetection_data()
    {
        QTest::addColumn<QStringList>("cycles");
        QTest::addColumn<QList<QList<int>>>("events");
        QTest::newRow("first answer without alarms") << QStringList{"answered", "clear"} << QList<QList<int>>{{7}, {9}};
        QTest::newRow("agent lost with utility failure present, back with it")
            << QStringList{"answered clear", "mask2", "lost", "lost", "answered mask2"}
            << QList<QList<int>>{{7, 9}, {0}, {6}, {}, {7}};
        QTest::newRow("answer before the alarm table after a loss")
            << QStringList{"answered clear", "lost", "answered", "clear"} << QList<QList<int>>{{7, 9}, {6}, {7}, {}};
        QTest::newRow("alarm cleared while agent away")
            << QStringList{"answered clear", "mask2", "lost", "answered clear"}
            << QList<QList<int>>{{7, 9}, {0}, {6}, {7, 3}};
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
            QCOMPARE(drainIds(), events[i]);
            QCOMPARE(returned.size(), events[i].size());
            for (const LogEvent &e : returned)
                QCOMPARE(e.time, returned.first().time);
        }
    }

    // A log written by a newer build shows the ids this one does not know as numbers.
    void unknownEventId() { QCOMPARE(eventText(logEventIdCount), QString::number(logEventIdCount)); }
};

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
