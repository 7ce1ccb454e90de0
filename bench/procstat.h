#pragma once

#include <QFile>
#include <unistd.h>

// CPU time (user and system, seconds) and resident memory of a process, from /proc.
struct ProcStat
{
    double cpu = 0;
    long rssKb = 0;
};

inline ProcStat procStat(qint64 pid)
{
    ProcStat s;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray line = stat.readAll();
        const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
        s.cpu = (f.value(11).toDouble() + f.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &l : status.readAll().split('\n')) {
            if (l.startsWith("VmRSS:"))
                s.rssKb = l.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return s;
}
