#pragma once

#include <QString>

// All of the application's own files live in one directory, chosen once: the
// executable's directory when it is writable, else the per-user data location.
QString dataDir();
QString dataFilePath(const QString &name);
// Fixes the directory (tests use a fresh temporary one).
void setDataDir(const QString &dir);
// The rule itself, for a given executable directory.
QString chooseDataDir(const QString &appDir);
