#pragma once

#include "tempdatadir.h"

#include <QProcess>

// A real binary copied into a data directory of its own: param.ini, databases and lock stay private.
class BinaryRun
{
public:
    explicit BinaryRun(const char *binaryVariable = "VOLTIGUARD_BINARY");
    ~BinaryRun() { stop(); }

    const TempDataDir &dataDir() const { return m_data; }
    QProcessEnvironment &environment() { return m_env; }
    // Without a loopback agent in param.ini, where only loopback exists.
    bool start(const QStringList &arguments = {}, QProcess *process = nullptr);
    QProcess &process() { return m_process; }
    void stop() { endProcess(m_process); }
    QString runtimeDir() const { return m_runtime.path(); }

    static void endProcess(QProcess &process);
    static void startLoopbackOnly(QProcess &process, const QStringList &command);

private:
    TempDataDir m_data;
    QTemporaryDir m_runtime;
    QTemporaryDir m_config;
    QString m_binary;
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();
    QProcess m_process;
};
