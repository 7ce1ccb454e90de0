#include "params.h"

#include "datadir.h"
#include "platform/autostart.h"
#include "scramble.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryFile>
#include <cstdio>
#include <optional>

Params params;
QReadWriteLock snmpParamLock;
bool snmpParamsChanged = false;

namespace {
constexpr QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
constexpr qint64 maxParamFileSize = 1024 * 1024;

// ASCII values keep the plain scrambled text; anything whose scrambled bytes leave
// ASCII is stored as bytes, which QSettings writes as @ByteArray(...).
QVariant storedScrambled(const QString &clear)
{
    const QByteArray bytes = scrambleBytes(clear.toUtf8(), ScrambleDirection::Encode);
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return bytes;
    }
    return QString::fromLatin1(bytes);
}

QString readScrambled(const QVariant &v)
{
    const QByteArray stored = v.typeId() == QMetaType::QByteArray ? v.toByteArray() : v.toString().toUtf8();
    return QString::fromUtf8(scrambleBytes(stored, ScrambleDirection::Decode));
}

struct BoolKey
{
    const char *key;
    bool Params::*field;
};
struct IntKey
{
    const char *key;
    int Params::*field;
    int min;
    int max;
};
struct TextKey
{
    const char *key;
    QString Params::*field;
};

const BoolKey boolKeys[] = {
    {"shutdown", &Params::shutdown},       {"Utility_para", &Params::Utility_para}, {"Bat_para", &Params::Bat_para},
    {"UPS_para", &Params::UPS_para},       {"Restart_para", &Params::Restart_para}, {"Alarm_para", &Params::Alarm_para},
    {"Notify_para", &Params::Notify_para}, {"exte_flag", &Params::exte_flag},       {"exte_save", &Params::exte_save},
};
// What the settings dialog can store, widened where a hand-edited value still means
// something (a delay of up to a week).
const IntKey intKeys[] = {
    {"AlarmBox_time", &Params::AlarmBox_time, 0, 86400},
    {"Utility_time", &Params::Utility_time, 0, 10080},
    {"Bat_time", &Params::Bat_time, 0, 10080},
    {"UPS_time", &Params::UPS_time, 0, 10080},
    {"exte_time", &Params::exte_time, 0, 10080},
    {"exte_save_budget", &Params::exte_save_budget, 1, 86400},
    {"snmp_port_poll", &Params::snmp_port_poll, 1, 65535},
    {"snmp_port_trace", &Params::snmp_port_trace, 1, 65535},
    {"msgVersion", &Params::msgVersion, 1, 3},
    {"securityLevel", &Params::securityLevel, 0, 2},
    {"retries", &Params::retries, 0, 99},
    {"timeout", &Params::timeout, 1, 3600},
};
const TextKey textKeys[] = {{"exte_param", &Params::exte_param}, {"snmp_community", &Params::snmp_community}};
const TextKey scrambledKeys[] = {{"contexName", &Params::contexName},
                                 {"contexEngineID", &Params::contexEngineID},
                                 {"securityName", &Params::securityName}};

QString shown(const QVariant &v)
{
    return v.typeId() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(',')) : v.toString();
}

// Why Qt's INI reader would misread this line and what follows it; empty when the
// line is fine. A header without "]" files every later key under a broken group; an
// open quote or a trailing backslash joins the next lines to the value.
QString lineFault(const QByteArray &line)
{
    const QByteArray t = line.trimmed();
    if (t.startsWith('['))
        return t.contains(']') ? QString() : QStringLiteral("is a section header without \"]\"");
    const qsizetype eq = t.indexOf('=');
    if (eq < 0 || t.startsWith(';') || t.startsWith('#'))
        return {};
    bool quoted = false;
    for (qsizetype i = eq + 1; i < t.size(); ++i) {
        if (t.at(i) == '\\') {
            if (++i == t.size())
                return QStringLiteral("ends with a backslash");
        } else if (t.at(i) == '"') {
            quoted = !quoted;
        }
    }
    return quoted ? QStringLiteral("has an unbalanced quote") : QString();
}

// The text without the lines lineFault() names; nothing when it had none.
std::optional<QByteArray> withoutFaultyLines(const QByteArray &content, QList<ParamProblem> &problems)
{
    QByteArray kept;
    bool dropped = false;
    for (const QByteArray &line : content.split('\n')) {
        const QString fault = lineFault(line);
        if (fault.isEmpty()) {
            kept += line + '\n';
            continue;
        }
        dropped = true;
        const QByteArray t = line.trimmed();
        const qsizetype eq = t.indexOf('=');
        if (t.startsWith('['))
            problems.append({QString(), QString::fromUtf8(t), fault + QStringLiteral("; the line is left out")});
        else
            problems.append({QString::fromUtf8(t.left(eq)).trimmed(), QString::fromUtf8(t.mid(eq + 1)).trimmed(),
                             fault + QStringLiteral("; the default is used")});
    }
    return dropped ? std::optional<QByteArray>(kept) : std::nullopt;
}

void readValues(const QSettings &s, Params &p, QList<ParamProblem> &problems, QStringList &taken)
{
    const Params d;
    auto problem = [&](const char *key, const QVariant &v, const QString &reason, const QString &fallback) {
        problems.append(
            {QLatin1String(key), shown(v), reason + QStringLiteral("; the default %1 is used").arg(fallback)});
    };
    // A list or bytes can only have been written by hand. (Values set in this process
    // come back with the type they were set with, the rest as strings.)
    auto plain = [](const QVariant &v) {
        const int type = v.typeId();
        return type == QMetaType::QStringList || type == QMetaType::QByteArray ? QString() : v.toString().trimmed();
    };

    const QVariant ip = s.value("ip");
    if (ip.isValid()) {
        if (isDottedIpv4(plain(ip))) {
            p.ip = plain(ip);
            taken << QStringLiteral("ip");
        } else {
            problem("ip", ip, QStringLiteral("is not an IPv4 address"), d.ip);
        }
    }
    for (const BoolKey &k : boolKeys) {
        const QVariant v = s.value(QLatin1String(k.key));
        if (!v.isValid())
            continue;
        const QString t = plain(v).toLower();
        if (t == QLatin1String("true") || t == QLatin1String("1") || t == QLatin1String("false") ||
            t == QLatin1String("0")) {
            p.*k.field = t == QLatin1String("true") || t == QLatin1String("1");
            taken << QLatin1String(k.key);
        } else {
            problem(k.key, v, QStringLiteral("is not true or false"),
                    d.*k.field ? QStringLiteral("true") : QStringLiteral("false"));
        }
    }
    for (const IntKey &k : intKeys) {
        const QVariant v = s.value(QLatin1String(k.key));
        if (!v.isValid())
            continue;
        bool ok = false;
        const int n = plain(v).toInt(&ok, 10);
        const QString fallback = QString::number(d.*k.field);
        if (!ok) {
            problem(k.key, v, QStringLiteral("is not a whole number"), fallback);
        } else if (n < k.min || n > k.max) {
            problem(k.key, v, QStringLiteral("is outside %1 to %2").arg(k.min).arg(k.max), fallback);
        } else {
            p.*k.field = n;
            taken << QLatin1String(k.key);
        }
    }
    for (const TextKey &k : textKeys) {
        const QVariant v = s.value(QLatin1String(k.key));
        if (!v.isValid())
            continue;
        // Unquoted commas make Qt read a list.
        if (v.typeId() == QMetaType::QStringList) {
            problem(k.key, v, QStringLiteral("is a list (put a text with commas in double quotes)"),
                    QStringLiteral("\"%1\"").arg(d.*k.field));
        } else {
            p.*k.field = v.toString();
            taken << QLatin1String(k.key);
        }
    }
    for (const TextKey &k : scrambledKeys) {
        const QVariant v = s.value(QLatin1String(k.key));
        if (v.isValid()) {
            p.*k.field = readScrambled(v);
            taken << QLatin1String(k.key);
        }
    }
}
} // namespace

QString paramFilePath()
{
    return configFilePath(QStringLiteral("param.ini"));
}

bool isDottedIpv4(const QString &text)
{
    // Leading zeros are allowed ("010.001.1.1"), anything else outside dotted IPv4 is not.
    static const QRegularExpression re(QRegularExpression::anchoredPattern(
        QStringLiteral(R"(((25[0-5]|2[0-4]\d|[01]?\d\d?)\.){3}(25[0-5]|2[0-4]\d|[01]?\d\d?))")));
    return re.match(text).hasMatch();
}

QList<ParamProblem> readParamFile(const QString &path, Params &p, QStringList *taken)
{
    p = Params();
    QList<ParamProblem> problems;
    QStringList keys;
    if (!taken)
        taken = &keys;
    taken->clear();
    auto fileProblem = [&](const QString &reason) {
        problems.append({QString(), QString(), reason + QStringLiteral("; the defaults are used")});
        return problems;
    };
    const QFileInfo info(path);
    if (!info.exists())
        return problems;
    // A FIFO would hold the start for ever, a huge file would be read whole.
    if (!info.isFile())
        return fileProblem(QStringLiteral("is not a regular file"));
    if (info.size() >= maxParamFileSize)
        return fileProblem(QStringLiteral("is 1 MB or larger"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fileProblem(file.errorString());
    const std::optional<QByteArray> kept = withoutFaultyLines(file.read(maxParamFileSize), problems);
    if (!kept) {
        readValues(QSettings(path, QSettings::IniFormat), p, problems, *taken);
        return problems;
    }
    QTemporaryFile copy;
    if (!copy.open() || copy.write(*kept) != kept->size() || !copy.flush())
        return fileProblem(QStringLiteral("cannot be read line by line (no temporary file)"));
    readValues(QSettings(copy.fileName(), QSettings::IniFormat), p, problems, *taken);
    return problems;
}

QString describeParamProblem(const QString &path, const ParamProblem &problem)
{
    if (problem.key.isEmpty() && problem.value.isEmpty())
        return QStringLiteral("%1: %2").arg(path, problem.reason);
    if (problem.key.isEmpty())
        return QStringLiteral("%1: line \"%2\" %3").arg(path, problem.value, problem.reason);
    return QStringLiteral("%1: %2=%3 %4").arg(path, problem.key, problem.value, problem.reason);
}

void loadParams()
{
    const QString path = paramFilePath();
    for (const ParamProblem &problem : readParamFile(path, params))
        std::fprintf(stderr, "voltiguard: %s\n", qPrintable(describeParamProblem(path, problem)));
}

void saveParams()
{
    const QString path = paramFilePath();
    // The file holds credentials: create it owner-only so that the saved copy,
    // which keeps the existing permissions, never is readable by others.
    if (!QFile::exists(path)) {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.setPermissions(ownerOnly);
    }
    {
        QSettings s(path, QSettings::IniFormat);
        const Params &p = params;
        s.setValue("shutdown", p.shutdown);
        s.setValue("Utility_para", p.Utility_para);
        s.setValue("Bat_para", p.Bat_para);
        s.setValue("UPS_para", p.UPS_para);
        s.setValue("Restart_para", p.Restart_para);
        s.setValue("Alarm_para", p.Alarm_para);
        s.setValue("Notify_para", p.Notify_para);
        s.setValue("AlarmBox_time", p.AlarmBox_time);
        s.setValue("Utility_time", p.Utility_time);
        s.setValue("Bat_time", p.Bat_time);
        s.setValue("UPS_time", p.UPS_time);
        s.setValue("exte_flag", p.exte_flag);
        s.setValue("exte_param", p.exte_param);
        s.setValue("exte_time", p.exte_time);
        s.setValue("exte_save", p.exte_save);
        s.setValue("exte_save_budget", p.exte_save_budget);
        QReadLocker locker(&snmpParamLock);
        s.setValue("ip", p.ip);
        s.setValue("msgVersion", p.msgVersion);
        s.setValue("retries", p.retries);
        s.setValue("timeout", p.timeout);
        s.setValue("snmp_port_poll", p.snmp_port_poll);
        s.setValue("snmp_port_trace", p.snmp_port_trace);
        s.setValue("snmp_community", p.snmp_community);
        s.setValue("securityName", storedScrambled(p.securityName));
        s.setValue("securityLevel", p.securityLevel);
        s.setValue("contexName", storedScrambled(p.contexName));
        s.setValue("contexEngineID", storedScrambled(p.contexEngineID));
    }
    QFile::setPermissions(path, ownerOnly);
}

void applyAutoStart()
{
    if (params.Restart_para)
        Autostart::install(QCoreApplication::applicationFilePath());
    else
        Autostart::remove();
}
