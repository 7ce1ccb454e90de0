// Installation: `cmake --install` into a scratch DESTDIR and the Debian package
// built by CPack, unpacked with dpkg -x. Both must lay out the program, menu
// entry, icons, manuals and metadata where Linux desktops look for them, and the
// packaged program must keep its files in the user's data directory.
#include "tempdatadir.h"
#include "widgets/helpfile.h"
#include "xsession.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

namespace {
const QString appId = QStringLiteral("org.voltiguard.Voltiguard");
const int iconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

struct Run
{
    int exitCode = -1;
    QString output;
};

Run run(const QString &program, const QStringList &arguments, const QProcessEnvironment &env = {})
{
    QProcess p;
    if (!env.isEmpty())
        p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished(1000);
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAll())};
}

QStringList filesBelow(const QString &dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(dir).relativeFilePath(it.next());
    files.sort();
    return files;
}

// Key=value lines of the [Desktop Entry] group.
QMap<QString, QString> readDesktopEntry(const QString &path)
{
    QMap<QString, QString> keys;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    for (const QString &line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))) {
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq > 0)
            keys.insert(line.left(eq), line.mid(eq + 1));
    }
    return keys;
}

void openUp(const QString &path)
{
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                    QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
}
} // namespace

class InstallTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void installedFiles_data();
    void installedFiles();
    void desktopEntry_data();
    void desktopEntry();
    void metainfo_data();
    void metainfo();
    void packageControl_data();
    void packageControl();
    void packagedManualFound_data();
    void packagedManualFound();
    void packagedProgramUsesUserDataDir_data();
    void packagedProgramUsesUserDataDir();
    void lintianFindsNothing();
    void serviceUnitAndBusPolicy();

private:
    QString root(const QString &layout) const
    {
        return layout == QLatin1String("deb") ? m_work.filePath(QStringLiteral("root"))
                                              : m_work.filePath(QStringLiteral("destdir"));
    }
    void layouts();

    QTemporaryDir m_work;
    QString m_deb;
};

void InstallTest::initTestCase()
{
    const QString build = qEnvironmentVariable("VOLTIGUARD_BUILD_DIR");
    QVERIFY(QFile::exists(build + QStringLiteral("/CPackConfig.cmake")));
    openUp(m_work.path());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DESTDIR"), root(QStringLiteral("destdir")));
    const Run install = run(QStringLiteral("cmake"), {"--install", build, "--prefix", "/usr"}, env);
    QVERIFY2(install.exitCode == 0, qPrintable(install.output));

    const QString pkgDir = m_work.filePath(QStringLiteral("pkg"));
    const Run cpack =
        run(QStringLiteral("cpack"), {"-G", "DEB", "--config", build + "/CPackConfig.cmake", "-B", pkgDir});
    QVERIFY2(cpack.exitCode == 0, qPrintable(cpack.output));
    const QStringList debs = QDir(pkgDir).entryList({QStringLiteral("*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    m_deb = QDir(pkgDir).filePath(debs.first());
    const Run unpack = run(QStringLiteral("dpkg"), {"-x", m_deb, root(QStringLiteral("deb"))});
    QVERIFY2(unpack.exitCode == 0, qPrintable(unpack.output));
}

void InstallTest::layouts()
{
    QTest::addColumn<QString>("layout");
    QTest::newRow("cmake --install") << "destdir";
    QTest::newRow("Debian package") << "deb";
}

void InstallTest::installedFiles_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("iconSize");
    QStringList files{"usr/bin/voltiguard",
                      "usr/share/applications/" + appId + ".desktop",
                      "usr/share/metainfo/" + appId + ".metainfo.xml",
                      "usr/share/voltiguard/help_en.html",
                      "usr/share/voltiguard/help_cn.html",
                      "usr/share/doc/voltiguard/copyright",
                      "usr/share/doc/voltiguard/changelog.gz",
                      "usr/share/man/man1/voltiguard.1.gz",
                      "usr/sbin/voltiguard-service",
                      "usr/lib/systemd/system/voltiguard.service",
                      "usr/share/dbus-1/system.d/org.voltiguard.Voltiguard1.conf",
                      "usr/share/doc/voltiguard/examples/param.ini",
                      "usr/share/man/man8/voltiguard-service.8.gz"};
    for (const char *layout : {"destdir", "deb"}) {
        for (const QString &f : files)
            QTest::addRow("%s %s", layout, qPrintable(f)) << QString::fromLatin1(layout) << f << 0;
        for (int size : iconSizes) {
            const QString f = QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(appId);
            QTest::addRow("%s %s", layout, qPrintable(f)) << QString::fromLatin1(layout) << f << size;
        }
    }
}

void InstallTest::installedFiles()
{
    QFETCH(QString, layout);
    QFETCH(QString, file);
    QFETCH(int, iconSize);
    const QFileInfo info(root(layout) + QLatin1Char('/') + file);
    QVERIFY2(info.isFile(), qPrintable(info.filePath()));
    QVERIFY(info.size() > 0);
    if (file.startsWith(QLatin1String("usr/bin/")) || file.startsWith(QLatin1String("usr/sbin/")))
        QVERIFY(info.isExecutable());
    if (iconSize)
        QCOMPARE(QImage(info.filePath()).size(), QSize(iconSize, iconSize));
}

void InstallTest::desktopEntry_data()
{
    layouts();
}

void InstallTest::desktopEntry()
{
    QFETCH(QString, layout);
    const QString path = root(layout) + QStringLiteral("/usr/share/applications/") + appId + QStringLiteral(".desktop");
    const Run validate = run(QStringLiteral("desktop-file-validate"), {path});
    QVERIFY2(validate.exitCode == 0 && validate.output.isEmpty(), qPrintable(validate.output));
    const auto keys = readDesktopEntry(path);
    QCOMPARE(keys.value("Type"), QStringLiteral("Application"));
    QCOMPARE(keys.value("Name"), QStringLiteral("Voltiguard"));
    QCOMPARE(keys.value("Categories"), QStringLiteral("System;Monitor;"));
    QCOMPARE(keys.value("Exec"), QStringLiteral("voltiguard"));
    QVERIFY(QFile::exists(root(layout) + QStringLiteral("/usr/bin/") + keys.value("Exec")));
    QCOMPARE(keys.value("Icon"), appId);
    QVERIFY(QFile::exists(root(layout) + QStringLiteral("/usr/share/icons/hicolor/48x48/apps/") + keys.value("Icon") +
                          QStringLiteral(".png")));
}

void InstallTest::metainfo_data()
{
    layouts();
}

void InstallTest::metainfo()
{
    QFETCH(QString, layout);
    const QString path =
        root(layout) + QStringLiteral("/usr/share/metainfo/") + appId + QStringLiteral(".metainfo.xml");
    const Run validate = run(QStringLiteral("appstreamcli"), {"validate", "--no-net", path});
    QVERIFY2(validate.exitCode == 0, qPrintable(validate.output));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString xml = QString::fromUtf8(f.readAll());
    QVERIFY(xml.contains(QStringLiteral("<id>%1</id>").arg(appId)));
    QVERIFY(xml.contains(QStringLiteral("<launchable type=\"desktop-id\">%1.desktop</launchable>").arg(appId)));
    // The newest release listed is the version being built.
    const auto release = QRegularExpression(QStringLiteral("<release version=\"([^\"]+)\"")).match(xml);
    QVERIFY(release.hasMatch());
    QCOMPARE(release.captured(1), QStringLiteral(VOLTIGUARD_VERSION));
    QVERIFY(xml.contains(QStringLiteral("<screenshot type=\"default\">")));
    QVERIFY(xml.contains(QStringLiteral("<url type=\"homepage\">")));
    QVERIFY(xml.contains(QStringLiteral("<url type=\"bugtracker\">")));
}

void InstallTest::packageControl_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("expected");
    QTest::newRow("package") << "Package"
                             << "voltiguard";
    QTest::newRow("version") << "Version" << VOLTIGUARD_VERSION;
    QTest::newRow("architecture") << "Architecture" << run("dpkg", {"--print-architecture"}).output.trimmed();
    QTest::newRow("section") << "Section"
                             << "admin";
    for (const char *dep : {"libqt6core6", "libqt6gui6", "libqt6widgets6", "libqt6svg6", "libqt6sql6-sqlite",
                            "libsnmp40", "libc6", "libstdc++6"})
        QTest::addRow("depends on %s", dep) << "Depends" << dep;
    QTest::newRow("recommends a notification server") << "Recommends"
                                                      << "notification-daemon";
}

void InstallTest::packageControl()
{
    QFETCH(QString, field);
    QFETCH(QString, expected);
    const QString value = run(QStringLiteral("dpkg-deb"), {"-f", m_deb, field}).output.trimmed();
    if (field != QLatin1String("Depends") && field != QLatin1String("Recommends")) {
        QCOMPARE(value, expected);
        return;
    }
    QStringList names;
    for (const QString &dep : value.split(QLatin1Char(',')))
        names << dep.trimmed().section(QLatin1Char(' '), 0, 0);
    QVERIFY2(names.contains(expected), qPrintable(value));
    QVERIFY2(!names.contains(QStringLiteral("qt6-qpa-plugins")), qPrintable(value));
    QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), names.size());
}

void InstallTest::packagedManualFound_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QString>("manual");
    QTest::newRow("English") << false << "help_en.html";
    QTest::newRow("Chinese") << true << "help_cn.html";
}

void InstallTest::packagedManualFound()
{
    QFETCH(bool, chinese);
    QFETCH(QString, manual);
    const QString deb = root(QStringLiteral("deb"));
    QCOMPARE(helpFilePath(chinese, deb + QStringLiteral("/usr/bin")),
             deb + QStringLiteral("/usr/share/voltiguard/") + manual);
}

void InstallTest::packagedProgramUsesUserDataDir_data()
{
    QTest::addColumn<bool>("asRoot");
    QTest::addColumn<bool>("upgrade");
    QTest::newRow("packaged, run as a user") << false << false;
    // /usr/bin is writable for root: the files still go to root's XDG directories.
    QTest::newRow("packaged, run as root") << true << false;
    QTest::newRow("upgrade moves the files of the old data directory") << false << true;
}

void InstallTest::packagedProgramUsesUserDataDir()
{
    QFETCH(bool, asRoot);
    QFETCH(bool, upgrade);
    const bool superuser = geteuid() == 0;
    if (asRoot && !superuser)
        QSKIP("needs root");
    const QString deb = root(QStringLiteral("deb"));
    const QStringList before = filesBelow(deb);
    // /usr/bin is not writable for a user: as root, run as nobody; otherwise make it so.
    if (!superuser)
        QFile::setPermissions(deb + QStringLiteral("/usr/bin"),
                              QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);

    const QString home = m_work.filePath(QStringLiteral("home-%1").arg(QTest::currentDataTag()).replace(' ', '-'));
    const QString config = home + QStringLiteral("/config/voltiguard");
    const QString state = home + QStringLiteral("/state/voltiguard");
    const QString oldData = home + QStringLiteral("/data/voltiguard");
    const QString paramDir = upgrade ? oldData : config;
    QVERIFY(QDir().mkpath(paramDir));
    QVERIFY(QDir().mkpath(home + QStringLiteral("/run")));
    QFile::setPermissions(home + QStringLiteral("/run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    {
        // A loopback agent that never answers.
        QSettings s(paramDir + QStringLiteral("/param.ini"), QSettings::IniFormat);
        s.setValue("ip", "127.0.0.1");
        s.setValue("snmp_port_poll", freeUdpPort());
        s.setValue("snmp_port_trace", freeUdpPort());
        s.setValue("retries", 0);
        s.setValue("timeout", 1);
    }
    if (superuser && !asRoot) {
        const QStringList owned{home,          home + "/config",        home + "/data", home + "/data/voltiguard",
                                home + "/run", paramDir + "/param.ini", config};
        for (const QString &d : owned) {
            if (QFileInfo::exists(d))
                QVERIFY(::chown(QFile::encodeName(d).constData(), 65534, 65534) == 0);
        }
    }

    XSession x;
    QVERIFY(!x.display().isEmpty());
    QProcessEnvironment env = x.environment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/state"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/run"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/vg"));
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/vg"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(home);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    const QString binary = deb + QStringLiteral("/usr/bin/voltiguard");
    // A program that missed its param.ini would poll the default agent address:
    // as root it runs in a network namespace that has only loopback.
    const QString dropToNobody =
        asRoot ? QString() : QStringLiteral("setpriv --reuid=65534 --regid=65534 --clear-groups -- ");
    if (superuser)
        program.start(QStringLiteral("unshare"),
                      {"-n", "sh", "-c", "ip link set lo up && exec " + dropToNobody + "\"$0\"", binary});
    else
        program.start(binary, {});
    QVERIFY(program.waitForStarted(5000));

    auto mainWindowShown = [&] {
        for (const QRect &r : x.windows(QStringLiteral("voltiguard"))) {
            if (r.size() == QSize(650, 487))
                return true;
        }
        return false;
    };
    const bool shown = QTest::qWaitFor(mainWindowShown, 20000);
    const bool running = program.state() == QProcess::Running;
    program.terminate();
    if (!program.waitForFinished(5000)) {
        program.kill();
        program.waitForFinished(5000);
    }
    QVERIFY2(running, "the packaged program ended by itself");
    QVERIFY2(shown, "the packaged program showed no main window");
    // Nothing was written beside the executable; the XDG directories hold the files.
    QCOMPARE(filesBelow(deb), before);
    QVERIFY2(filesBelow(config).contains(QStringLiteral("param.ini")), qPrintable(filesBelow(home).join(' ')));
    QVERIFY2(filesBelow(state).contains(QStringLiteral("log.db")), qPrintable(filesBelow(home).join(' ')));
    QVERIFY(filesBelow(state).contains(QStringLiteral("snmpv3_boot_counter")));
    if (upgrade)
        QVERIFY(!QFile::exists(oldData + QStringLiteral("/param.ini")));
    const QFile::Permissions groupOrOther =
        QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    for (const QString &path : {config, state, state + QStringLiteral("/log.db")})
        QVERIFY2(!(QFileInfo(path).permissions() & groupOrOther), qPrintable(path));
}

void InstallTest::lintianFindsNothing()
{
    // Errors and warnings fail; informational tags (the spelling of the texts the
    // interface keeps as they are) do not.
    const Run lintian = run(QStringLiteral("lintian"), {"--fail-on", "error,warning", m_deb});
    QVERIFY2(lintian.exitCode == 0, qPrintable(lintian.output));
}

void InstallTest::serviceUnitAndBusPolicy()
{
    // systemd-analyze wants the program and the manual where the unit names them;
    // the unit is checked as a file, never given to this machine's systemd.
    const QString root = this->root(QStringLiteral("destdir"));
    QFile unit(root + QStringLiteral("/usr/lib/systemd/system/voltiguard.service"));
    QVERIFY(unit.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(unit.readAll())
                             .replace(QStringLiteral("=/usr/sbin/"), QStringLiteral("=%1/usr/sbin/").arg(root));
    const QString copy = m_work.filePath(QStringLiteral("voltiguard.service"));
    QFile out(copy);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(text.toUtf8());
    out.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MANPATH"), root + QStringLiteral("/usr/share/man"));
    const Run verify = run(QStringLiteral("systemd-analyze"), {"verify", copy}, env);
    QVERIFY2(verify.exitCode == 0 && verify.output.trimmed().isEmpty(), qPrintable(verify.output));
    const Run security = run(QStringLiteral("systemd-analyze"), {"security", "--offline=yes", copy});
    qInfo("%s", qPrintable(security.output.trimmed().section(QLatin1Char('\n'), -1)));

    // A policy that dbus-daemon cannot parse makes it refuse to start.
    const QString config = m_work.filePath(QStringLiteral("bus.conf"));
    QFile conf(config);
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("<busconfig><type>system</type><listen>unix:path=%1</listen>"
                              "<policy context=\"default\"><allow user=\"*\"/></policy><include>%2</include>"
                              "</busconfig>")
                   .arg(m_work.filePath(QStringLiteral("bus")),
                        root + QStringLiteral("/usr/share/dbus-1/system.d/org.voltiguard.Voltiguard1.conf"))
                   .toUtf8());
    conf.close();
    QProcess daemon;
    daemon.setProcessChannelMode(QProcess::MergedChannels);
    daemon.start(QStringLiteral("dbus-daemon"), {"--config-file=" + config, "--nofork", "--print-address"});
    QVERIFY(daemon.waitForStarted(5000));
    QDeadlineTimer deadline(5000);
    while (!daemon.canReadLine() && daemon.state() == QProcess::Running && !deadline.hasExpired())
        daemon.waitForReadyRead(100);
    const QString printed = QString::fromUtf8(daemon.readAll());
    daemon.terminate();
    daemon.waitForFinished(5000);
    QVERIFY2(printed.startsWith(QLatin1String("unix:path=")), qPrintable(printed));
}

QTEST_GUILESS_MAIN(InstallTest)
#include "tst_install.moc"
