#include "upsstatus.h"

UpsStatus upsStatus;
QReadWriteLock upsStatusLock;

void UpsStatus::reset()
{
    QWriteLocker locker(&upsStatusLock);
    m_fields = UpsStatusSnapshot();
}

void UpsStatus::markUnknown()
{
    QWriteLocker locker(&upsStatusLock);
    m_fields.agentLink = LinkUnknown;
    m_fields.upsLink = LinkUnknown;
}

void UpsStatus::agentAnswered()
{
    QWriteLocker locker(&upsStatusLock);
    m_fields.agentLink = LinkGood;
}

void UpsStatus::agentLost()
{
    QWriteLocker locker(&upsStatusLock);
    if (m_fields.agentLink == LinkLost)
        return;
    m_fields.agentLink = LinkLost;
    // Nothing is known of the UPS link until the first complete alarm read after the
    // agent returns.
    m_fields.upsLink = LinkUnknown;
    m_fields.utilityFail = m_fields.batteryLow = m_fields.upsFail = false;
    m_fields.unconfirmed = 0;
}

void UpsStatus::clearAlarms()
{
    QWriteLocker locker(&upsStatusLock);
    m_fields.upsLink = LinkGood;
    m_fields.utilityFail = m_fields.batteryLow = m_fields.upsFail = false;
    m_fields.unconfirmed = 0;
}

void UpsStatus::applyAlarmMask(int mask)
{
    QWriteLocker locker(&upsStatusLock);
    m_fields.upsLink = (mask & 1) ? LinkLost : LinkGood;
    m_fields.utilityFail = mask & 2;
    m_fields.batteryLow = mask & 4;
    m_fields.upsFail = mask & 8;
    m_fields.unconfirmed = 0;
}

void UpsStatus::setAlarm(int index, bool present, bool authenticated)
{
    QWriteLocker locker(&upsStatusLock);
    if (index > 0 && index < 4) {
        if (authenticated)
            m_fields.unconfirmed &= ~(1 << index);
        else
            m_fields.unconfirmed |= 1 << index;
    }
    switch (index) {
    case 0:
        m_fields.upsLink = present ? LinkLost : LinkGood;
        break;
    case 1:
        m_fields.utilityFail = present;
        break;
    case 2:
        m_fields.batteryLow = present;
        break;
    case 3:
        m_fields.upsFail = present;
        break;
    default:
        break;
    }
}

UpsStatusSnapshot UpsStatus::snapshot() const
{
    QReadLocker locker(&upsStatusLock);
    return m_fields;
}

const QStringList &alarmIdentifiers()
{
    static const QStringList ids{
        QStringLiteral("1.3.6.1.2.1.33.1.6.3.20"), // upsAlarmCommunicationsLost
        QStringLiteral("1.3.6.1.2.1.33.1.6.3.6"),  // upsAlarmInputBad
        QStringLiteral("1.3.6.1.2.1.33.1.6.3.3"),  // upsAlarmLowBattery
        QStringLiteral("1.3.6.1.2.1.33.1.6.3.18"), // upsAlarmGeneralFault
    };
    return ids;
}

int alarmIndex(const QString &oid)
{
    return alarmIdentifiers().indexOf(oid);
}
