#pragma once

#include <QString>

class QProcess;
class QTemporaryDir;

// Starts a private session bus in dir, without service activation, so that nothing a
// test sends reaches or starts a real desktop service. Returns its address, or an
// empty string when it did not start.
QString startPrivateSessionBus(QProcess &daemon, const QTemporaryDir &dir);
