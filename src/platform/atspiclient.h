#pragma once

#include "platform/desktopautomation.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QMutex>
#include <QString>
#include <functional>

// The (service, object path) pairs of an AT-SPI reply carrying an array of references,
// such as GetChildren; empty for an error or an unexpected reply.
QList<std::pair<QString, QString>> atspiReferences(const QDBusMessage &reply);

// Other processes' windows, buttons and text fields through AT-SPI 2: plain D-Bus
// calls on the desktop's accessibility bus (no libatspi, which is slow beside a
// running GLib main loop). Every call has a time-out, so an application that
// stops answering costs a bounded time.
class AtspiClient
{
public:
    // fallbackAddress: the bus address published on the X11 root window, used when
    // the session bus does not name one.
    explicit AtspiClient(QString fallbackAddress);
    ~AtspiClient();
    AtspiClient(const AtspiClient &) = delete;
    AtspiClient &operator=(const AtspiClient &) = delete;

    QList<UiElement> dialogWindows(qint64 pid);
    QList<UiElement> visibleChildren(const UiElement &window);
    QList<UiElement> buttons(const UiElement &window);
    QList<UiElement> editFields(const UiElement &window);
    bool isShowing(const UiElement &element);
    bool press(const UiElement &button);
    bool grabFocus(const UiElement &element);
    // Return as a key press and release, through the registry's device controller.
    bool pressReturnKey();
    bool typeText(const UiElement &field, const QString &text);
    QString text(const UiElement &field);
    bool setText(const UiElement &field, const QString &text);
    // The process that owns the element; 0 when unknown.
    qint64 processOf(const UiElement &element);

    struct Node
    {
        QString service;
        QString path;
        quint32 role = 0;
        quint64 states = 0;
        QString name;
    };

private:
    bool connected();
    QDBusMessage call(const QString &service, const QString &path, const QString &interface, const QString &method,
                      const QVariantList &args = {});
    QList<Node> children(const QString &service, const QString &path, bool withNames);
    // Depth first below the window: visit() sees every shown node. Lists, tables
    // and menus are not entered: their items are never what the saver presses.
    void walk(const UiElement &window, const std::function<void(const Node &)> &visit);
    qint64 servicePid(const QString &service);
    void settle();

    QMutex m_mutex;
    QString m_fallbackAddress;
    QString m_connectionName;
    bool m_connected = false;
    QHash<QString, qint64> m_servicePids;
};
