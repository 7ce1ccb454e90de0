#include "privatefile.h"

#include <QFile>
#include <QTemporaryFile>
#include <cstdio>

bool writePrivateFile(const QString &path, const QByteArray &data)
{
    QTemporaryFile tmp(path + QStringLiteral(".XXXXXX"));
    if (!tmp.open() || tmp.write(data) != data.size() || !tmp.flush())
        return false;
    tmp.close();
    if (std::rename(QFile::encodeName(tmp.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        return false;
    tmp.setAutoRemove(false);
    return true;
}
