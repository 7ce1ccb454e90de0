#include "binaryrun.h"
#include "xsession.h"

#include <QRegularExpression>
#include <QTest>
#include <signal.h>

namespace {
QSize windowSize(const XSession &x, const QString &title)
{
    const QString id =
        x.run("xdotool", {"search", "--onlyvisible", "--name", "^" + title + "$"}).split('\n').first().trimmed();
    const QString info = x.run("xwininfo", {"-id", id});
    const auto w = QRegularExpression("Width: (\\d+)").match(info);
    const auto h = QRegularExpression("Height: (\\d+)").match(info);
    return QSize(w.captured(1).toInt(), h.captured(1).toInt());
}
bool waitForWindow(const XSession &x, const QString &title)
{
    for (int i = 0; i < 100; ++i) {
        for (const QString &line : x.run("wmctrl", {"-l"}).split('\n')) {
            if (line.endsWith(' ' + title))
                return true;
        }
        QTest::qWait(100);
    }
    return false;
}
} // namespace

// The real binary on a private display with a window manager.
class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void secondInstanceExitsWithZero()
    {
        XSession x;
        QVERIFY(x.startWindowManager());
        BinaryRun run;
        run.environment().insert("DISPLAY", x.display());
        run.dataDir().writeParams();
        QVERIFY(run.start());
        QVERIFY(waitForWindow(x, "Voltiguard"));

        auto second = run.startAnother();
        QVERIFY(waitForWindow(x, "Warning"));
        x.run("wmctrl", {"-c", "Warning"});
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QTest::qWait(500);
        QCOMPARE(run.process().state(), QProcess::Running);
    }

    void staleLockIsTakenOver()
    {
        XSession x;
        BinaryRun run;
        run.environment().insert("DISPLAY", x.display());
        run.dataDir().writeParams();
        QVERIFY(run.start());
        QTest::qWait(1500);
        ::kill(run.process().processId(), SIGKILL);
        QVERIFY(run.process().waitForFinished(5000));
        QVERIFY(QFile::exists(run.runtimeDir() + "/Voltiguard.lock"));
        QVERIFY(run.start());
        QTest::qWait(2000);
        QCOMPARE(run.process().state(), QProcess::Running);
    }

    void windowKeepsItsSize()
    {
        XSession x;
        QVERIFY(x.startWindowManager());
        BinaryRun run;
        run.environment().insert("DISPLAY", x.display());
        run.dataDir().writeParams();
        QVERIFY(run.start());
        QVERIFY(waitForWindow(x, "Voltiguard"));
        QTest::qWait(500);
        const QSize before = windowSize(x, "Voltiguard");
        QCOMPARE(before, QSize(650, 487));
        x.run("wmctrl", {"-r", "Voltiguard", "-b", "add,maximized_vert,maximized_horz"});
        QTest::qWait(700);
        QCOMPARE(windowSize(x, "Voltiguard"), before);
        x.run("xdotool", {"search", "--onlyvisible", "--name", "^Voltiguard$", "windowsize", "900", "700"});
        QTest::qWait(700);
        QCOMPARE(windowSize(x, "Voltiguard"), before);
    }

    void withoutDisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::newRow("--version") << QStringList{"--version"} << 0 << "voltiguard " VOLTIGUARD_VERSION "\n";
        QTest::newRow("--help") << QStringList{"--help"} << 0 << "Usage: voltiguard [OPTION]";
        QTest::newRow("no option: one line, no abort")
            << QStringList() << 1 << "voltiguard: cannot open a display: run it in a graphical session";
    }

    void withoutDisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        BinaryRun run;
        run.dataDir().writeParams();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            run.environment().remove(name);
        run.process().setProcessChannelMode(QProcess::SeparateChannels);
        QVERIFY(run.start(arguments));
        QVERIFY(run.process().waitForFinished(10000));
        QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process().exitCode(), exitCode);
        const QString out = QString::fromUtf8(run.process().readAllStandardOutput());
        const QString err = QString::fromUtf8(run.process().readAllStandardError());
        if (exitCode == 0) {
            QVERIFY2(out.startsWith(output), qPrintable(out));
            QCOMPARE(err, QString());
        } else {
            QVERIFY2(err.startsWith(output) && err.count('\n') == 1, qPrintable(err));
        }
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
