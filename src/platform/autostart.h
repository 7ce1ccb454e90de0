#pragma once

#include <QString>

// The per-user XDG autostart entry ~/.config/autostart/Voltiguard.desktop.
namespace Autostart {
QString entryPath();
// Exec value for a program path, quoted and escaped per the Desktop Entry rules.
QString execValue(const QString &program);
bool install(const QString &program);
void remove();
} // namespace Autostart
