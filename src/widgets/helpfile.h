#pragma once

#include <QString>

// The user manual in the chosen language: help_cn.html or help_en.html, looked up
// beside the executable (the build tree), then in <prefix>/share/voltiguard for a
// relocated install, then in the system's data directories (XDG_DATA_DIRS).
// Empty when none of them has it.
QString helpFilePath(bool chinese);
