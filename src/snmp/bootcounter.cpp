#include "bootcounter.h"

#include "config/privatefile.h"

#include <QFile>
#include <QList>

namespace {
QList<QByteArray> readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(64 * 1024).split('\n');
}
} // namespace

quint32 readBootCounter(const QString &path, const QByteArray &engineId)
{
    const QByteArray hex = engineId.toHex();
    for (const QByteArray &line : readLines(path)) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() != 2 || fields[0].toLower() != hex)
            continue;
        bool ok = false;
        const quint32 boots = fields[1].toUInt(&ok);
        return ok ? boots : 0;
    }
    return 0;
}

bool saveBootCounter(const QString &path, const QByteArray &engineId, quint32 boots)
{
    const QByteArray hex = engineId.toHex();
    QByteArray out;
    for (const QByteArray &line : readLines(path)) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() == 2 && fields[0].toLower() != hex)
            out += fields[0] + ' ' + fields[1] + '\n';
    }
    out += hex + ' ' + QByteArray::number(boots) + '\n';
    return writePrivateFile(path, out);
}
