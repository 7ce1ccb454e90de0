#pragma once

#include <QByteArray>
#include <QString>

// snmpv3_boot_counter: one line per engine ID, "<engine ID in hex> <boots>".
// Reading a missing or damaged file gives 0.
quint32 readBootCounter(const QString &path, const QByteArray &engineId);
// Stores the count for the engine ID and keeps the other lines; permissions 0600.
bool saveBootCounter(const QString &path, const QByteArray &engineId, quint32 boots);
