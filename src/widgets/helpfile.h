#pragma once

#include <QString>

// The user manual in the chosen language: help_cn.html or help_en.html, looked up
// in appDir, the executable's directory (the build tree), then in
// appDir/../share/voltiguard (an installed tree, wherever its prefix), then in the
// system's data directories (XDG_DATA_DIRS). Empty when none of them has it.
QString helpFilePath(bool chinese, const QString &appDir);
