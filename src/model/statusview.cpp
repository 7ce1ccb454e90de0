#include "statusview.h"

#include "logevent.h"

namespace {
const QString greyLamp = QStringLiteral(":/file/images/grey.png");
const QString greenLamp = QStringLiteral(":/file/images/green.png");
const QString redLamp = QStringLiteral(":/file/images/red.png");

QString lamp(bool watched, bool failing)
{
    if (!watched)
        return greyLamp;
    return failing ? redLamp : greenLamp;
}
} // namespace

StatusView statusView(const UpsStatusSnapshot &status, const LampSwitches &switches, int &blinkPhase)
{
    StatusView v;
    v.utilityLamp = v.batteryLamp = v.upsLamp = greyLamp;
    if (status.agentLink != LinkGood) {
        v.stateText = eventText(AgentUnconnected);
        v.colour = Qt::red;
        v.picture = QStringLiteral(":/file/images/stop.png");
        v.pictureSize = QSize(20, 20);
        v.trayIcon = QStringLiteral(":/file/images/offline_1.PNG");
    } else if (status.upsLink != LinkGood) {
        v.stateText = eventText(UpsUnconnected);
        v.colour = Qt::darkYellow;
        v.picture = QStringLiteral(":/file/images/question.png");
        v.trayIcon = QStringLiteral(":/file/images/15.png");
    } else {
        v.stateText = eventText(AgentAndUpsConnected);
        v.colour = Qt::darkGreen;
        if (blinkPhase == 0) {
            blinkPhase = 1;
            v.picture = QStringLiteral(":/file/images/12.png");
            v.trayIcon = QStringLiteral(":/file/images/online_1.png");
        } else {
            blinkPhase = 0;
            v.picture = QStringLiteral(":/file/images/131.png");
            v.trayIcon = QStringLiteral(":/file/images/onlineA_1.png");
        }
        v.utilityLamp = lamp(switches.utility, status.utilityFail);
        v.batteryLamp = lamp(switches.battery, status.batteryLow);
        v.upsLamp = lamp(switches.ups, status.upsFail);
    }
    v.toolTip = appTitle + QLatin1Char(',') + v.stateText;
    return v;
}
