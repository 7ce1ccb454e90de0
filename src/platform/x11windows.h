#pragma once

#include "platform/desktopautomation.h"

#include <QHash>
#include <QMutex>
#include <QString>
#include <memory>

struct xcb_connection_t;

// Top-level windows of an X11 desktop through the window manager's EWMH hints:
// the client list, names, classes, process ids, and the client messages that
// activate and close a window. Its own connection, so it works from any thread.
class X11Windows
{
public:
    // Null when no X11 display can be reached.
    static std::unique_ptr<X11Windows> connect();
    ~X11Windows();
    X11Windows(const X11Windows &) = delete;
    X11Windows &operator=(const X11Windows &) = delete;

    QList<WindowInfo> applicationWindows();
    qint64 windowProcessId(quint32 window);
    bool isWindowVisible(quint32 window);
    void activate(quint32 window);
    void requestClose(quint32 window);
    // Activates the process's frontmost window, dialogs included, unless a window of
    // that process is active already: key events go to the focused window.
    void activateProcess(qint64 pid);
    // A text property of the root window, e.g. AT_SPI_BUS.
    QString rootProperty(const QString &name);

private:
    explicit X11Windows(xcb_connection_t *connection, quint32 root);
    quint32 atom(const char *name);
    QList<quint32> atomList(quint32 window, quint32 property);
    QList<quint32> windowList(quint32 window, quint32 property, quint32 type);
    QByteArray property(quint32 window, quint32 property, quint32 type);
    qint64 ownProcessId(quint32 window);
    void clientMessage(quint32 window, quint32 type, quint32 l0, quint32 l1, quint32 l2);
    QList<quint32> stackingTopmostFirst();

    QMutex m_mutex;
    xcb_connection_t *m_connection;
    quint32 m_root;
    QHash<QByteArray, quint32> m_atoms;
    QByteArray m_hostName;
};
