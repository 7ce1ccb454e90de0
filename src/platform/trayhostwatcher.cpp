#include "platform/trayhostwatcher.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QSocketNotifier>
#ifdef VOLTIGUARD_DESKTOP_X11
#include <cstdlib>
#include <xcb/xcb.h>
#endif

namespace {
const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString hostRegisteredSignal = QStringLiteral("StatusNotifierHostRegistered");
} // namespace

TrayHostWatcher::TrayHostWatcher(QObject *parent) : QObject(parent) {}

TrayHostWatcher::~TrayHostWatcher()
{
    stop();
}

void TrayHostWatcher::start()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        m_services = new QDBusServiceWatcher(watcherService, bus, QDBusServiceWatcher::WatchForRegistration, this);
        connect(m_services, &QDBusServiceWatcher::serviceRegistered, this, &TrayHostWatcher::checkStatusNotifierHost);
        bus.connect(watcherService, watcherPath, watcherService, hostRegisteredSignal, this,
                    SLOT(checkStatusNotifierHost()));
        checkStatusNotifierHost();
    }
    if (!m_found && watchXEmbedTray())
        found();
}

void TrayHostWatcher::checkStatusNotifierHost()
{
    if (m_found)
        return;
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    // Asked only of a watcher that runs: starting one is the desktop's business.
    get.setAutoStartService(false);
    const QDBusReply<QDBusVariant> reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 2000);
    if (reply.isValid() && reply.value().variant().toBool())
        found();
}

void TrayHostWatcher::found()
{
    if (m_found)
        return;
    m_found = true;
    stop();
    emit hostAvailable();
}

// Deleted later: found() may run inside a signal of the notifier or the service watcher.
void TrayHostWatcher::stop()
{
    if (m_x11Events) {
        m_x11Events->setEnabled(false);
        m_x11Events->deleteLater();
        m_x11Events = nullptr;
    }
    closeX11();
    if (m_services) {
        QDBusConnection::sessionBus().disconnect(watcherService, watcherPath, watcherService, hostRegisteredSignal,
                                                 this, SLOT(checkStatusNotifierHost()));
        m_services->deleteLater();
        m_services = nullptr;
    }
}

#ifdef VOLTIGUARD_DESKTOP_X11
namespace {
quint32 internAtom(xcb_connection_t *connection, const QByteArray &name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, name.size(), name.constData()), nullptr);
    const quint32 atom = reply ? reply->atom : 0;
    std::free(reply);
    return atom;
}
} // namespace

// True when a tray is there already; otherwise listens for the MANAGER message that a
// tray sends to the root window when it takes the selection.
bool TrayHostWatcher::watchXEmbedTray()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return false;
    int screen = 0;
    m_x11 = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(m_x11))
        return false;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_x11));
    for (int i = 0; i < screen && it.rem > 0; ++i)
        xcb_screen_next(&it);
    if (it.rem == 0)
        return false;
    m_selection = internAtom(m_x11, "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen));
    m_manager = internAtom(m_x11, "MANAGER");
    // Listening before asking, so that a tray starting in between is not missed.
    const quint32 mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_x11, it.data->root, XCB_CW_EVENT_MASK, &mask);
    xcb_get_selection_owner_reply_t *owner =
        xcb_get_selection_owner_reply(m_x11, xcb_get_selection_owner(m_x11, m_selection), nullptr);
    const bool owned = owner && owner->owner != XCB_NONE;
    std::free(owner);
    if (owned)
        return true;
    m_x11Events = new QSocketNotifier(xcb_get_file_descriptor(m_x11), QSocketNotifier::Read, this);
    connect(m_x11Events, &QSocketNotifier::activated, this, &TrayHostWatcher::readX11Events);
    // Waiting for the replies above may have queued events already read from the socket.
    readX11Events();
    return false;
}

void TrayHostWatcher::readX11Events()
{
    bool trayStarted = false;
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_x11)) {
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            const auto *message = reinterpret_cast<const xcb_client_message_event_t *>(event);
            trayStarted |= message->type == m_manager && message->data.data32[1] == m_selection;
        }
        std::free(event);
    }
    if (trayStarted)
        found();
    else if (xcb_connection_has_error(m_x11))
        m_x11Events->setEnabled(false);
}

void TrayHostWatcher::closeX11()
{
    if (m_x11)
        xcb_disconnect(m_x11);
    m_x11 = nullptr;
}
#else
bool TrayHostWatcher::watchXEmbedTray()
{
    return false;
}

void TrayHostWatcher::readX11Events() {}

void TrayHostWatcher::closeX11() {}
#endif
