#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class UsmUserTable;

enum class SnmpVersion
{
    V1,
    V2c,
    V3
};

enum class SnmpSecurityLevel
{
    NoAuthNoPriv,
    AuthNoPriv,
    AuthPriv
};

// Everything one request carries: where it goes and how it is secured.
struct SnmpTarget
{
    QString address; // IPv4, dotted decimal
    quint16 port = 161;
    SnmpVersion version = SnmpVersion::V2c;
    QByteArray community;
    // SNMPv3: the user is looked up by name in the user table at send time.
    QString securityName;
    SnmpSecurityLevel securityLevel = SnmpSecurityLevel::NoAuthNoPriv;
    QByteArray contextName;
    QByteArray contextEngineId;
    int retries = 1;
    int timeoutMs = 1000;
};

struct SnmpVarBind
{
    QString oid;   // dotted decimal, no leading dot
    QString value; // printable: numbers in decimal, identifiers dotted
    int syntax = 0;
    // Null, noSuchObject, noSuchInstance or endOfMibView.
    bool isEmpty() const;
    // INTEGER, Counter32 or Gauge32 (Unsigned32).
    bool isInteger() const;
};

enum class SnmpEventKind
{
    Response,
    Notification, // trap or inform (informs are acknowledged before delivery)
    Timeout,
    Error
};

struct SnmpEvent
{
    SnmpEventKind kind = SnmpEventKind::Error;
    // The IPv4 address the datagram came from; for time-outs and errors the target's.
    QString sender;
    quint16 senderPort = 0;
    int errorStatus = 0;
    int errorIndex = 0;
    // Notifications: snmpTrapOID (an SNMPv1 trap is translated as RFC 3584 says);
    // sysUpTime.0 and snmpTrapOID.0 are not among the bindings.
    QString trapOid;
    // A notification that came with SNMPv3 authentication (authNoPriv or authPriv).
    bool authenticated = false;
    QList<SnmpVarBind> bindings;
    QString errorText;
};

using SnmpCallback = std::function<void(const SnmpEvent &)>;

// Our layer over net-snmp: asynchronous requests that each end in exactly one
// callback, trap and inform reception, and the event thread that runs the callbacks.
// Requests may be sent from any thread, including from inside a callback.
class SnmpSession
{
public:
    SnmpSession();
    ~SnmpSession();
    SnmpSession(const SnmpSession &) = delete;
    SnmpSession &operator=(const SnmpSession &) = delete;

    // False when the session could not be opened; requests then fail at once.
    bool isValid() const;
    QString errorText() const;

    // SNMPv3 credentials come from this table; its changes drop the keys localized so far.
    void setUserTable(UsmUserTable *users);
    // Forgets the keys net-snmp localized for that user, so new credentials take effect.
    void dropLocalizedKeys(const QString &userName);

    // Each returns false, without a callback, when the session is not valid, the target
    // address is not IPv4 dotted decimal or an identifier does not parse; otherwise the
    // callback runs exactly once on the event thread.
    bool get(const SnmpTarget &target, const QStringList &oids, SnmpCallback callback);
    bool getNext(const SnmpTarget &target, const QStringList &oids, SnmpCallback callback);
    bool getBulk(const SnmpTarget &target, const QStringList &oids, int nonRepeaters, int maxRepetitions,
                 SnmpCallback callback);

    // Receives traps and informs on all IPv4 interfaces at that UDP port; replaces an
    // earlier registration. On failure the reason is in *error.
    bool listen(quint16 port, SnmpCallback callback, QString *error = nullptr);
    // The only IPv4 address whose traps and informs are taken; datagrams from any other
    // are dropped unread (no keys derived, no inform answered). None until it is set.
    void setNotificationSender(const QString &address);
    void stopListening();
    quint16 listenPort() const;

    bool startEventThread();
    void stopEventThread();
    bool eventThreadRunning() const;
    // How often the event thread came out of its wait since the session was made.
    quint64 eventThreadWakeups() const;

    // The SNMPv3 engine boots that the local engine reports (informs are sent to it).
    static void setLocalEngineBoots(quint32 boots);
    static bool isValidAddress(const QString &address);
    // The local SNMPv3 engine ID, "not_needed".
    static QByteArray localEngineId();

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};
