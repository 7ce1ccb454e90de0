#include "snmpsession.h"

#include "usmusers.h"

#include <QFile>
#include <QStandardPaths>

// net-snmp's own headers need its configuration header first.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <net-snmp/library/lcd_time.h>
#include <net-snmp/library/snmp_transport.h>
#include <net-snmp/library/snmpusm.h>

#include <arpa/inet.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

// net-snmp is built without NETSNMP_REENTRANT here, so its USM list, engine-time cache
// and session lists are unguarded globals: every call into the library is made under
// this one process-wide mutex, and only select() runs outside it.

namespace {
using Clock = std::chrono::steady_clock;

std::mutex &libraryMutex()
{
    static std::mutex m;
    return m;
}
using LibLock = std::unique_lock<std::mutex>;

const QByteArray engineIdText("not_needed");
const QString sysUpTimeOid = QStringLiteral("1.3.6.1.2.1.1.3.0");
const QString snmpTrapOid = QStringLiteral("1.3.6.1.6.3.1.1.4.1.0");
constexpr int maxAutoLocalizedUsers = 128;
constexpr auto idleClientLifetime = std::chrono::seconds(30);

int discardLogMessage(int, int, void *, void *)
{
    return 1;
}

bool libraryReady = false;
quint32 pendingBoots = 0;

// Called under the library mutex.
void initLibrary()
{
    if (libraryReady)
        return;
    // net-snmp has no library setting for the MIB list itself.
    setenv("MIBS", "", 1);
    netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIBDIRS, "");
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    // The library still creates a directory below its persistent dir; keep it out of
    // the system's /var/lib/snmp, in the user's private runtime directory.
    static const QByteArray persistentDir = QFile::encodeName(
        QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/voltiguard-netsnmp"));
    mkdir(persistentDir.constData(), 0700);
    netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_PERSISTENT_DIR, persistentDir.constData());
    snmp_enable_calllog();
    snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, discardLogMessage, nullptr);
    set_exact_engineID(reinterpret_cast<const u_char *>(engineIdText.constData()), engineIdText.size());
    init_snmp("voltiguard");
    libraryReady = true;
}

// Called under the library mutex, after initLibrary.
void applyLocalBoots(quint32 boots)
{
    if (boots == 0)
        return;
    // engineBoots_conf stores its argument plus one.
    QByteArray previous = QByteArray::number(boots - 1);
    engineBoots_conf("engineBoots", previous.data());
    set_enginetime(reinterpret_cast<const u_char *>(engineIdText.constData()), engineIdText.size(),
                   snmpv3_local_snmpEngineBoots(), snmpv3_local_snmpEngineTime(), TRUE);
}

QString oidText(const oid *name, size_t len)
{
    QString out;
    out.reserve(int(len) * 3);
    for (size_t i = 0; i < len; ++i) {
        if (i)
            out += QLatin1Char('.');
        out += QString::number(name[i]);
    }
    return out;
}

bool parseOid(const QString &text, oid *out, size_t *len)
{
    QString t = text.trimmed();
    if (t.startsWith(QLatin1Char('.')))
        t.remove(0, 1);
    const QStringList parts = t.split(QLatin1Char('.'));
    if (parts.size() < 2 || parts.size() > MAX_OID_LEN)
        return false;
    size_t n = 0;
    for (const QString &p : parts) {
        bool ok = false;
        const qulonglong v = p.toULongLong(&ok);
        if (!ok || v > 0xffffffffULL)
            return false;
        out[n++] = static_cast<oid>(v);
    }
    *len = n;
    return true;
}

QString printableValue(const netsnmp_variable_list *v)
{
    switch (v->type) {
    case ASN_INTEGER:
        return QString::number(static_cast<long>(*v->val.integer));
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
    case ASN_UINTEGER:
        return QString::number(static_cast<unsigned long>(*v->val.integer) & 0xffffffffUL);
    case ASN_COUNTER64:
        return QString::number((quint64(v->val.counter64->high) << 32) | quint64(v->val.counter64->low));
    case ASN_OCTET_STR:
        return QString::fromUtf8(reinterpret_cast<const char *>(v->val.string), int(v->val_len));
    case ASN_OBJECT_ID:
        return oidText(v->val.objid, v->val_len / sizeof(oid));
    case ASN_IPADDRESS:
        if (v->val_len == 4) {
            const u_char *b = v->val.string;
            return QStringLiteral("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
        }
        break;
    case ASN_NULL:
    case SNMP_NOSUCHOBJECT:
    case SNMP_NOSUCHINSTANCE:
    case SNMP_ENDOFMIBVIEW:
        return QString();
    default:
        break;
    }
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(v->val.string), int(v->val_len)).toHex());
}

QList<SnmpVarBind> bindingsOf(const netsnmp_pdu *pdu)
{
    QList<SnmpVarBind> out;
    for (const netsnmp_variable_list *v = pdu->variables; v; v = v->next_variable)
        out.append(SnmpVarBind{oidText(v->name, v->name_length), printableValue(v), v->type});
    return out;
}

bool senderOf(const netsnmp_pdu *pdu, QString *address, quint16 *port)
{
    if (!pdu->transport_data || pdu->transport_data_length < int(sizeof(netsnmp_indexed_addr_pair)))
        return false;
    const auto *pair = static_cast<const netsnmp_indexed_addr_pair *>(pdu->transport_data);
    if (pair->remote_addr.sa.sa_family != AF_INET)
        return false;
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &pair->remote_addr.sin.sin_addr, buf, sizeof buf);
    *address = QString::fromLatin1(buf);
    *port = ntohs(pair->remote_addr.sin.sin_port);
    return true;
}

QString reportText(netsnmp_pdu *pdu)
{
    return QString::fromLatin1(snmp_api_errstring(snmpv3_get_report_type(pdu)));
}

const char *authName(UsmAuthProtocol p)
{
    switch (p) {
    case UsmAuthProtocol::HmacMd5:
        return "MD5";
    case UsmAuthProtocol::HmacSha:
        return "SHA";
    case UsmAuthProtocol::HmacSha224:
        return "SHA-224";
    case UsmAuthProtocol::HmacSha256:
        return "SHA-256";
    case UsmAuthProtocol::HmacSha384:
        return "SHA-384";
    case UsmAuthProtocol::HmacSha512:
        return "SHA-512";
    case UsmAuthProtocol::None:
        break;
    }
    return nullptr;
}

const char *privName(UsmPrivProtocol p)
{
    switch (p) {
    case UsmPrivProtocol::Des:
        return "DES";
    case UsmPrivProtocol::Aes128:
        return "AES";
    case UsmPrivProtocol::Aes192:
        return "AES-192";
    case UsmPrivProtocol::Aes256:
        return "AES-256";
    case UsmPrivProtocol::None:
        break;
    }
    return nullptr;
}

// Fills the USM fields of a session from a user; the protocol pointers refer to the
// library's static tables (sessions and usm_create_user_from_session copy them).
// Returns an error text, empty on success.
QString fillSecurity(netsnmp_session &s, const UsmUser &user, SnmpSecurityLevel level)
{
    s.securityLevel = SNMP_SEC_LEVEL_NOAUTH;
    if (level == SnmpSecurityLevel::NoAuthNoPriv && user.authProtocol == UsmAuthProtocol::None)
        return {};
    const char *auth = authName(user.authProtocol);
    if (!auth)
        return level == SnmpSecurityLevel::NoAuthNoPriv ? QString() : QStringLiteral("user has no authentication");
    size_t len = 0;
    oid *authOid = sc_get_auth_oid(usm_lookup_auth_type(auth), &len);
    if (!authOid)
        return QStringLiteral("authentication protocol not supported");
    s.securityAuthProto = authOid;
    s.securityAuthProtoLen = len;
    s.securityAuthKeyLen = USM_AUTH_KU_LEN;
    const QByteArray authPass = user.authPassword.toUtf8();
    if (generate_Ku(authOid, len, reinterpret_cast<const u_char *>(authPass.constData()), authPass.size(),
                    s.securityAuthKey, &s.securityAuthKeyLen) != SNMPERR_SUCCESS)
        return QStringLiteral("authentication password unusable (at least 8 characters)");

    const char *priv = privName(user.privProtocol);
    if (priv) {
        size_t plen = 0;
        oid *privOid = sc_get_priv_oid(usm_lookup_priv_type(priv), &plen);
        if (!privOid)
            return QStringLiteral("privacy protocol not supported");
        s.securityPrivProto = privOid;
        s.securityPrivProtoLen = plen;
        s.securityPrivKeyLen = USM_PRIV_KU_LEN;
        const QByteArray privPass = user.privPassword.toUtf8();
        if (generate_Ku(authOid, len, reinterpret_cast<const u_char *>(privPass.constData()), privPass.size(),
                        s.securityPrivKey, &s.securityPrivKeyLen) != SNMPERR_SUCCESS)
            return QStringLiteral("privacy password unusable (at least 8 characters)");
    } else if (level == SnmpSecurityLevel::AuthPriv) {
        return QStringLiteral("user has no privacy");
    }
    s.securityLevel = level == SnmpSecurityLevel::AuthPriv     ? SNMP_SEC_LEVEL_AUTHPRIV
                      : level == SnmpSecurityLevel::AuthNoPriv ? SNMP_SEC_LEVEL_AUTHNOPRIV
                                                               : SNMP_SEC_LEVEL_NOAUTH;
    return {};
}

// A minimal BER reader, enough to find the engine ID and user name of an SNMPv3 message.
struct BerReader
{
    const u_char *p;
    const u_char *end;

    bool next(u_char tag, BerReader *content)
    {
        if (end - p < 2 || *p != tag)
            return false;
        ++p;
        size_t len = *p++;
        if (len & 0x80) {
            const int n = int(len & 0x7f);
            if (n == 0 || n > 3 || end - p < n)
                return false;
            len = 0;
            for (int i = 0; i < n; ++i)
                len = (len << 8) | *p++;
        }
        if (size_t(end - p) < len)
            return false;
        *content = BerReader{p, p + len};
        p += len;
        return true;
    }
};

bool parseV3Header(const u_char *data, size_t size, QByteArray *engineId, QByteArray *userName)
{
    BerReader top{data, data + size}, msg, version, global, secOctets, sec, eid, boots, time, user;
    if (!top.next(0x30, &msg) || !msg.next(0x02, &version) || version.end - version.p != 1 || *version.p != 3)
        return false;
    if (!msg.next(0x30, &global) || !msg.next(0x04, &secOctets) || !secOctets.next(0x30, &sec))
        return false;
    if (!sec.next(0x04, &eid) || !sec.next(0x02, &boots) || !sec.next(0x02, &time) || !sec.next(0x04, &user))
        return false;
    *engineId = QByteArray(reinterpret_cast<const char *>(eid.p), int(eid.end - eid.p));
    *userName = QByteArray(reinterpret_cast<const char *>(user.p), int(user.end - user.p));
    return true;
}

// An SNMPv3 Report of usmStatsNotInTimeWindows or usmStatsUnknownEngineIDs: the agent
// restarted with fewer boots or was replaced. Reports travel unencrypted.
bool isEngineReport(const u_char *data, size_t size)
{
    BerReader top{data, data + size}, msg, version, global, secOctets, scoped, ctxEngine, ctxName, pdu, field, binds,
        bind, name;
    if (!top.next(0x30, &msg) || !msg.next(0x02, &version) || version.end - version.p != 1 || *version.p != 3)
        return false;
    if (!msg.next(0x30, &global) || !msg.next(0x04, &secOctets) || !msg.next(0x30, &scoped))
        return false;
    if (!scoped.next(0x04, &ctxEngine) || !scoped.next(0x04, &ctxName) || !scoped.next(0xa8, &pdu))
        return false;
    for (int i = 0; i < 3; ++i) {
        if (!pdu.next(0x02, &field))
            return false;
    }
    if (!pdu.next(0x30, &binds) || !binds.next(0x30, &bind) || !bind.next(0x06, &name))
        return false;
    // 1.3.6.1.6.3.15.1.1.2 and .4
    static const u_char usmStats[] = {0x2b, 6, 1, 6, 3, 15, 1, 1};
    const size_t n = sizeof usmStats;
    return size_t(name.end - name.p) > n && memcmp(name.p, usmStats, n) == 0 && (name.p[n] == 2 || name.p[n] == 4);
}
} // namespace

bool SnmpVarBind::isEmpty() const
{
    return syntax == ASN_NULL || syntax == SNMP_NOSUCHOBJECT || syntax == SNMP_NOSUCHINSTANCE ||
           syntax == SNMP_ENDOFMIBVIEW;
}

bool SnmpVarBind::isInteger() const
{
    return syntax == ASN_INTEGER || syntax == ASN_COUNTER || syntax == ASN_GAUGE;
}

struct Client;

struct RequestContext
{
    SnmpSession::Impl *impl = nullptr;
    Client *client = nullptr;
    SnmpCallback callback;
    QString address;
    quint16 port = 0;
    int timeoutMs = 1000;
    bool discovery = false;
    bool delivered = false;
    bool finished = false;
    // SNMPv3: the request as sent, to send it again when the agent's engine must be
    // learned anew.
    netsnmp_pdu *copy = nullptr;

    RequestContext() = default;
    RequestContext(const RequestContext &) = delete;
    RequestContext &operator=(const RequestContext &) = delete;
    ~RequestContext()
    {
        if (copy)
            snmp_free_pdu(copy);
    }
};

struct Queued
{
    netsnmp_pdu *pdu;
    RequestContext *ctx;
};

struct Client
{
    void *handle = nullptr;
    netsnmp_transport *transport = nullptr;
    SnmpTarget target;
    QString key;
    QString userName;
    bool v3 = false;
    // The agent reported that our idea of its engine is wrong; set while reading.
    bool engineLost = false;
    // Being replaced by a client that learns the engine anew.
    bool retired = false;
    enum State
    {
        Ready,
        Undiscovered,
        Discovering
    } state = Ready;
    std::vector<Queued> queued;
    int timeoutsInRow = 0;
    Clock::time_point lastUse = Clock::now();
};

struct Delivery
{
    SnmpCallback callback;
    SnmpEvent event;
};

using RecvFunction = int (*)(netsnmp_transport *, void *, int, void **, int *);

struct Wrapped
{
    SnmpSession::Impl *impl;
    RecvFunction recv;
    // Null for the notification listener.
    Client *client;
};

namespace {
// Transports whose receive function we wrapped; guarded by the library mutex.
std::map<netsnmp_transport *, Wrapped> &wrappedTransports()
{
    static std::map<netsnmp_transport *, Wrapped> m;
    return m;
}
int wrappedRecv(netsnmp_transport *t, void *buf, int size, void **opaque, int *olength);
int requestCallback(int op, netsnmp_session *sp, int reqid, netsnmp_pdu *pdu, void *magic);
int listenerCallback(int op, netsnmp_session *sp, int reqid, netsnmp_pdu *pdu, void *magic);
} // namespace

struct SnmpSession::Impl
{
    // Everything below is guarded by the library mutex unless said otherwise.
    bool valid = false;
    QString error;
    int wakeFd = -1;
    std::atomic<UsmUserTable *> users{nullptr};
    std::vector<std::unique_ptr<Client>> clients;
    std::list<std::unique_ptr<RequestContext>> contexts;
    std::vector<Delivery> ready;
    std::set<std::pair<QByteArray, QByteArray>> localizedFromTraffic;
    // Bumped whenever a socket is opened or closed, so that a select() result that
    // refers to an old descriptor set is not acted upon.
    quint64 generation = 0;

    void *listener = nullptr;
    netsnmp_transport *listenerTransport = nullptr;
    // The agent's address in network byte order; 0 takes nobody's notifications.
    in_addr_t notificationSender = 0;
    SnmpCallback trapCallback;
    quint16 listenPort = 0;

    std::thread thread;
    std::atomic<bool> stopThread{false};
    std::atomic<quint64> wakeups{0};
    bool shuttingDown = false;

    void wake() const
    {
        if (wakeFd >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = write(wakeFd, &one, sizeof one);
        }
    }

    void deliver(RequestContext *ctx, SnmpEvent event)
    {
        if (ctx->delivered)
            return;
        ctx->delivered = true;
        if (shuttingDown || !ctx->callback)
            return;
        if (event.sender.isEmpty()) {
            event.sender = ctx->address;
            event.senderPort = ctx->port;
        }
        ready.push_back(Delivery{ctx->callback, std::move(event)});
    }

    void fail(RequestContext *ctx, SnmpEventKind kind, const QString &text)
    {
        SnmpEvent e;
        e.kind = kind;
        e.errorText = text;
        deliver(ctx, std::move(e));
    }

    RequestContext *newContext(Client *client, const SnmpTarget &target, SnmpCallback callback)
    {
        auto ctx = std::make_unique<RequestContext>();
        ctx->impl = this;
        ctx->client = client;
        ctx->callback = std::move(callback);
        ctx->address = target.address;
        ctx->port = target.port;
        ctx->timeoutMs = qMax(10, target.timeoutMs);
        contexts.push_back(std::move(ctx));
        return contexts.back().get();
    }

    static QString clientKey(const SnmpTarget &t, const UsmUser *user)
    {
        QString key = QStringLiteral("%1|%2|%3|%4|").arg(t.address).arg(t.port).arg(int(t.version)).arg(t.retries);
        if (t.version != SnmpVersion::V3)
            return key + QString::fromLatin1(t.community.toHex());
        key += QStringLiteral("%1|%2").arg(int(t.securityLevel)).arg(t.securityName);
        if (user) {
            key += QStringLiteral("|%1|%2|%3|%4")
                       .arg(int(user->authProtocol))
                       .arg(QString::fromLatin1(user->authPassword.toUtf8().toHex()))
                       .arg(int(user->privProtocol))
                       .arg(QString::fromLatin1(user->privPassword.toUtf8().toHex()));
        }
        return key;
    }

    // Returns the client for the target, opening it when needed; on failure *err is set.
    Client *clientFor(const SnmpTarget &t, QString *err)
    {
        std::optional<UsmUser> user;
        if (t.version == SnmpVersion::V3) {
            UsmUserTable *table = users.load();
            if (table)
                user = table->user(t.securityName);
            if (!user) {
                *err = QStringLiteral("unknown SNMPv3 user \"%1\"").arg(t.securityName);
                return nullptr;
            }
        }
        const QString key = clientKey(t, user ? &*user : nullptr);
        for (auto &c : clients) {
            if (c->key == key && !c->retired) {
                c->lastUse = Clock::now();
                return c.get();
            }
        }

        netsnmp_session s;
        snmp_sess_init(&s);
        const QByteArray peer = QStringLiteral("udp:%1:%2").arg(t.address).arg(t.port).toLatin1();
        s.peername = const_cast<char *>(peer.constData());
        s.retries = qMax(0, t.retries);
        s.timeout = long(qMax(10, t.timeoutMs)) * 1000;
        const QByteArray community = t.community;
        QByteArray secName;
        switch (t.version) {
        case SnmpVersion::V1:
            s.version = SNMP_VERSION_1;
            break;
        case SnmpVersion::V2c:
            s.version = SNMP_VERSION_2c;
            break;
        case SnmpVersion::V3:
            s.version = SNMP_VERSION_3;
            break;
        }
        if (t.version == SnmpVersion::V3) {
            secName = user->name.toUtf8();
            s.securityModel = SNMP_SEC_MODEL_USM;
            s.securityName = secName.data();
            s.securityNameLen = secName.size();
            const QString problem = fillSecurity(s, *user, t.securityLevel);
            if (!problem.isEmpty()) {
                *err = problem;
                return nullptr;
            }
        } else {
            s.community = reinterpret_cast<u_char *>(const_cast<char *>(community.constData()));
            s.community_len = community.size();
        }
        void *handle = snmp_sess_open(&s);
        if (!handle) {
            *err = QStringLiteral("cannot open a session to %1:%2").arg(t.address).arg(t.port);
            return nullptr;
        }
        ++generation;
        auto c = std::make_unique<Client>();
        c->handle = handle;
        c->target = t;
        c->key = key;
        c->v3 = t.version == SnmpVersion::V3;
        if (c->v3) {
            c->userName = user->name;
            // Reports that tell of a restarted or replaced agent are dropped by the
            // library; the wrapped receive function notices them.
            c->transport = snmp_sess_transport(handle);
            if (c->transport) {
                wrappedTransports()[c->transport] = {this, c->transport->f_recv, c.get()};
                c->transport->f_recv = wrappedRecv;
            }
            // Engine discovery is done asynchronously; the library's own probe would
            // block this thread (and every other user of the library) for seconds
            // when the agent is silent.
            snmp_sess_session(handle)->flags |= SNMP_FLAGS_DONT_PROBE;
            c->state = Client::Undiscovered;
        }
        clients.push_back(std::move(c));
        return clients.back().get();
    }

    bool sendNow(Client *c, netsnmp_pdu *pdu, RequestContext *ctx)
    {
        snmp_sess_session(c->handle)->timeout = long(ctx->timeoutMs) * 1000;
        if (snmp_sess_async_send(c->handle, pdu, requestCallback, ctx) == 0) {
            snmp_free_pdu(pdu);
            ctx->finished = true;
            int liberr = 0, syserr = 0;
            char *text = nullptr;
            snmp_sess_error(c->handle, &syserr, &liberr, &text);
            fail(ctx, SnmpEventKind::Error, QString::fromLatin1(text ? text : "send failed"));
            free(text);
            return false;
        }
        return true;
    }

    void startDiscovery(Client *c, const SnmpTarget &t)
    {
        netsnmp_pdu *probe = snmp_pdu_create(SNMP_MSG_GET);
        probe->version = SNMP_VERSION_3;
        probe->securityModel = SNMP_SEC_MODEL_USM;
        probe->securityLevel = SNMP_SEC_LEVEL_NOAUTH;
        probe->securityName = strdup("");
        probe->securityNameLen = 0;
        RequestContext *ctx = newContext(c, t, {});
        ctx->discovery = true;
        c->state = Client::Discovering;
        if (!sendNow(c, probe, ctx))
            discoveryFailed(c, SnmpEventKind::Error, QStringLiteral("engine discovery could not be sent"));
    }

    void discoveryFailed(Client *c, SnmpEventKind kind, const QString &text)
    {
        c->state = Client::Undiscovered;
        for (const Queued &q : c->queued) {
            snmp_free_pdu(q.pdu);
            q.ctx->finished = true;
            fail(q.ctx, kind, text);
        }
        c->queued.clear();
    }

    void discovered(Client *c, netsnmp_session *sp)
    {
        if (sp->securityEngineIDLen == 0) {
            discoveryFailed(c, SnmpEventKind::Error, QStringLiteral("agent reported no engine ID"));
            return;
        }
        usm_create_user_from_session(sp);
        c->state = Client::Ready;
        // The queued requests are sent after snmp_sess_read has returned.
    }

    bool send(int command, const SnmpTarget &t, const QStringList &oids, int nonRepeaters, int maxRepetitions,
              SnmpCallback callback)
    {
        if (!isValidAddress(t.address) || oids.isEmpty())
            return false;
        std::vector<std::pair<std::vector<oid>, size_t>> parsed;
        for (const QString &text : oids) {
            std::vector<oid> buf(MAX_OID_LEN);
            size_t len = 0;
            if (!parseOid(text, buf.data(), &len))
                return false;
            parsed.emplace_back(std::move(buf), len);
        }
        {
            LibLock lock(libraryMutex());
            // A session that could not be opened has no event thread to call back on.
            if (!valid)
                return false;
            {
                QString err;
                Client *c = clientFor(t, &err);
                RequestContext *ctx = newContext(c, t, std::move(callback));
                if (!c) {
                    ctx->finished = true;
                    fail(ctx, SnmpEventKind::Error, err);
                } else {
                    netsnmp_pdu *pdu = snmp_pdu_create(command);
                    for (const auto &[buf, len] : parsed)
                        snmp_add_null_var(pdu, buf.data(), len);
                    if (command == SNMP_MSG_GETBULK) {
                        pdu->non_repeaters = qMax(0, nonRepeaters);
                        pdu->max_repetitions = qMax(1, maxRepetitions);
                    }
                    if (c->v3) {
                        if (!t.contextName.isEmpty()) {
                            pdu->contextName = static_cast<char *>(malloc(t.contextName.size() + 1));
                            memcpy(pdu->contextName, t.contextName.constData(), t.contextName.size() + 1);
                            pdu->contextNameLen = t.contextName.size();
                        }
                        if (!t.contextEngineId.isEmpty()) {
                            pdu->contextEngineID = static_cast<u_char *>(malloc(t.contextEngineId.size()));
                            memcpy(pdu->contextEngineID, t.contextEngineId.constData(), t.contextEngineId.size());
                            pdu->contextEngineIDLen = t.contextEngineId.size();
                        }
                    }
                    if (c->v3)
                        ctx->copy = snmp_clone_pdu(pdu);
                    if (c->state == Client::Ready) {
                        sendNow(c, pdu, ctx);
                    } else {
                        c->queued.push_back(Queued{pdu, ctx});
                        if (c->state == Client::Undiscovered)
                            startDiscovery(c, t);
                    }
                }
            }
        }
        wake();
        return true;
    }

    void closeClient(std::unique_ptr<Client> &c)
    {
        if (c->transport)
            wrappedTransports().erase(c->transport);
        discoveryFailed(c.get(), SnmpEventKind::Timeout, QStringLiteral("session closed"));
        // Pending requests are called back with TIMED_OUT from inside the close.
        snmp_sess_close(c->handle);
        for (auto &ctx : contexts) {
            if (ctx->client == c.get())
                ctx->client = nullptr;
        }
        c.reset();
        ++generation;
    }

    bool hasOutstanding(const Client *c) const
    {
        for (const auto &ctx : contexts) {
            if (ctx->client == c && !ctx->finished)
                return true;
        }
        return !c->queued.empty();
    }

    // After every read: flush requests whose engine is now known, retire finished
    // contexts, and close sessions that are idle or that lost their agent's engine.
    void housekeeping()
    {
        for (auto &c : clients) {
            if (c->state != Client::Ready || c->queued.empty())
                continue;
            std::vector<Queued> q;
            q.swap(c->queued);
            for (const Queued &item : q)
                sendNow(c.get(), item.pdu, item.ctx);
        }
        contexts.remove_if([](const std::unique_ptr<RequestContext> &ctx) { return ctx->finished; });
        const auto now = Clock::now();
        Client *newest = nullptr;
        for (auto &c : clients) {
            if (!newest || c->lastUse > newest->lastUse)
                newest = c.get();
        }
        std::vector<Client *> lost;
        for (auto &c : clients) {
            // A v3 agent that restarted with fewer boots or was replaced answers only
            // with reports that the library drops, or not at all: after such a report
            // or any time-out its engine ID and time are learned again.
            if (c->v3 && c->state == Client::Ready && (c->engineLost || c->timeoutsInRow > 0))
                lost.push_back(c.get());
            else if (c.get() != newest && now - c->lastUse > idleClientLifetime && !hasOutstanding(c.get()))
                closeClient(c);
        }
        for (Client *c : lost)
            rediscover(c);
        clients.erase(std::remove(clients.begin(), clients.end(), nullptr), clients.end());
    }

    // Replaces the client by a new one that discovers the engine again; the requests
    // still in flight are sent again through it, so each still ends in one callback.
    void rediscover(Client *old)
    {
        old->retired = true;
        netsnmp_session *sp = snmp_sess_session(old->handle);
        if (sp->securityEngineIDLen)
            free_enginetime(sp->securityEngineID, sp->securityEngineIDLen);
        QString err;
        Client *fresh = clientFor(old->target, &err);
        if (fresh) {
            std::vector<Queued> again;
            again.swap(old->queued);
            std::vector<RequestContext *> inFlight;
            for (auto &ctx : contexts) {
                if (ctx->client == old && !ctx->finished && !ctx->discovery && ctx->copy)
                    inFlight.push_back(ctx.get());
            }
            for (RequestContext *ctx : inFlight) {
                RequestContext *moved = newContext(fresh, old->target, std::move(ctx->callback));
                moved->timeoutMs = ctx->timeoutMs;
                moved->copy = snmp_clone_pdu(ctx->copy);
                again.push_back(Queued{ctx->copy, moved});
                ctx->copy = nullptr;
                // The old session's time-out on close reports nothing.
                ctx->delivered = true;
            }
            for (Queued &q : again) {
                q.ctx->client = fresh;
                fresh->queued.push_back(q);
            }
            if (!fresh->queued.empty() && fresh->state == Client::Undiscovered)
                startDiscovery(fresh, old->target);
        }
        for (auto &c : clients) {
            if (c.get() == old)
                closeClient(c);
        }
    }

    void localizeForTraffic(const u_char *data, size_t size)
    {
        QByteArray engineId, name;
        UsmUserTable *table = users.load();
        if (!table || !parseV3Header(data, size, &engineId, &name))
            return;
        if (engineId.size() < 5 || engineId.size() > 32 || name.isEmpty() || name.size() > 32)
            return;
        const auto key = std::make_pair(engineId, name);
        if (localizedFromTraffic.count(key) || localizedFromTraffic.size() >= maxAutoLocalizedUsers)
            return;
        const std::optional<UsmUser> user = table->user(QString::fromUtf8(name));
        if (!user)
            return;
        const auto *eid = reinterpret_cast<const u_char *>(engineId.constData());
        if (usm_get_user(eid, engineId.size(), name.constData()))
            return;
        netsnmp_session s;
        snmp_sess_init(&s);
        s.version = SNMP_VERSION_3;
        s.securityModel = SNMP_SEC_MODEL_USM;
        s.securityName = name.data();
        s.securityNameLen = name.size();
        s.securityEngineID = const_cast<u_char *>(eid);
        s.securityEngineIDLen = engineId.size();
        if (!fillSecurity(s, *user, SnmpSecurityLevel::AuthPriv).isEmpty() &&
            !fillSecurity(s, *user, SnmpSecurityLevel::AuthNoPriv).isEmpty())
            fillSecurity(s, *user, SnmpSecurityLevel::NoAuthNoPriv);
        usm_create_user_from_session(&s);
        localizedFromTraffic.insert(key);
    }

    void dropKeys(const QByteArray &name)
    {
        for (struct usmUser *u = usm_get_userList(); u;) {
            struct usmUser *next = u->next;
            if (u->name && name == u->name) {
                usm_remove_user(u);
                usm_free_user(u);
            }
            u = next;
        }
        for (auto it = localizedFromTraffic.begin(); it != localizedFromTraffic.end();) {
            if (it->second == name)
                it = localizedFromTraffic.erase(it);
            else
                ++it;
        }
        for (auto &c : clients) {
            if (c->v3 && c->userName.toUtf8() == name)
                closeClient(c);
        }
        clients.erase(std::remove(clients.begin(), clients.end(), nullptr), clients.end());
    }

    void closeListener()
    {
        if (!listener)
            return;
        wrappedTransports().erase(listenerTransport);
        snmp_sess_close(listener);
        listener = nullptr;
        listenerTransport = nullptr;
        trapCallback = nullptr;
        listenPort = 0;
        ++generation;
    }

    void run()
    {
        while (!stopThread.load()) {
            fd_set rfds;
            FD_ZERO(&rfds);
            FD_SET(wakeFd, &rfds);
            int maxfd = wakeFd + 1;
            timeval timeout{};
            bool haveTimeout = false;
            quint64 gen = 0;
            {
                LibLock lock(libraryMutex());
                gen = generation;
                auto consider = [&](void *h) {
                    // Per session: select_info sets block=1 for a session with nothing
                    // pending, which would wipe another session's time-out.
                    timeval tv{};
                    int block = 1;
                    snmp_sess_select_info_flags(h, &maxfd, &rfds, &tv, &block, NETSNMP_SELECT_NOALARMS);
                    if (!block && (!haveTimeout || timercmp(&tv, &timeout, <))) {
                        timeout = tv;
                        haveTimeout = true;
                    }
                };
                for (auto &c : clients)
                    consider(c->handle);
                if (listener)
                    consider(listener);
                if (!ready.empty()) {
                    timeout = timeval{};
                    haveTimeout = true;
                }
            }
            const int rc = select(maxfd, &rfds, nullptr, nullptr, haveTimeout ? &timeout : nullptr);
            wakeups.fetch_add(1, std::memory_order_relaxed);
            if (rc > 0 && FD_ISSET(wakeFd, &rfds)) {
                uint64_t count = 0;
                [[maybe_unused]] const ssize_t n = read(wakeFd, &count, sizeof count);
            }
            if (stopThread.load())
                break;
            std::vector<Delivery> out;
            {
                LibLock lock(libraryMutex());
                std::vector<void *> handles;
                for (auto &c : clients)
                    handles.push_back(c->handle);
                if (listener)
                    handles.push_back(listener);
                if (rc > 0 && gen == generation) {
                    for (void *h : handles)
                        snmp_sess_read(h, &rfds);
                }
                for (void *h : handles)
                    snmp_sess_timeout(h);
                housekeeping();
                out.swap(ready);
            }
            for (Delivery &d : out)
                d.callback(d.event);
        }
    }
};

namespace {
int wrappedRecv(netsnmp_transport *t, void *buf, int size, void **opaque, int *olength)
{
    const auto it = wrappedTransports().find(t);
    if (it == wrappedTransports().end())
        return -1;
    const Wrapped w = it->second;
    const int n = w.recv(t, buf, size, opaque, olength);
    if (n <= 0)
        return n;
    if (w.client) {
        // The answer to the discovery is such a report too.
        if (w.client->state == Client::Ready && isEngineReport(static_cast<const u_char *>(buf), size_t(n)))
            w.client->engineLost = true;
        return n;
    }
    SnmpSession::Impl *impl = w.impl;
    // Nothing from another address reaches the library: it derives no keys (the key
    // cache is not for strangers to fill) and no inform of theirs is answered.
    const auto *pair = static_cast<const netsnmp_indexed_addr_pair *>(*opaque);
    if (!pair || *olength < int(sizeof(netsnmp_indexed_addr_pair)) || pair->remote_addr.sa.sa_family != AF_INET ||
        pair->remote_addr.sin.sin_addr.s_addr != impl->notificationSender) {
        SNMP_FREE(*opaque);
        *olength = 0;
        t->flags |= NETSNMP_TRANSPORT_FLAG_EMPTY_PKT;
        return 0;
    }
    impl->localizeForTraffic(static_cast<const u_char *>(buf), size_t(n));
    return n;
}

int requestCallback(int op, netsnmp_session *sp, int, netsnmp_pdu *pdu, void *magic)
{
    auto *ctx = static_cast<RequestContext *>(magic);
    SnmpSession::Impl *impl = ctx->impl;
    Client *client = ctx->client;
    switch (op) {
    case NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE:
        ctx->finished = true;
        if (client)
            client->timeoutsInRow = 0;
        if (ctx->discovery) {
            if (client)
                impl->discovered(client, sp);
            break;
        }
        if (pdu->command == SNMP_MSG_REPORT) {
            impl->fail(ctx, SnmpEventKind::Error, reportText(pdu));
        } else {
            SnmpEvent e;
            e.kind = SnmpEventKind::Response;
            senderOf(pdu, &e.sender, &e.senderPort);
            e.errorStatus = int(pdu->errstat);
            e.errorIndex = int(pdu->errindex);
            e.bindings = bindingsOf(pdu);
            impl->deliver(ctx, std::move(e));
        }
        break;
    case NETSNMP_CALLBACK_OP_TIMED_OUT:
        ctx->finished = true;
        if (client)
            ++client->timeoutsInRow;
        if (ctx->discovery) {
            if (client)
                impl->discoveryFailed(client, SnmpEventKind::Timeout, QStringLiteral("engine discovery timed out"));
            break;
        }
        impl->fail(ctx, SnmpEventKind::Timeout, QStringLiteral("timed out"));
        break;
    case NETSNMP_CALLBACK_OP_SEND_FAILED:
        ctx->finished = true;
        if (ctx->discovery && client)
            impl->discoveryFailed(client, SnmpEventKind::Error, QStringLiteral("engine discovery failed"));
        impl->fail(ctx, SnmpEventKind::Error, QStringLiteral("send failed"));
        break;
    case NETSNMP_CALLBACK_OP_SEC_ERROR:
        // This build reports the security error first and then ends the request with the
        // Report; the request counts as failed from the first sign.
        if (!ctx->discovery)
            impl->fail(ctx, SnmpEventKind::Error, QString::fromLatin1(snmp_api_errstring(sp->s_snmp_errno)));
        break;
    default:
        break;
    }
    return 1;
}

int listenerCallback(int op, netsnmp_session *, int, netsnmp_pdu *pdu, void *magic)
{
    auto *impl = static_cast<SnmpSession::Impl *>(magic);
    if (op != NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE || !pdu)
        return 1;
    if (pdu->command != SNMP_MSG_TRAP && pdu->command != SNMP_MSG_TRAP2 && pdu->command != SNMP_MSG_INFORM)
        return 1;
    if (pdu->command == SNMP_MSG_INFORM) {
        netsnmp_pdu *reply = snmp_clone_pdu(pdu);
        if (reply) {
            reply->command = SNMP_MSG_RESPONSE;
            reply->errstat = 0;
            reply->errindex = 0;
            if (snmp_sess_send(impl->listener, reply) == 0)
                snmp_free_pdu(reply);
        }
    }
    if (impl->shuttingDown || !impl->trapCallback)
        return 1;
    SnmpEvent e;
    e.kind = SnmpEventKind::Notification;
    if (!senderOf(pdu, &e.sender, &e.senderPort))
        return 1;
    e.authenticated = pdu->version == SNMP_VERSION_3 && pdu->securityLevel >= SNMP_SEC_LEVEL_AUTHNOPRIV;
    e.bindings = bindingsOf(pdu);
    if (pdu->command == SNMP_MSG_TRAP) {
        if (pdu->trap_type == SNMP_TRAP_ENTERPRISESPECIFIC) {
            e.trapOid =
                oidText(pdu->enterprise, pdu->enterprise_length) + QStringLiteral(".0.%1").arg(pdu->specific_type);
        } else {
            e.trapOid = QStringLiteral("1.3.6.1.6.3.1.1.5.%1").arg(pdu->trap_type + 1);
        }
    } else {
        for (auto it = e.bindings.begin(); it != e.bindings.end();) {
            if (it->oid == snmpTrapOid) {
                // Only an OBJECT IDENTIFIER names a notification.
                if (it->syntax != ASN_OBJECT_ID)
                    return 1;
                e.trapOid = it->value;
                it = e.bindings.erase(it);
            } else if (it->oid == sysUpTimeOid) {
                it = e.bindings.erase(it);
            } else {
                ++it;
            }
        }
    }
    if (e.trapOid.isEmpty())
        return 1;
    impl->ready.push_back(Delivery{impl->trapCallback, std::move(e)});
    return 1;
}
} // namespace

SnmpSession::SnmpSession() : d(std::make_unique<Impl>())
{
    LibLock lock(libraryMutex());
    initLibrary();
    applyLocalBoots(pendingBoots);
    d->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (d->wakeFd < 0) {
        d->error = QString::fromLocal8Bit(strerror(errno));
        return;
    }
    // The session's own socket: bound to port 0 on all IPv4 interfaces. Requests use
    // one such socket per agent (net-snmp keeps retries per socket), so this one proves
    // that sockets can be had at all.
    const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    if (probe < 0 || bind(probe, reinterpret_cast<sockaddr *>(&any), sizeof any) != 0) {
        d->error = QString::fromLocal8Bit(strerror(errno));
        if (probe >= 0)
            close(probe);
        close(d->wakeFd);
        d->wakeFd = -1;
        return;
    }
    close(probe);
    d->valid = true;
}

SnmpSession::~SnmpSession()
{
    stopEventThread();
    if (UsmUserTable *table = d->users.load())
        table->setChangeHandler({});
    LibLock lock(libraryMutex());
    d->shuttingDown = true;
    d->closeListener();
    for (auto &c : d->clients)
        d->closeClient(c);
    d->clients.clear();
    d->contexts.clear();
    d->ready.clear();
    if (d->wakeFd >= 0)
        close(d->wakeFd);
}

bool SnmpSession::isValid() const
{
    return d->valid;
}

QString SnmpSession::errorText() const
{
    return d->error;
}

void SnmpSession::setUserTable(UsmUserTable *users)
{
    if (UsmUserTable *old = d->users.exchange(users))
        old->setChangeHandler({});
    if (users)
        users->setChangeHandler([this](const QString &name) { dropLocalizedKeys(name); });
}

void SnmpSession::dropLocalizedKeys(const QString &userName)
{
    LibLock lock(libraryMutex());
    d->dropKeys(userName.toUtf8());
}

void SnmpSession::setLocalEngineBoots(quint32 boots)
{
    LibLock lock(libraryMutex());
    pendingBoots = boots;
    if (libraryReady)
        applyLocalBoots(boots);
}

bool SnmpSession::get(const SnmpTarget &target, const QStringList &oids, SnmpCallback callback)
{
    return d->send(SNMP_MSG_GET, target, oids, 0, 0, std::move(callback));
}

bool SnmpSession::getNext(const SnmpTarget &target, const QStringList &oids, SnmpCallback callback)
{
    return d->send(SNMP_MSG_GETNEXT, target, oids, 0, 0, std::move(callback));
}

bool SnmpSession::getBulk(const SnmpTarget &target, const QStringList &oids, int nonRepeaters, int maxRepetitions,
                          SnmpCallback callback)
{
    return d->send(SNMP_MSG_GETBULK, target, oids, nonRepeaters, maxRepetitions, std::move(callback));
}

bool SnmpSession::listen(quint16 port, SnmpCallback callback, QString *error)
{
    {
        LibLock lock(libraryMutex());
        d->closeListener();
        if (!d->valid) {
            if (error)
                *error = QStringLiteral("SNMP session not open");
            return false;
        }
        if (port == 0) {
            if (error)
                *error = QStringLiteral("port 0 is not a port");
            return false;
        }
        const QByteArray spec = QStringLiteral("udp:0.0.0.0:%1").arg(port).toLatin1();
        errno = 0;
        netsnmp_transport *t = netsnmp_transport_open_server("snmptrap", spec.constData());
        if (!t) {
            if (error)
                *error = QString::fromLocal8Bit(strerror(errno ? errno : EINVAL));
            return false;
        }
        wrappedTransports()[t] = {d.get(), t->f_recv, nullptr};
        t->f_recv = wrappedRecv;
        netsnmp_session s;
        snmp_sess_init(&s);
        s.version = SNMP_DEFAULT_VERSION;
        s.callback = listenerCallback;
        s.callback_magic = d.get();
        s.isAuthoritative = SNMP_SESS_UNKNOWNAUTH;
        void *h = snmp_sess_add(&s, t, nullptr, nullptr);
        if (!h) {
            wrappedTransports().erase(t);
            if (error)
                *error = QStringLiteral("cannot add the trap session");
            return false;
        }
        d->listener = h;
        d->listenerTransport = t;
        d->trapCallback = std::move(callback);
        d->listenPort = port;
        ++d->generation;
    }
    d->wake();
    return true;
}

void SnmpSession::setNotificationSender(const QString &address)
{
    in_addr a{};
    if (inet_pton(AF_INET, address.toLatin1().constData(), &a) != 1)
        a.s_addr = 0;
    LibLock lock(libraryMutex());
    d->notificationSender = a.s_addr;
}

void SnmpSession::stopListening()
{
    {
        LibLock lock(libraryMutex());
        d->closeListener();
    }
    d->wake();
}

quint16 SnmpSession::listenPort() const
{
    LibLock lock(libraryMutex());
    return d->listenPort;
}

bool SnmpSession::startEventThread()
{
    if (d->thread.joinable() || d->wakeFd < 0)
        return d->thread.joinable();
    d->stopThread = false;
    d->thread = std::thread([this] {
        pthread_setname_np(pthread_self(), "snmp-events");
        d->run();
    });
    return true;
}

void SnmpSession::stopEventThread()
{
    if (!d->thread.joinable())
        return;
    d->stopThread = true;
    d->wake();
    d->thread.join();
}

bool SnmpSession::eventThreadRunning() const
{
    return d->thread.joinable();
}

quint64 SnmpSession::eventThreadWakeups() const
{
    return d->wakeups.load();
}

bool SnmpSession::isValidAddress(const QString &address)
{
    in_addr a{};
    return inet_pton(AF_INET, address.toLatin1().constData(), &a) == 1;
}

QByteArray SnmpSession::localEngineId()
{
    return engineIdText;
}
