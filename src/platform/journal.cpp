#include "journal.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QMutex>
#include <cstdio>
#include <sys/stat.h>

bool stderrIsJournal()
{
    static const bool isJournal = [] {
        // "device:inode" of the stream; a child started from the service inherits the
        // variable but not necessarily the stream.
        const QByteArray stream = qgetenv("JOURNAL_STREAM");
        const int colon = stream.indexOf(':');
        struct stat st = {};
        if (colon <= 0 || fstat(fileno(stderr), &st) != 0)
            return false;
        bool devOk = false;
        bool inoOk = false;
        const qulonglong dev = stream.left(colon).toULongLong(&devOk);
        const qulonglong ino = stream.mid(colon + 1).toULongLong(&inoOk);
        return devOk && inoOk && dev == qulonglong(st.st_dev) && ino == qulonglong(st.st_ino);
    }();
    return isJournal;
}

void journal(JournalPriority priority, const QString &text)
{
    static QMutex mutex;
    QString line = text.trimmed();
    line.replace(QLatin1Char('\n'), QLatin1String("; "));
    const QByteArray prefix = stderrIsJournal() ? QByteArray("<") + QByteArray::number(int(priority)) + QByteArray(">")
                                                : QCoreApplication::applicationName().toLocal8Bit() + QByteArray(": ");
    const QByteArray bytes = prefix + line.toLocal8Bit() + '\n';
    QMutexLocker locker(&mutex);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}
