#pragma once

#include <QReadWriteLock>
#include <QString>
#include <QStringList>

// Link values of UpsStatus: 0 good, 1 lost, 3 unknown (2 never occurs).
enum LinkState
{
    LinkGood = 0,
    LinkLost = 1,
    LinkUnknown = 3
};

struct UpsStatusSnapshot
{
    int agentLink = LinkUnknown;
    int upsLink = LinkUnknown;
    bool utilityFail = false;
    bool batteryLow = false;
    bool upsFail = false;
    // Bits of the alarm mask (1 utility, 2 battery, 3 UPS fail) whose value an
    // unauthenticated notification set and no poll answer has confirmed yet.
    int unconfirmed = 0;

    bool confirmed(int alarmIndex) const { return !(unconfirmed & (1 << alarmIndex)); }
    bool operator==(const UpsStatusSnapshot &o) const
    {
        return agentLink == o.agentLink && upsLink == o.upsLink && utilityFail == o.utilityFail &&
               batteryLow == o.batteryLow && upsFail == o.upsFail && unconfirmed == o.unconfirmed;
    }
};

// The process-wide record of what is known about the UPS. Every operation is one
// write-locked step; readers work on a snapshot.
class UpsStatus
{
public:
    void reset();
    void markUnknown();
    void agentAnswered();
    void agentLost();
    void clearAlarms();
    void applyAlarmMask(int mask);
    // authenticated: the notification came with SNMPv3 authentication, which confirms
    // it as a poll answer would.
    void setAlarm(int index, bool present, bool authenticated);
    UpsStatusSnapshot snapshot() const;

private:
    UpsStatusSnapshot m_fields;
};

extern UpsStatus upsStatus;
extern QReadWriteLock upsStatusLock;

// The four UPS-MIB alarms the application follows, in bit order of the alarm mask.
const QStringList &alarmIdentifiers();
int alarmIndex(const QString &oid);

namespace UpsMib {
inline const QString alarmsPresent = QStringLiteral("1.3.6.1.2.1.33.1.6.1.0");
inline const QString alarmDescrColumn = QStringLiteral("1.3.6.1.2.1.33.1.6.2.1.2");
inline const QString alarmTimeColumn = QStringLiteral("1.3.6.1.2.1.33.1.6.2.1.3");
} // namespace UpsMib
