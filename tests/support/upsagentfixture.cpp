#include "upsagentfixture.h"

#include "snmp/usmusers.h"
#include "tempdatadir.h"

#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <csignal>
#include <sys/types.h>

QString UpsAgentFixture::toolPath()
{
    const QString overridden = qEnvironmentVariable("VOLTIGUARD_UPSAGENT");
    if (!overridden.isEmpty())
        return overridden;
    return qEnvironmentVariable("VOLTIGUARD_SOURCE_DIR") + QStringLiteral("/tools/upsagent/upsagent");
}

QString UpsAgentFixture::alarmName(int index)
{
    static const QStringList names{"comms-lost", "utility", "battery", "upsfail"};
    return names.value(index);
}

QList<UsmUser> UpsAgentFixture::agentUsers()
{
    using A = UsmAuthProtocol;
    using P = UsmPrivProtocol;
    return {
        {"noauth", A::None, {}, P::None, {}},
        {"md5auth", A::HmacMd5, "md5authpass", P::None, {}},
        {"md5des", A::HmacMd5, "md5despass", P::Des, "md5despriv"},
        {"shaaes", A::HmacSha, "shaaespass", P::Aes128, "shaaespriv"},
        {"sha256aes256", A::HmacSha256, "sha256aes256pass", P::Aes256, "sha256aes256priv"},
        {"sha512aes192", A::HmacSha512, "sha512aes192pass", P::Aes192, "sha512aes192priv"},
    };
}

UpsAgentFixture::UpsAgentFixture() = default;

UpsAgentFixture::~UpsAgentFixture()
{
    stop();
}

int UpsAgentFixture::run(const QString &command, const QStringList &args, QString *output) const
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(toolPath(), QStringList{command, QStringLiteral("--dir"), m_dir.path()} + args);
    if (!p.waitForStarted(10000))
        return -1;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(5000);
        return -1;
    }
    const QString out = QString::fromLocal8Bit(p.readAll());
    if (output)
        *output = out;
    if (p.exitStatus() != QProcess::NormalExit)
        return -1;
    if (p.exitCode() != 0)
        qWarning("upsagent %s: %s", qPrintable(command), qPrintable(out.trimmed()));
    return p.exitCode();
}

bool UpsAgentFixture::start(const QStringList &extra)
{
    QStringList args = extra;
    if (!m_port)
        m_port = freeUdpPort();
    // Every agent has its own engine ID, as real agents do; the same agent keeps it.
    const QByteArray engineName = "vgups" + QByteArray::number(m_port);
    args << QStringLiteral("--port") << QString::number(m_port);
    if (!extra.contains(QStringLiteral("--engine-id")))
        args << QStringLiteral("--engine-id")
             << QStringLiteral("0x80001f8804") + QString::fromLatin1(engineName.toHex());
    QString out;
    if (run(QStringLiteral("start"), args, &out) != 0)
        return false;
    const auto port = QRegularExpression(QStringLiteral("PORT=(\\d+)")).match(out);
    const auto pid = QRegularExpression(QStringLiteral("PID=(\\d+)")).match(out);
    if (!port.hasMatch() || !pid.hasMatch())
        return false;
    m_port = port.captured(1).toInt();
    m_pid = pid.captured(1).toLongLong();
    return true;
}

bool UpsAgentFixture::isRunning() const
{
    return m_pid > 0 && ::kill(pid_t(m_pid), 0) == 0;
}

bool UpsAgentFixture::stop()
{
    if (m_pid <= 0)
        return true;
    run(QStringLiteral("stop"), {});
    // The tool stops the agent it recorded; make sure that it was the one we started.
    for (int i = 0; i < 50 && isRunning(); ++i)
        QThread::msleep(100);
    if (isRunning()) {
        ::kill(pid_t(m_pid), SIGKILL);
        QThread::msleep(100);
    }
    m_pid = 0;
    return true;
}

bool UpsAgentFixture::change(const QString &command, const QString &alarm, const QString &trapKind, int trapPort,
                             const QStringList &extra)
{
    QStringList args{alarm};
    if (!trapKind.isEmpty())
        args << QStringLiteral("--trap") << trapKind << QStringLiteral("--trap-port") << QString::number(trapPort);
    return run(command, args + extra) == 0;
}

bool UpsAgentFixture::raise(const QString &alarm, const QString &trapKind, int trapPort, const QStringList &extra)
{
    return change(QStringLiteral("raise"), alarm, trapKind, trapPort, extra);
}

bool UpsAgentFixture::clear(const QString &alarm, const QString &trapKind, int trapPort, const QStringList &extra)
{
    return change(QStringLiteral("clear"), alarm, trapKind, trapPort, extra);
}

bool UpsAgentFixture::reset()
{
    return run(QStringLiteral("reset"), {}) == 0;
}

bool UpsAgentFixture::setForm(const QString &form)
{
    return run(QStringLiteral("set-form"), {form}) == 0;
}

bool UpsAgentFixture::setCount(const QString &count, const QString &type)
{
    QStringList args{count};
    if (!type.isEmpty())
        args << QStringLiteral("--type") << type;
    return run(QStringLiteral("set-count"), args) == 0;
}
