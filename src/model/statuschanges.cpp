#include "statuschanges.h"

QList<LogEvent> StatusChangeDetector::detectStatusChanges()
{
    const QString time = timeText();
    return detect(upsStatus.snapshot(), time);
}

void StatusChangeDetector::forgetLinks()
{
    m_lastAgentLink = LinkUnknown;
    m_lastUpsLink = LinkUnknown;
}

QList<LogEvent> StatusChangeDetector::detect(const UpsStatusSnapshot &now, const QString &time)
{
    QList<LogEvent> all;
    if (now.agentLink != m_lastAgentLink) {
        const LogEvent e{time, now.agentLink == LinkLost ? AgentUnconnected : AgentConnected};
        queueEvents({e});
        all.append(e);
        m_lastAgentLink = now.agentLink;
    }
    if (now.agentLink != LinkGood)
        return all;

    // An unknown UPS link (the agent just returned) waits for the alarm read that decides it.
    if (now.upsLink == LinkUnknown)
        return all;
    if (now.upsLink != m_lastUpsLink) {
        const LogEvent e{time, now.upsLink == LinkLost ? UpsUnconnected : UpsConnected};
        queueEvents({e});
        all.append(e);
        m_lastUpsLink = now.upsLink;
    }
    if (now.upsLink != LinkGood)
        return all;

    QList<LogEvent> alarms;
    auto compare = [&](bool current, bool &last, LogEventId fail, LogEventId normal) {
        if (current == last)
            return;
        alarms.append(LogEvent{time, current ? fail : normal});
        last = current;
    };
    compare(now.utilityFail, m_lastUtilityFail, UtilityFail, UtilityNormal);
    compare(now.batteryLow, m_lastBatteryLow, BatteryLow, BatteryNormal);
    compare(now.upsFail, m_lastUpsFail, UpsFail, UpsNormal);
    queueEvents(alarms);
    all.append(alarms);
    return all;
}
