#include "platform/atspiclient.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QMutexLocker>
#include <QThread>
#include <algorithm>
#include <unistd.h>

namespace {
const QString registryService = QStringLiteral("org.a11y.atspi.Registry");
const QString rootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
const QString accessibleInterface = QStringLiteral("org.a11y.atspi.Accessible");
const QString actionInterface = QStringLiteral("org.a11y.atspi.Action");
const QString textInterface = QStringLiteral("org.a11y.atspi.Text");
const QString editableTextInterface = QStringLiteral("org.a11y.atspi.EditableText");
const QString componentInterface = QStringLiteral("org.a11y.atspi.Component");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// An application that stops answering costs at most this per call.
constexpr int callTimeoutMs = 2000;
// Bounds on one walk through a window, against trees that never end.
constexpr int maxNodes = 3000;
constexpr int maxDepth = 40;
// GTK's file chooser drops a click that comes right after its text was set.
constexpr unsigned long settleMs = 300;

// AT-SPI roles and states (the numbers of the D-Bus protocol).
enum Role : quint32
{
    RoleAlert = 2,
    RoleComboBox = 11,
    RoleDialog = 16,
    RoleFileChooser = 19,
    RoleList = 31,
    RoleMenu = 33,
    RoleMenuBar = 34,
    RolePopupMenu = 41,
    RolePushButton = 43,
    RoleTable = 55,
    RoleText = 61,
    RoleTree = 65,
    RoleTreeTable = 66,
    RoleEntry = 79,
    RoleListBox = 98,
};
enum State : int
{
    StateActive = 1,
    StateDefunct = 6,
    StateEditable = 7,
    StateFocused = 12,
    StateModal = 16,
    StateMultiLine = 17,
    StateShowing = 25,
    StateIsDefault = 39,
};
constexpr quint32 keySym = 3;        // ATSPI_KEY_SYM: keycode carries a keysym
constexpr int returnKeysym = 0xff0d; // XK_Return

bool has(quint64 states, int state)
{
    return (states >> state) & 1u;
}

bool isPruned(quint32 role)
{
    switch (role) {
    case RoleComboBox:
    case RoleList:
    case RoleMenu:
    case RoleMenuBar:
    case RolePopupMenu:
    case RoleTable:
    case RoleTree:
    case RoleTreeTable:
    case RoleListBox:
        return true;
    default:
        return false;
    }
}

bool isEditField(const AtspiClient::Node &node)
{
    return (node.role == RoleText || node.role == RoleEntry) && has(node.states, StateEditable) &&
           !has(node.states, StateMultiLine);
}

UiElement toElement(const AtspiClient::Node &node)
{
    UiElement e;
    e.id = node.service + node.path;
    if (node.role == RolePushButton)
        e.role = UiElement::Role::Button;
    else if (isEditField(node))
        e.role = UiElement::Role::EditField;
    else if (node.role == RoleAlert || node.role == RoleDialog || node.role == RoleFileChooser)
        e.role = UiElement::Role::Window;
    e.label = node.name;
    e.isDefault = has(node.states, StateIsDefault);
    return e;
}

// Element ids are the D-Bus service followed by the object path.
bool split(const UiElement &element, QString *service, QString *path)
{
    const qsizetype slash = element.id.indexOf(QLatin1Char('/'));
    if (slash <= 0)
        return false;
    *service = element.id.left(slash);
    *path = element.id.mid(slash);
    return true;
}

quint64 statesOf(const QDBusMessage &reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return 0;
    const QDBusArgument arg = reply.arguments().constFirst().value<QDBusArgument>();
    QList<quint32> words;
    arg >> words;
    quint64 states = 0;
    if (!words.isEmpty())
        states |= words.at(0);
    if (words.size() > 1)
        states |= quint64(words.at(1)) << 32;
    return states;
}

QVariant firstValue(const QDBusMessage &reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    QVariant value = reply.arguments().constFirst();
    if (value.canConvert<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}
} // namespace

QList<std::pair<QString, QString>> atspiReferences(const QDBusMessage &reply)
{
    QList<std::pair<QString, QString>> refs;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return refs;
    const QDBusArgument arg = reply.arguments().constFirst().value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        QString service;
        QDBusObjectPath path;
        arg.beginStructure();
        arg >> service >> path;
        arg.endStructure();
        refs.append({service, path.path()});
    }
    arg.endArray();
    return refs;
}

AtspiClient::AtspiClient(QString fallbackAddress)
    : m_fallbackAddress(std::move(fallbackAddress)),
      m_connectionName(QStringLiteral("voltiguard-a11y-%1").arg(reinterpret_cast<quintptr>(this)))
{
}

AtspiClient::~AtspiClient()
{
    if (m_connected)
        QDBusConnection::disconnectFromBus(m_connectionName);
}

bool AtspiClient::connected()
{
    if (m_connected && QDBusConnection(m_connectionName).isConnected())
        return true;
    if (m_connected)
        QDBusConnection::disconnectFromBus(m_connectionName);
    m_connected = false;
    m_servicePids.clear();
    QString address;
    QDBusConnection session = QDBusConnection::sessionBus();
    if (session.isConnected()) {
        const QDBusMessage reply =
            session.call(QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                                        QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")),
                         QDBus::Block, callTimeoutMs);
        address = firstValue(reply).toString();
    }
    if (address.isEmpty())
        address = m_fallbackAddress;
    if (address.isEmpty())
        return false;
    QDBusConnection bus = QDBusConnection::connectToBus(address, m_connectionName);
    m_connected = true;
    return bus.isConnected();
}

QDBusMessage AtspiClient::call(const QString &service, const QString &path, const QString &interface,
                               const QString &method, const QVariantList &args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    return QDBusConnection(m_connectionName).call(message, QDBus::Block, callTimeoutMs);
}

QList<AtspiClient::Node> AtspiClient::children(const QString &service, const QString &path, bool withNames)
{
    QList<Node> nodes;
    const auto refs = atspiReferences(call(service, path, accessibleInterface, QStringLiteral("GetChildren")));
    if (refs.isEmpty())
        return nodes;
    // One round of calls for all children at once: each round trip to a toolkit
    // costs far more than the answer.
    QDBusConnection bus(m_connectionName);
    QList<QDBusPendingCall> roles, states, names;
    for (const auto &[childService, childPath] : refs) {
        roles.append(bus.asyncCall(
            QDBusMessage::createMethodCall(childService, childPath, accessibleInterface, QStringLiteral("GetRole")),
            callTimeoutMs));
        states.append(bus.asyncCall(
            QDBusMessage::createMethodCall(childService, childPath, accessibleInterface, QStringLiteral("GetState")),
            callTimeoutMs));
        if (withNames) {
            QDBusMessage get =
                QDBusMessage::createMethodCall(childService, childPath, propertiesInterface, QStringLiteral("Get"));
            get << accessibleInterface << QStringLiteral("Name");
            names.append(bus.asyncCall(get, callTimeoutMs));
        }
    }
    for (qsizetype i = 0; i < refs.size(); ++i) {
        roles[i].waitForFinished();
        states[i].waitForFinished();
        Node node;
        node.service = refs.at(i).first;
        node.path = refs.at(i).second;
        node.role = firstValue(roles.at(i).reply()).toUInt();
        node.states = statesOf(states.at(i).reply());
        if (withNames) {
            names[i].waitForFinished();
            node.name = firstValue(names.at(i).reply()).toString();
        }
        nodes.append(node);
    }
    return nodes;
}

void AtspiClient::walk(const UiElement &window, const std::function<void(const Node &)> &visit)
{
    QString service, path;
    if (!split(window, &service, &path))
        return;
    int budget = maxNodes;
    std::function<void(const QString &, const QString &, int)> descend = [&](const QString &s, const QString &p,
                                                                             int depth) {
        const QList<Node> nodes = children(s, p, true);
        for (const Node &node : nodes) {
            if (--budget < 0)
                return;
            if (!has(node.states, StateShowing) || has(node.states, StateDefunct))
                continue;
            visit(node);
            if (depth < maxDepth && !isPruned(node.role))
                descend(node.service, node.path, depth + 1);
        }
    };
    descend(service, path, 0);
}

qint64 AtspiClient::servicePid(const QString &service)
{
    if (const auto it = m_servicePids.constFind(service); it != m_servicePids.constEnd())
        return *it;
    const QDBusMessage reply =
        call(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
             QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"), {service});
    const qint64 pid = firstValue(reply).toLongLong();
    // Unique bus names are never reused, so what is known stays true.
    if (pid > 0)
        m_servicePids.insert(service, pid);
    return pid;
}

void AtspiClient::settle()
{
    QThread::msleep(settleMs);
}

QList<UiElement> AtspiClient::dialogWindows(qint64 pid)
{
    QMutexLocker lock(&m_mutex);
    QList<UiElement> result;
    if (pid <= 0 || pid == getpid() || !connected())
        return result;
    const auto apps =
        atspiReferences(call(registryService, rootPath, accessibleInterface, QStringLiteral("GetChildren")));
    for (const auto &[service, path] : apps) {
        if (servicePid(service) != pid)
            continue;
        const QList<Node> windows = children(service, path, true);
        // Frontmost first. The active window is; else an alert, which asks about
        // the window below it (an overwrite question over its save dialog); else
        // the newest, as far as the toolkit's order tells (Qt's order is its own).
        QList<std::pair<int, UiElement>> found;
        for (auto it = windows.crbegin(); it != windows.crend(); ++it) {
            const Node &w = *it;
            const bool dialogRole = w.role == RoleAlert || w.role == RoleDialog || w.role == RoleFileChooser;
            if (!has(w.states, StateShowing) || has(w.states, StateDefunct) ||
                !(dialogRole || has(w.states, StateModal)))
                continue;
            UiElement e = toElement(w);
            e.role = UiElement::Role::Window;
            found.append({has(w.states, StateActive) ? 0 : w.role == RoleAlert ? 1 : 2, e});
        }
        std::stable_sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        for (const auto &entry : found)
            result.append(entry.second);
    }
    return result;
}

QList<UiElement> AtspiClient::visibleChildren(const UiElement &window)
{
    QMutexLocker lock(&m_mutex);
    QList<UiElement> result;
    if (connected())
        walk(window, [&](const Node &node) { result.append(toElement(node)); });
    return result;
}

QList<UiElement> AtspiClient::buttons(const UiElement &window)
{
    QMutexLocker lock(&m_mutex);
    QList<UiElement> result;
    if (connected()) {
        walk(window, [&](const Node &node) {
            if (node.role == RolePushButton)
                result.append(toElement(node));
        });
    }
    return result;
}

QList<UiElement> AtspiClient::editFields(const UiElement &window)
{
    QMutexLocker lock(&m_mutex);
    QList<UiElement> focused, others;
    if (connected()) {
        walk(window, [&](const Node &node) {
            if (isEditField(node))
                (has(node.states, StateFocused) ? focused : others).append(toElement(node));
        });
    }
    return focused + others;
}

bool AtspiClient::isShowing(const UiElement &element)
{
    QMutexLocker lock(&m_mutex);
    QString service, path;
    if (!split(element, &service, &path) || !connected())
        return false;
    const QDBusMessage reply = call(service, path, accessibleInterface, QStringLiteral("GetState"));
    // A closed dialog's objects are gone ("No such object path").
    if (reply.type() != QDBusMessage::ReplyMessage)
        return false;
    const quint64 states = statesOf(reply);
    return has(states, StateShowing) && !has(states, StateDefunct);
}

bool AtspiClient::press(const UiElement &button)
{
    QMutexLocker lock(&m_mutex);
    QString service, path;
    if (!split(button, &service, &path) || !connected())
        return false;
    // GTK names the action "click", Qt "Press"; without either, the first.
    int index = 0;
    const QDBusMessage actions = call(service, path, actionInterface, QStringLiteral("GetActions"));
    if (actions.type() == QDBusMessage::ReplyMessage && !actions.arguments().isEmpty()) {
        const QDBusArgument arg = actions.arguments().constFirst().value<QDBusArgument>();
        arg.beginArray();
        for (int i = 0; !arg.atEnd(); ++i) {
            QString name, description, keys;
            arg.beginStructure();
            arg >> name >> description >> keys;
            arg.endStructure();
            const QString lower = name.toLower();
            if (lower == QLatin1String("click") || lower == QLatin1String("press") ||
                lower == QLatin1String("activate")) {
                index = i;
                break;
            }
        }
    }
    const QDBusMessage reply = call(service, path, actionInterface, QStringLiteral("DoAction"), {index});
    return firstValue(reply).toBool();
}

bool AtspiClient::grabFocus(const UiElement &element)
{
    QMutexLocker lock(&m_mutex);
    QString service, path;
    if (!split(element, &service, &path) || !connected())
        return false;
    return firstValue(call(service, path, componentInterface, QStringLiteral("GrabFocus"))).toBool();
}

bool AtspiClient::pressReturnKey()
{
    QMutexLocker lock(&m_mutex);
    if (!connected())
        return false;
    const QDBusMessage reply = call(registryService, QStringLiteral("/org/a11y/atspi/registry/deviceeventcontroller"),
                                    QStringLiteral("org.a11y.atspi.DeviceEventController"),
                                    QStringLiteral("GenerateKeyboardEvent"), {returnKeysym, QString(), keySym});
    return reply.type() == QDBusMessage::ReplyMessage;
}

bool AtspiClient::typeText(const UiElement &field, const QString &text)
{
    QMutexLocker lock(&m_mutex);
    QString service, path;
    if (!split(field, &service, &path) || !connected())
        return false;
    // Typing replaces a selection, as at the keyboard.
    const int selections = firstValue(call(service, path, textInterface, QStringLiteral("GetNSelections"))).toInt();
    if (selections > 0) {
        const QDBusMessage selection = call(service, path, textInterface, QStringLiteral("GetSelection"), {0});
        if (selection.type() == QDBusMessage::ReplyMessage && selection.arguments().size() >= 2) {
            const int start = selection.arguments().at(0).toInt();
            const int end = selection.arguments().at(1).toInt();
            if (end > start)
                call(service, path, editableTextInterface, QStringLiteral("DeleteText"), {start, end});
        }
    }
    QDBusMessage get = QDBusMessage::createMethodCall(service, path, propertiesInterface, QStringLiteral("Get"));
    get << textInterface << QStringLiteral("CaretOffset");
    const int caret =
        qMax(0, firstValue(QDBusConnection(m_connectionName).call(get, QDBus::Block, callTimeoutMs)).toInt());
    const int length = static_cast<int>(text.toUcs4().size());
    const bool typed =
        firstValue(call(service, path, editableTextInterface, QStringLiteral("InsertText"), {caret, text, length}))
            .toBool();
    settle();
    return typed;
}

QString AtspiClient::text(const UiElement &field)
{
    QMutexLocker lock(&m_mutex);
    QString service, path;
    if (!split(field, &service, &path) || !connected())
        return {};
    return firstValue(call(service, path, textInterface, QStringLiteral("GetText"), {0, -1})).toString();
}

bool AtspiClient::setText(const UiElement &field, const QString &text)
{
    QMutexLocker lock(&m_mutex);
    QString service, path;
    if (!split(field, &service, &path) || !connected())
        return false;
    const bool set =
        firstValue(call(service, path, editableTextInterface, QStringLiteral("SetTextContents"), {text})).toBool();
    settle();
    return set;
}

qint64 AtspiClient::processOf(const UiElement &element)
{
    QMutexLocker lock(&m_mutex);
    QString service, path;
    if (!split(element, &service, &path) || !connected())
        return 0;
    return servicePid(service);
}
