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

void createPrivateFile(const QString &path)
{
    if (QFile::exists(path))
        return;
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}
