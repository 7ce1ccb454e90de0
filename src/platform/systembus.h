#pragma once

#include <QDBusConnection>
#include <QString>

// A connection of its own to the D-Bus system bus, named `name`, taken from the
// environment at this moment (DBUS_SYSTEM_BUS_ADDRESS when set): the shared
// QDBusConnection::systemBus() would keep the first address for the whole process.
QDBusConnection connectToSystemBus(const QString &name);
