#include "berpacket.h"

namespace Ber {
QByteArray tlv(quint8 tag, const QByteArray &content)
{
    QByteArray out(1, char(tag));
    const int n = content.size();
    if (n < 0x80) {
        out.append(char(n));
    } else if (n < 0x100) {
        out.append(char(0x81)).append(char(n));
    } else {
        out.append(char(0x82)).append(char(n >> 8)).append(char(n & 0xff));
    }
    return out + content;
}

QByteArray integer(qint64 value, quint8 tag)
{
    QByteArray bytes;
    do {
        bytes.prepend(char(value & 0xff));
        value >>= 8;
    } while (value != 0 && value != -1);
    if (tag == 0x02 && (value == 0) == bool(bytes[0] & 0x80))
        bytes.prepend(char(value == 0 ? 0x00 : 0xff));
    if (tag != 0x02 && (bytes[0] & 0x80))
        bytes.prepend(char(0));
    return tlv(tag, bytes);
}

QByteArray octets(const QByteArray &bytes)
{
    return tlv(0x04, bytes);
}

QByteArray oid(const QString &dotted)
{
    const QStringList parts = dotted.split('.');
    QByteArray out;
    out.append(char(parts.value(0).toInt() * 40 + parts.value(1).toInt()));
    for (int i = 2; i < parts.size(); ++i) {
        quint32 v = parts[i].toUInt();
        QByteArray sub(1, char(v & 0x7f));
        while (v >>= 7)
            sub.prepend(char(0x80 | (v & 0x7f)));
        out.append(sub);
    }
    return tlv(0x06, out);
}

QByteArray null(quint8 tag)
{
    return tlv(tag, {});
}

QByteArray message(int version, const QByteArray &community, quint8 pduTag, qint32 requestId, int errorStatus,
                   int errorIndex, const VarBinds &bindings)
{
    QByteArray list;
    for (const auto &b : bindings)
        list += tlv(0x30, oid(b.first) + b.second);
    const QByteArray pdu =
        tlv(pduTag, integer(requestId) + integer(errorStatus) + integer(errorIndex) + tlv(0x30, list));
    return tlv(0x30, integer(version) + octets(community) + pdu);
}

QByteArray v2cTrap(const QByteArray &community, const QString &trapOid, const VarBinds &bindings, qint32 requestId)
{
    VarBinds all{{"1.3.6.1.2.1.1.3.0", integer(12345, 0x43)}, {"1.3.6.1.6.3.1.1.4.1.0", oid(trapOid)}};
    all += bindings;
    return message(1, community, 0xa7, requestId, 0, 0, all);
}

namespace {
struct Reader
{
    const QByteArray &d;
    int pos = 0;
    int end;

    bool next(quint8 *tag, int *start, int *len)
    {
        if (end - pos < 2)
            return false;
        *tag = quint8(d[pos++]);
        int n = quint8(d[pos++]);
        if (n & 0x80) {
            const int k = n & 0x7f;
            if (k == 0 || k > 2 || end - pos < k)
                return false;
            n = 0;
            for (int i = 0; i < k; ++i)
                n = (n << 8) | quint8(d[pos++]);
        }
        if (end - pos < n)
            return false;
        *start = pos;
        *len = n;
        pos += n;
        return true;
    }
    qint64 intAt(int start, int len) const
    {
        qint64 v = (len > 0 && (d[start] & 0x80)) ? -1 : 0;
        for (int i = 0; i < len; ++i)
            v = (v << 8) | quint8(d[start + i]);
        return v;
    }
};

QString oidText(const QByteArray &d, int start, int len)
{
    if (len < 1)
        return {};
    QStringList parts{QString::number(quint8(d[start]) / 40), QString::number(quint8(d[start]) % 40)};
    quint32 v = 0;
    for (int i = 1; i < len; ++i) {
        v = (v << 7) | (quint8(d[start + i]) & 0x7f);
        if (!(d[start + i] & 0x80)) {
            parts.append(QString::number(v));
            v = 0;
        }
    }
    return parts.join('.');
}
} // namespace

bool parseRequest(const QByteArray &data, Request *out)
{
    Reader top{data, 0, int(data.size())};
    quint8 tag;
    int s, l;
    if (!top.next(&tag, &s, &l) || tag != 0x30)
        return false;
    Reader msg{data, s, s + l};
    if (!msg.next(&tag, &s, &l) || tag != 0x02)
        return false;
    out->version = int(msg.intAt(s, l));
    if (!msg.next(&tag, &s, &l) || tag != 0x04)
        return false;
    out->community = data.mid(s, l);
    if (!msg.next(&tag, &s, &l))
        return false;
    out->pduTag = tag;
    Reader pdu{data, s, s + l};
    int vals[3];
    for (int &v : vals) {
        if (!pdu.next(&tag, &s, &l) || tag != 0x02)
            return false;
        v = int(pdu.intAt(s, l));
    }
    out->requestId = vals[0];
    out->nonRepeaters = vals[1];
    out->maxRepetitions = vals[2];
    if (!pdu.next(&tag, &s, &l) || tag != 0x30)
        return false;
    Reader list{data, s, s + l};
    while (list.next(&tag, &s, &l)) {
        Reader vb{data, s, s + l};
        if (!vb.next(&tag, &s, &l) || tag != 0x06)
            return false;
        out->oids.append(oidText(data, s, l));
    }
    return true;
}
} // namespace Ber
