#pragma once

#include <QByteArray>

// Tells systemd about the service, as sd_notify() does: newline-separated
// assignments such as "READY=1", "RELOADING=1", "STOPPING=1" or "STATUS=<text>"
// (shown by systemctl status) in one datagram to $NOTIFY_SOCKET. Outside systemd
// there is no socket and nothing happens.
void notifyServiceManager(const QByteArray &state);
