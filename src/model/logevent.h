#pragma once

#include <QList>
#include <QReadWriteLock>
#include <QString>
#include <QStringList>

// Stored in log.db and used as index into eventTexts.
enum LogEventId
{
    UtilityFail = 0,
    BatteryLow = 1,
    UpsFail = 2,
    UtilityNormal = 3,
    BatteryNormal = 4,
    UpsNormal = 5,
    AgentUnconnected = 6,
    AgentConnected = 7,
    UpsUnconnected = 8,
    UpsConnected = 9,
    WindowsSystemShutdown = 10,
    LinuxSystemShutdown = 11,
    AgentAndUpsConnected = 12,
    // The power-off was refused or failed; an older build shows the number.
    ShutdownFailed = 13,
};
constexpr int logEventIdCount = 14;

struct LogEvent
{
    QString time; // local time "yyyy-MM-dd hh:mm:ss" when the event was produced
    int id = 0;

    bool operator==(const LogEvent &o) const { return time == o.time && id == o.id; }
};

extern QList<LogEvent> pendingEvents;
extern QReadWriteLock pendingEventsLock;

extern QStringList eventTexts;
extern QString appTitle;

// Translates the event texts and the title (context MainWindow); call after the
// translators are installed.
void buildEventTexts();
// The text of an event id, or the number itself for ids the table does not know.
QString eventText(int id);
// Events that mean the machine's power is at risk or no longer watched; the desktop
// shows their notifications as critical.
bool eventIsCritical(int id);

void queueEvents(const QList<LogEvent> &events);
QString timeText();
