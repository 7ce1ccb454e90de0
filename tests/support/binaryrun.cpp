#include "binaryrun.h"

BinaryRun::BinaryRun(const char *binaryVariable)
    : m_binary(m_data.file(QFileInfo(qEnvironmentVariable(binaryVariable)).fileName()))
{
    QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile::copy(qEnvironmentVariable(binaryVariable), m_binary);
    m_env.insert("XDG_RUNTIME_DIR", m_runtime.path());
    m_env.insert("XDG_CONFIG_HOME", m_config.path());
    m_env.remove("QT_QPA_PLATFORM");
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

bool BinaryRun::start(const QStringList &arguments, QProcess *process)
{
    process = process ? process : &m_process;
    process->setProcessEnvironment(m_env);
    process->setWorkingDirectory(m_data.path());
    if (QSettings(m_data.file("param.ini"), QSettings::IniFormat).value("ip").toString().startsWith("127."))
        process->start(m_binary, arguments);
    else
        startLoopbackOnly(*process, QStringList{m_binary} + arguments);
    return process->waitForStarted(10000);
}

void BinaryRun::endProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

void BinaryRun::startLoopbackOnly(QProcess &process, const QStringList &command)
{
    process.start("unshare", QStringList{"-n", "sh", "-c", "ip link set lo up && exec \"$0\" \"$@\""} + command);
}
