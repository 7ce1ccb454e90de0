#pragma once

#include <QByteArray>
#include <QString>

// Replaces a file atomically with content readable by its owner only: the data is
// written to a temporary file (created 0600) beside it and renamed over it, so the
// content is never readable by others, not even for the moment before the rename.
bool writePrivateFile(const QString &path, const QByteArray &data);

// Creates path as an empty file readable by its owner only when it does not exist
// yet. SQLite takes an empty file as a new database and gives its journals the
// database's permissions.
void createPrivateFile(const QString &path);
