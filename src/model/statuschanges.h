#pragma once

#include "logevent.h"
#include "upsstatus.h"

// The polling thread's memory of the last state it logged; turns differences
// between that memory and the current UpsStatus into queued events.
class StatusChangeDetector
{
public:
    // Queues the events for the change since the last call and returns them.
    QList<LogEvent> detectStatusChanges();
    // Used with UpsStatus::markUnknown so that the change to unknown logs nothing.
    void forgetLinks();

private:
    QList<LogEvent> detect(const UpsStatusSnapshot &now, const QString &time);

    int m_lastAgentLink = LinkUnknown;
    int m_lastUpsLink = LinkUnknown;
    bool m_lastUtilityFail = false;
    bool m_lastBatteryLow = false;
    bool m_lastUpsFail = false;
};
