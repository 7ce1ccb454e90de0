#include "binaryrun.h"

#include <QFile>
#include <QSettings>

BinaryRun::BinaryRun() : m_env(QProcessEnvironment::systemEnvironment())
{
    QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_binary = m_data.file("voltiguard");
    QFile::copy(qEnvironmentVariable("VOLTIGUARD_BINARY"), m_binary);
    m_env.insert("XDG_RUNTIME_DIR", m_runtime.path());
    m_env.insert("XDG_CONFIG_HOME", m_config.path());
    m_env.insert("LANG", "C.UTF-8");
    m_env.insert("LC_ALL", "C.UTF-8");
    m_env.remove("QT_QPA_PLATFORM");
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

BinaryRun::~BinaryRun()
{
    stop();
}

void BinaryRun::prepare(QProcess &p)
{
    p.setProcessEnvironment(m_env);
    p.setWorkingDirectory(m_data.path());
}

bool BinaryRun::start(const QStringList &arguments)
{
    const QSettings s(m_data.file("param.ini"), QSettings::IniFormat);
    if (!s.value("ip").toString().startsWith(QLatin1String("127.")))
        qFatal("refusing to start voltiguard without a loopback param.ini");
    prepare(m_process);
    m_process.start(m_binary, arguments);
    return m_process.waitForStarted(10000);
}

std::unique_ptr<QProcess> BinaryRun::startAnother()
{
    auto p = std::make_unique<QProcess>();
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    prepare(*p);
    p->start(m_binary, {});
    p->waitForStarted(10000);
    return p;
}

void BinaryRun::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}
