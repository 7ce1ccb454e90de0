#pragma once

#include "tempdatadir.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <memory>

// The real voltiguard binary, copied into its own data directory so that its
// param.ini, databases and lock stay private to the test.
class BinaryRun
{
public:
    BinaryRun();
    ~BinaryRun();

    const TempDataDir &dataDir() const { return m_data; }
    QProcessEnvironment &environment() { return m_env; }
    // Starts the binary; param.ini must already exist in the data directory.
    bool start(const QStringList &arguments = {});
    // Another process of the same binary with the same environment (second instance).
    std::unique_ptr<QProcess> startAnother();
    QProcess &process() { return m_process; }
    void stop();
    QString runtimeDir() const { return m_runtime.path(); }

private:
    void prepare(QProcess &p);

    TempDataDir m_data;
    QTemporaryDir m_runtime;
    QTemporaryDir m_config;
    QProcessEnvironment m_env;
    QProcess m_process;
    QString m_binary;
};
