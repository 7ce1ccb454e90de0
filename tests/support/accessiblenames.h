#pragma once

#include <QString>
#include <QStringList>

// The accessible names of everything a process shows (all its top-level windows
// and what is inside them), read through AT-SPI on the session bus of this
// process; a label's name is its text. Empty when the process is not on the
// accessibility bus (yet).
QStringList accessibleNames(qint64 pid);
