#pragma once

#include "upsstatus.h"

#include <QColor>
#include <QSize>
#include <QString>

struct LampSwitches
{
    bool utility = false;
    bool battery = false;
    bool ups = false;
};

// What the window and the tray show for one status snapshot; computed without
// widgets so that the three display states can be checked directly.
struct StatusView
{
    QString stateText;
    QColor colour;
    QString picture;
    QSize pictureSize; // invalid: the picture's own size
    QString trayIcon;
    QString utilityLamp;
    QString batteryLamp;
    QString upsLamp;
    QString toolTip;
};

// blinkPhase alternates while connected; it is advanced here as the display is built.
StatusView statusView(const UpsStatusSnapshot &status, const LampSwitches &switches, int &blinkPhase);
