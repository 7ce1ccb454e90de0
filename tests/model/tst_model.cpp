#include "model/logevent.h"
#include "model/statuschanges.h"

#include <QTest>

Q_DECLARE_METATYPE(UpsStatusSnapshot)

namespace {
// Runs UpsStatus operations: answered, clear, lost, unknown, forget (the detector's), maskN,
// setI+ / setI- (a trap; authI+ / authI- an authenticated one).
void apply(const QString &sequence, StatusChangeDetector *detector = nullptr)
{
    const QHash<QString, std::function<void()>> ops{{"answered", [] { upsStatus.agentAnswered(); }},
                                                    {"clear", [] { upsStatus.clearAlarms(); }},
                                                    {"lost", [] { upsStatus.agentLost(); }},
                                                    {"unknown", [] { upsStatus.markUnknown(); }},
                                                    {"forget", [=] { detector->forgetLinks(); }}};
    for (const QString &op : sequence.split(' ', Qt::SkipEmptyParts)) {
        if (ops.contains(op))
            ops[op]();
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
    void init() { upsStatus.reset(); }

    void operations_data()
    {
        QTest::addColumn<QString>("sequence");
        QTest::addColumn<UpsStatusSnapshot>("expected");
        QTest::newRow("lost clears alarms") << "answered mask15 set2+ lost" << UpsStatusSnapshot{1, 3};
        QTest::newRow("unknown keeps alarms") << "answered mask2 unknown" << UpsStatusSnapshot{3, 3, true};
        // A trap is shown at once, but only a poll answer or SNMPv3 authentication confirms it.
        QTest::newRow("traps") << "answered clear set1+ set3- set7+" << UpsStatusSnapshot{0, 0, true, false, false, 10};
        QTest::newRow("authenticated trap") << "answered clear set1+ auth1+" << UpsStatusSnapshot{0, 0, true};
        QTest::newRow("poll answer confirms") << "answered set1+ set2+ mask2" << UpsStatusSnapshot{0, 0, true};
    }
    void operations()
    {
        QFETCH(QString, sequence);
        QFETCH(UpsStatusSnapshot, expected);
        apply(sequence);
        QCOMPARE(upsStatus.snapshot(), expected);
    }
    void changeDetection_data()
    {
        QTest::addColumn<QStringList>("cycles");
        QTest::addColumn<QList<QList<int>>>("events");
        QTest::newRow("agent lost with utility failure present, back with it")
            << QStringList{"answered clear", "mask2", "lost", "lost", "answered mask2"}
            << QList<QList<int>>{{7, 9}, {0}, {6}, {}, {7}};
        QTest::newRow("alarm cleared while agent away, answer before the table")
            << QStringList{"answered mask2", "lost", "answered", "clear"}
            << QList<QList<int>>{{7, 9, 0}, {6}, {7}, {3}};
        QTest::newRow("comms lost, alarms meanwhile not logged, trap removes it")
            << QStringList{"answered mask1", "mask3", "set0-"} << QList<QList<int>>{{7, 8}, {}, {9, 0}};
        QTest::newRow("address change is silent") << QStringList{"answered clear", "unknown forget", "answered clear"}
                                                  << QList<QList<int>>{{7, 9}, {}, {7, 9}};
    }
    void changeDetection()
    {
        QFETCH(QStringList, cycles);
        QFETCH(QList<QList<int>>, events);
        StatusChangeDetector detector;
        for (int i = 0; i < cycles.size(); ++i) {
            apply(cycles[i], &detector);
            const QList<LogEvent> returned = detector.detectStatusChanges();
            QList<int> ids;
            for (const LogEvent &e : returned)
                ids << (e.time == returned.first().time ? e.id : -1); // a cycle's events share their time
            QCOMPARE(ids, events[i]);
        }
    }

    void unknownEventId() { QCOMPARE(eventText(logEventIdCount), QString::number(logEventIdCount)); }
};

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
