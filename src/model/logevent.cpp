#include "logevent.h"

#include <QCoreApplication>
#include <QDateTime>

QList<LogEvent> pendingEvents;
QReadWriteLock pendingEventsLock;
QStringList eventTexts;
QString appTitle;

void buildEventTexts()
{
    eventTexts = QStringList{
        QCoreApplication::translate("MainWindow", "Utility Fail"),
        QCoreApplication::translate("MainWindow", "Battery Low"),
        QCoreApplication::translate("MainWindow", "UPS Fail"),
        QCoreApplication::translate("MainWindow", "Utility Normal"),
        QCoreApplication::translate("MainWindow", "Battery Normal"),
        QCoreApplication::translate("MainWindow", "UPS Normal"),
        QCoreApplication::translate("MainWindow", "Agent Unconnected"),
        QCoreApplication::translate("MainWindow", "Agent Connected"),
        QCoreApplication::translate("MainWindow", "UPS Unconnected"),
        QCoreApplication::translate("MainWindow", "UPS Connected"),
        QCoreApplication::translate("MainWindow", "Windows System Shutdown"),
        QCoreApplication::translate("MainWindow", "Linux System Shutdown"),
        QCoreApplication::translate("MainWindow", "Agent and UPS Connected"),
        QCoreApplication::translate("MainWindow", "Shutdown Failed"),
    };
    appTitle = QCoreApplication::translate("MainWindow", "Voltiguard");
}

QString eventText(int id)
{
    if (id >= 0 && id < eventTexts.size())
        return eventTexts.at(id);
    return QString::number(id);
}

bool eventIsCritical(int id)
{
    switch (id) {
    case UtilityFail:
    case BatteryLow:
    case UpsFail:
    case AgentUnconnected:
    case UpsUnconnected:
    case ShutdownFailed:
        return true;
    default:
        return false;
    }
}

void queueEvents(const QList<LogEvent> &events)
{
    if (events.isEmpty())
        return;
    QWriteLocker locker(&pendingEventsLock);
    pendingEvents.append(events);
}

QString timeText()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}
