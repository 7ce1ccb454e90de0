#include "upsagentfixture.h"
#include "binaryrun.h"

#include "snmp/usmusers.h"

#include <QTest>
#include <csignal>

QList<UsmUser> UpsAgentFixture::agentUsers()
{
    using A = UsmAuthProtocol;
    using P = UsmPrivProtocol;
    return {{"md5des", A::HmacMd5, "md5despass", P::Des, "md5despriv"},
            {"shaaes", A::HmacSha, "shaaespass", P::Aes128, "shaaespriv"},
            {"sha256aes256", A::HmacSha256, "sha256aes256pass", P::Aes256, "sha256aes256priv"}};
}

int UpsAgentFixture::run(const QString &command, const QStringList &args, const QStringList &more,
                         QString *output) const
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(qEnvironmentVariable("VOLTIGUARD_SOURCE_DIR") + "/tools/upsagent/upsagent",
            QStringList{command, "--dir", m_dir.path()} + args + more);
    const bool ended = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit;
    BinaryRun::endProcess(p);
    if (output)
        *output = QString::fromLocal8Bit(p.readAll());
    return ended ? p.exitCode() : -1;
}

bool UpsAgentFixture::start(const QStringList &extra)
{
    m_port = m_port ? m_port : freeUdpPort();
    QStringList args = extra + QStringList{"--port", QString::number(m_port)};
    // Every agent has its own engine ID, as real agents do; the same agent keeps it.
    if (!extra.contains("--engine-id"))
        args << "--engine-id"
             << "0x80001f8804" + QString::fromLatin1(("vgups" + QByteArray::number(m_port)).toHex());
    QString out;
    const auto m = QRegularExpression("PORT=(\\d+) PID=(\\d+)").match(run("start", args, {}, &out) ? "" : out);
    m_pid = m.captured(2).toLongLong();
    return m.hasMatch();
}

bool UpsAgentFixture::stop()
{
    if (m_pid > 0) {
        run("stop");
        if (!QTest::qWaitFor([this] { return ::kill(pid_t(m_pid), 0) != 0; }, 5000))
            ::kill(pid_t(m_pid), SIGKILL);
    }
    m_pid = 0;
    return true;
}
