#pragma once

#include <QObject>

class QDBusServiceWatcher;
class QSocketNotifier;
struct xcb_connection_t;

// Tells when a notification area exists: an XEmbed tray (an owner of the
// _NET_SYSTEM_TRAY_S<screen> selection) or a StatusNotifierWatcher with a registered
// host on the session bus. Qt chooses between its D-Bus and its XEmbed tray icon once
// per process, when the first tray icon is made or asked for, so that must wait until
// one of them is there: at login the panel often starts after the autostarted program.
class TrayHostWatcher : public QObject
{
    Q_OBJECT
public:
    explicit TrayHostWatcher(QObject *parent = nullptr);
    ~TrayHostWatcher() override;

    // Emits hostAvailable() at once when a host is already there, else when one appears.
    void start();

signals:
    // Emitted once.
    void hostAvailable();

private slots:
    // A slot by name: QDBusConnection::connect takes no function pointer.
    void checkStatusNotifierHost();

private:
    bool watchXEmbedTray();
    void readX11Events();
    void closeX11();
    void found();
    void stop();

    bool m_found = false;
    xcb_connection_t *m_x11 = nullptr;
    quint32 m_selection = 0;
    quint32 m_manager = 0;
    QSocketNotifier *m_x11Events = nullptr;
    QDBusServiceWatcher *m_services = nullptr;
};
