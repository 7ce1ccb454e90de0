// Installation: `cmake --install` into a scratch DESTDIR and the Debian package
// built by CPack, unpacked with dpkg -x. Both must lay out the program, menu
// entry, icons, manuals and metadata where Linux desktops look for them, and the
// packaged program must keep its files in the user's data directory.
#include "tempdatadir.h"
#include "widgets/helpfile.h"
#include "xsession.h"

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
    void packagedProgramUsesUserDataDir();

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
                      "usr/share/doc/voltiguard/copyright"};
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
    if (file.startsWith(QLatin1String("usr/bin/")))
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
}

void InstallTest::packageControl()
{
    QFETCH(QString, field);
    QFETCH(QString, expected);
    const QString value = run(QStringLiteral("dpkg-deb"), {"-f", m_deb, field}).output.trimmed();
    if (field != QLatin1String("Depends")) {
        QCOMPARE(value, expected);
        return;
    }
    QStringList names;
    for (const QString &dep : value.split(QLatin1Char(',')))
        names << dep.trimmed().section(QLatin1Char(' '), 0, 0);
    QVERIFY2(names.contains(expected), qPrintable(value));
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

void InstallTest::packagedProgramUsesUserDataDir()
{
    const QString deb = root(QStringLiteral("deb"));
    const QStringList before = filesBelow(deb);
    const bool asRoot = geteuid() == 0;
    // /usr/bin is not writable for a user: as root, run as nobody; otherwise make it so.
    if (!asRoot)
        QFile::setPermissions(deb + QStringLiteral("/usr/bin"),
                              QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);

    const QString home = m_work.filePath(QStringLiteral("home"));
    const QString dataDir = home + QStringLiteral("/data/voltiguard");
    QVERIFY(QDir().mkpath(dataDir));
    QVERIFY(QDir().mkpath(home + QStringLiteral("/run")));
    QFile::setPermissions(home + QStringLiteral("/run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    {
        // The data directory's param.ini: a loopback agent that never answers.
        QSettings s(dataDir + QStringLiteral("/param.ini"), QSettings::IniFormat);
        s.setValue("ip", "127.0.0.1");
        s.setValue("snmp_port_poll", freeUdpPort());
        s.setValue("snmp_port_trace", freeUdpPort());
        s.setValue("retries", 0);
        s.setValue("timeout", 1);
    }
    if (asRoot) {
        for (const QString &d : {home, home + "/data", dataDir, home + "/run", dataDir + "/param.ini"})
            QVERIFY(::chown(QFile::encodeName(d).constData(), 65534, 65534) == 0);
    }

    XSession x;
    QVERIFY(!x.display().isEmpty());
    QProcessEnvironment env = x.environment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
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
    if (asRoot)
        program.start(QStringLiteral("setpriv"), {"--reuid=65534", "--regid=65534", "--clear-groups", "--", binary});
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
    // Nothing was written beside the executable; the data directory holds the files.
    QCOMPARE(filesBelow(deb), before);
    QVERIFY(filesBelow(dataDir).contains(QStringLiteral("param.ini")));
}

QTEST_GUILESS_MAIN(InstallTest)
#include "tst_install.moc"
