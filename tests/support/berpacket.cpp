#include "berpacket.h"

#include <QStringList>

namespace Ber {
QByteArray tlv(quint8 tag, const QByteArray &content)
{
    QByteArray out(1, char(tag));
    const int n = content.size();
    if (n >= 0x100)
        out.append(char(0x82)).append(char(n >> 8));
    else if (n >= 0x80)
        out.append(char(0x81));
    return out.append(char(n & 0xff)) + content;
}

QByteArray integer(qint64 value, quint8 tag)
{
    QByteArray bytes;
    do {
        bytes.prepend(char(value & 0xff));
        value >>= 8;
    } while (value != 0 && value != -1);
    // A sign byte where the top bit would mislead; the unsigned application types never get 0xff.
    if (bool(bytes[0] & 0x80) != (tag == 0x02 && value == -1))
        bytes.prepend(char(tag == 0x02 && value == -1 ? 0xff : 0x00));
    return tlv(tag, bytes);
}

QByteArray oid(const QString &dotted)
{
    const QStringList parts = dotted.split('.');
    QByteArray out(1, char(parts.value(0).toInt() * 40 + parts.value(1).toInt()));
    for (int i = 2; i < parts.size(); ++i) {
        quint32 v = parts[i].toUInt();
        QByteArray sub(1, char(v & 0x7f));
        while (v >>= 7)
            sub.prepend(char(0x80 | (v & 0x7f)));
        out.append(sub);
    }
    return tlv(0x06, out);
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
    return message(1, community, 0xa7, requestId, 0, 0,
                   VarBinds{{"1.3.6.1.2.1.1.3.0", integer(12345, 0x43)}, {"1.3.6.1.6.3.1.1.4.1.0", oid(trapOid)}} +
                       bindings);
}
} // namespace Ber
