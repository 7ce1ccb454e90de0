#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace Ber {
QByteArray tlv(quint8 tag, const QByteArray &content);
QByteArray integer(qint64 value, quint8 tag = 0x02);
inline QByteArray octets(const QByteArray &bytes)
{
    return tlv(0x04, bytes);
}
QByteArray oid(const QString &dotted);

using VarBinds = QList<QPair<QString, QByteArray>>; // identifier, encoded value
QByteArray message(int version, const QByteArray &community, quint8 pduTag, qint32 requestId, int errorStatus,
                   int errorIndex, const VarBinds &bindings);
QByteArray v2cTrap(const QByteArray &community, const QString &trapOid, const VarBinds &bindings, qint32 requestId = 1);
} // namespace Ber
