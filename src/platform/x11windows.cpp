#include "platform/x11windows.h"

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QSysInfo>
#include <QThread>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {
// ICCCM WM_STATE values.
constexpr quint32 withdrawnState = 0;

// Window types that are never an application's own main window.
const char *const nonApplicationTypes[] = {"_NET_WM_WINDOW_TYPE_DESKTOP", "_NET_WM_WINDOW_TYPE_DOCK",
                                           "_NET_WM_WINDOW_TYPE_DIALOG",  "_NET_WM_WINDOW_TYPE_SPLASH",
                                           "_NET_WM_WINDOW_TYPE_UTILITY", "_NET_WM_WINDOW_TYPE_TOOLBAR",
                                           "_NET_WM_WINDOW_TYPE_MENU",    "_NET_WM_WINDOW_TYPE_NOTIFICATION"};

// File managers hold no unsaved documents; closing them only costs the user their places.
bool isFileManager(const QString &className)
{
    static const QStringList names = {QStringLiteral("nautilus"),       QStringLiteral("org.gnome.nautilus"),
                                      QStringLiteral("thunar"),         QStringLiteral("pcmanfm"),
                                      QStringLiteral("pcmanfm-qt"),     QStringLiteral("nemo"),
                                      QStringLiteral("caja"),           QStringLiteral("dolphin"),
                                      QStringLiteral("org.kde.dolphin")};
    return names.contains(className.toLower());
}

// Titles are kept to 255 UTF-16 units, without a split surrogate pair.
QString limitTitle(QString title)
{
    if (title.size() > 255) {
        title.truncate(255);
        if (title.back().isHighSurrogate())
            title.chop(1);
    }
    return title;
}
} // namespace

std::unique_ptr<X11Windows> X11Windows::connect()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return nullptr;
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem > 0; ++i)
        xcb_screen_next(&it);
    if (it.rem == 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<X11Windows>(new X11Windows(connection, it.data->root));
}

X11Windows::X11Windows(xcb_connection_t *connection, quint32 root)
    : m_connection(connection), m_root(root), m_hostName(QSysInfo::machineHostName().toUtf8())
{
}

X11Windows::~X11Windows()
{
    xcb_disconnect(m_connection);
}

quint32 X11Windows::atom(const char *name)
{
    const QByteArray key(name);
    if (const auto it = m_atoms.constFind(key); it != m_atoms.constEnd())
        return *it;
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, static_cast<uint16_t>(key.size()), key.constData()), nullptr);
    const quint32 value = reply ? reply->atom : quint32(XCB_ATOM_NONE);
    std::free(reply);
    if (value != XCB_ATOM_NONE)
        m_atoms.insert(key, value);
    return value;
}

QByteArray X11Windows::property(quint32 window, quint32 prop, quint32 type)
{
    // Large enough for any title or list we read (the length is in 32-bit units).
    xcb_get_property_reply_t *reply =
        xcb_get_property_reply(m_connection, xcb_get_property(m_connection, 0, window, prop, type, 0, 65536), nullptr);
    QByteArray value;
    if (reply && reply->type != XCB_ATOM_NONE) {
        value =
            QByteArray(static_cast<const char *>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
        if (value.isEmpty())
            value = QByteArray("", 0);
    }
    std::free(reply);
    return value;
}

QList<quint32> X11Windows::windowList(quint32 window, quint32 prop, quint32 type)
{
    const QByteArray raw = property(window, prop, type);
    QList<quint32> list(raw.size() / 4);
    std::memcpy(list.data(), raw.constData(), static_cast<size_t>(list.size()) * 4);
    return list;
}

QList<quint32> X11Windows::atomList(quint32 window, quint32 prop)
{
    return windowList(window, prop, XCB_ATOM_ATOM);
}

qint64 X11Windows::ownProcessId(quint32 window)
{
    const QByteArray raw = property(window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
    if (raw.size() < 4)
        return 0;
    // The id is set by the client; it means nothing for a client of another host.
    QByteArray machine = property(window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING);
    while (machine.endsWith('\0'))
        machine.chop(1);
    if (!machine.isEmpty() && machine != m_hostName)
        return 0;
    quint32 pid = 0;
    std::memcpy(&pid, raw.constData(), 4);
    return pid;
}

QList<quint32> X11Windows::stackingTopmostFirst()
{
    QList<quint32> list = windowList(m_root, atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
    if (list.isEmpty())
        list = windowList(m_root, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
    std::reverse(list.begin(), list.end());
    return list;
}

QList<WindowInfo> X11Windows::applicationWindows()
{
    QMutexLocker lock(&m_mutex);
    const qint64 ourPid = getpid();
    const quint32 wmState = atom("WM_STATE");
    const quint32 minimise = atom("_NET_WM_ACTION_MINIMIZE");
    const quint32 maximiseH = atom("_NET_WM_ACTION_MAXIMIZE_HORZ");
    const quint32 maximiseV = atom("_NET_WM_ACTION_MAXIMIZE_VERT");
    QList<quint32> excludedTypes;
    for (const char *type : nonApplicationTypes)
        excludedTypes.append(atom(type));

    QList<WindowInfo> result;
    const QList<quint32> windows = stackingTopmostFirst();
    for (quint32 w : windows) {
        // Managed and not withdrawn; minimised windows still hold documents.
        const QByteArray state = property(w, wmState, wmState);
        if (state.isNull())
            continue;
        if (state.size() >= 4) {
            quint32 value = 0;
            std::memcpy(&value, state.constData(), 4);
            if (value == withdrawnState)
                continue;
        }
        const QList<quint32> actions = atomList(w, atom("_NET_WM_ALLOWED_ACTIONS"));
        if (!actions.isEmpty() && !actions.contains(minimise) && !actions.contains(maximiseH) &&
            !actions.contains(maximiseV))
            continue;
        const QList<quint32> types = atomList(w, atom("_NET_WM_WINDOW_TYPE"));
        if (std::any_of(types.begin(), types.end(), [&](quint32 t) { return excludedTypes.contains(t); }))
            continue;
        // Prompts and dialogs are transient for their main window.
        if (!property(w, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW).isNull())
            continue;
        const QList<QByteArray> classParts = property(w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).split('\0');
        const QString className = classParts.size() > 1 ? QString::fromLocal8Bit(classParts.at(1)) : QString();
        if (isFileManager(className))
            continue;
        QString title = QString::fromUtf8(property(w, atom("_NET_WM_NAME"), atom("UTF8_STRING")));
        if (title.isEmpty())
            title = QString::fromLatin1(property(w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING));
        title = limitTitle(title);
        if (title.isEmpty())
            continue;
        // Never our own windows, whatever their title.
        if (ownProcessId(w) == ourPid)
            continue;
        result.append(WindowInfo{w, title, className});
    }
    return result;
}

qint64 X11Windows::windowProcessId(quint32 window)
{
    QMutexLocker lock(&m_mutex);
    return ownProcessId(window);
}

bool X11Windows::isWindowVisible(quint32 window)
{
    QMutexLocker lock(&m_mutex);
    if (!stackingTopmostFirst().contains(window))
        return false;
    const quint32 wmState = atom("WM_STATE");
    const QByteArray state = property(window, wmState, wmState);
    if (state.size() < 4)
        return !state.isNull();
    quint32 value = 0;
    std::memcpy(&value, state.constData(), 4);
    return value != withdrawnState;
}

void X11Windows::clientMessage(quint32 window, quint32 type, quint32 l0, quint32 l1, quint32 l2)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    event.data.data32[0] = l0;
    event.data.data32[1] = l1;
    event.data.data32[2] = l2;
    xcb_send_event(m_connection, 0, m_root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
    // A round trip, so the message has reached the server when we return.
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

void X11Windows::activate(quint32 window)
{
    QMutexLocker lock(&m_mutex);
    // Source 2: a pager, which window managers obey without focus-stealing checks.
    clientMessage(window, atom("_NET_ACTIVE_WINDOW"), 2, XCB_CURRENT_TIME, 0);
}

void X11Windows::requestClose(quint32 window)
{
    QMutexLocker lock(&m_mutex);
    clientMessage(window, atom("_NET_CLOSE_WINDOW"), XCB_CURRENT_TIME, 2, 0);
}

void X11Windows::activateProcess(qint64 pid)
{
    QMutexLocker lock(&m_mutex);
    const quint32 active = atom("_NET_ACTIVE_WINDOW");
    auto activeWindow = [&] {
        const QList<quint32> list = windowList(m_root, active, XCB_ATOM_WINDOW);
        return list.isEmpty() ? 0u : list.first();
    };
    const quint32 current = activeWindow();
    if (current != 0 && ownProcessId(current) == pid)
        return;
    const QList<quint32> windows = stackingTopmostFirst();
    const auto target = std::find_if(windows.begin(), windows.end(), [&](quint32 w) { return ownProcessId(w) == pid; });
    if (target == windows.end())
        return;
    clientMessage(*target, active, 2, XCB_CURRENT_TIME, 0);
    // The window manager answers within milliseconds; do not let keys go elsewhere.
    const QDeadlineTimer deadline(500);
    while (activeWindow() != *target && !deadline.hasExpired())
        QThread::msleep(10);
}

QString X11Windows::rootProperty(const QString &name)
{
    QMutexLocker lock(&m_mutex);
    QByteArray value = property(m_root, atom(name.toLatin1().constData()), XCB_GET_PROPERTY_TYPE_ANY);
    while (value.endsWith('\0'))
        value.chop(1);
    return QString::fromUtf8(value);
}
