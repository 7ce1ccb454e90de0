// The about box: its texts, the colours of the manual link, the manual it opens in
// each language (through the viewer seam) and where the manuals are looked up.
#include "app/language.h"
#include "app/mainwindow.h"
#include "tempdatadir.h"
#include "widgets/aboutdialog.h"
#include "widgets/btnwidget.h"
#include "widgets/desktopviewer.h"
#include "widgets/helpfile.h"
#include "widgets/qmylabel.h"
#include "widgets/qtsvgpushbutton.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
enum class Tint
{
    Red,
    Blue,
    None
};

// The dominant colour of the link's text as painted.
Tint paintedTint(QWidget *label)
{
    const QImage image = label->grab().toImage();
    int red = 0, blue = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 150 && c.green() < 100 && c.blue() < 100)
                ++red;
            else if (c.blue() > 150 && c.red() < 100 && c.green() < 100)
                ++blue;
        }
    }
    if (red > 10 && red > blue)
        return Tint::Red;
    if (blue > 10)
        return Tint::Blue;
    return Tint::None;
}

void saveScreenshot(QWidget *w, const QString &name)
{
    const QString dir = qEnvironmentVariable("VOLTIGUARD_SCREENSHOT_DIR");
    if (!dir.isEmpty())
        QVERIFY(w->grab().save(QDir(dir).filePath(name)));
}

void writeFile(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("<html></html>");
}
} // namespace

Q_DECLARE_METATYPE(Tint)

class AboutDialogTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void texts();
    void linkColoursAndManual_data();
    void linkColoursAndManual();
    void okCloses();
    void helpLookup_data();
    void helpLookup();
    void helpButtonOpensTheBox();

private:
    QTemporaryDir m_home;
};

void AboutDialogTest::initTestCase()
{
    // The main window writes or removes the user's autostart entry: keep it ours.
    qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toLocal8Bit());
    DesktopViewer::setCapturing(true);
}

void AboutDialogTest::init()
{
    DesktopViewer::openedUrls().clear();
    chineseUi = false;
}

void AboutDialogTest::cleanup()
{
    chineseUi = false;
}

void AboutDialogTest::texts()
{
    AboutDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.size(), QSize(300, 130));
    QCOMPARE(dialog.minimumSize(), QSize(300, 130));
    QCOMPARE(dialog.maximumSize(), QSize(300, 130));
    auto text = [&](const char *name) { return dialog.findChild<QLabel *>(QLatin1String(name))->text(); };
    QCOMPARE(text("label_6"), QStringLiteral("Voltiguard "));
    QCOMPARE(text("label_7"), QStringLiteral("Ver:"));
    QCOMPARE(text("Verlabel"), QStringLiteral(VOLTIGUARD_VERSION));
    QCOMPARE(text("label_3"), QStringLiteral("Copyright © 2026 Voltiguard"));
    QCOMPARE(text("label_4"), QStringLiteral("Published by Voltiguard"));
    QCOMPARE(text("label_5"), QStringLiteral("All rights reserved."));
    QCOMPARE(text("userLabel"), QStringLiteral("<u>User Manual</u>"));
    QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("pushButton"))->text(), QStringLiteral("OK"));
    // Every line fits into the fixed box.
    for (const char *name : {"label_3", "label_4", "label_5", "userLabel"}) {
        QLabel *label = dialog.findChild<QLabel *>(QLatin1String(name));
        QVERIFY2(label->sizeHint().width() <= label->width(), name);
    }
    saveScreenshot(&dialog, QStringLiteral("about_en.png"));
}

void AboutDialogTest::linkColoursAndManual_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QString>("manual");
    QTest::addColumn<QString>("language");
    QTest::newRow("English interface") << false << "help_en.html"
                                       << "lang=\"en\"";
    QTest::newRow("Chinese interface") << true << "help_cn.html"
                                       << "lang=\"zh-CN\"";
}

void AboutDialogTest::linkColoursAndManual()
{
    QFETCH(bool, chinese);
    QFETCH(QString, manual);
    QFETCH(QString, language);
    chineseUi = chinese;
    AboutDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *link = dialog.findChild<QMyLabel *>(QStringLiteral("userLabel"));
    auto *ok = dialog.findChild<QPushButton *>(QStringLiteral("pushButton"));
    QCOMPARE(link->styleSheet(), QStringLiteral("color: rgb(0, 0, 255);"));
    QCOMPARE(paintedTint(link), Tint::Blue);

    QTest::mouseMove(ok);
    QTest::mouseMove(link);
    QTRY_COMPARE(link->styleSheet(), QStringLiteral("color:red;"));
    QCOMPARE(paintedTint(link), Tint::Red);
    // Leaving does not turn it back.
    QTest::mouseMove(ok);
    QTest::qWait(100);
    QCOMPARE(link->styleSheet(), QStringLiteral("color:red;"));
    QVERIFY(DesktopViewer::openedUrls().isEmpty());

    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(link->styleSheet(), QStringLiteral("color: rgb(0, 0, 255);"));
    QCOMPARE(paintedTint(link), Tint::Blue);
    QCOMPARE(DesktopViewer::openedUrls().size(), 1);
    const QUrl url = DesktopViewer::openedUrls().constFirst();
    QVERIFY(url.isLocalFile());
    QCOMPARE(url.toLocalFile(), QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') + manual));
    QFile file(url.toLocalFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains(language.toUtf8()));

    // Each click opens it once more.
    QTest::mouseClick(link, Qt::RightButton);
    QCOMPARE(DesktopViewer::openedUrls().size(), 2);
}

void AboutDialogTest::okCloses()
{
    AboutDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("pushButton")), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
}

void AboutDialogTest::helpLookup_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("appDir");
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QString>("expected");
    QTest::newRow("beside the program") << QStringList{"bin/help_en.html", "share/voltiguard/help_en.html"} << "bin"
                                        << false << "bin/help_en.html";
    QTest::newRow("installed tree") << QStringList{"usr/share/voltiguard/help_cn.html", "data/voltiguard/help_cn.html"}
                                    << "usr/bin" << true << "usr/share/voltiguard/help_cn.html";
    QTest::newRow("language decides") << QStringList{"usr/share/voltiguard/help_en.html"} << "usr/bin" << true << "";
    QTest::newRow("system data directory")
        << QStringList{"data/voltiguard/help_en.html"} << "elsewhere/bin" << false << "data/voltiguard/help_en.html";
    QTest::newRow("nowhere") << QStringList{} << "elsewhere/bin" << false << "";
}

void AboutDialogTest::helpLookup()
{
    QFETCH(QStringList, files);
    QFETCH(QString, appDir);
    QFETCH(bool, chinese);
    QFETCH(QString, expected);
    QTemporaryDir root;
    for (const QString &f : files)
        writeFile(root.filePath(f));
    QDir().mkpath(root.filePath(appDir));
    // Only our own directories count as the system's data directories here.
    const QByteArray oldDirs = qgetenv("XDG_DATA_DIRS"), oldHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_DIRS", root.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", root.filePath(QStringLiteral("home")).toLocal8Bit());
    const QString found = helpFilePath(chinese, root.filePath(appDir));
    qputenv("XDG_DATA_DIRS", oldDirs);
    qputenv("XDG_DATA_HOME", oldHome);
    QCOMPARE(found, expected.isEmpty() ? QString() : root.filePath(expected));
}

void AboutDialogTest::helpButtonOpensTheBox()
{
    TempDataDir data;
    data.writeParams();
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QString title;
    bool iconSet = false;
    Qt::WindowFlags flags;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *about = qobject_cast<AboutDialog *>(w);
            if (about && about->isVisible()) {
                title = about->windowTitle();
                iconSet = !about->windowIcon().isNull();
                flags = about->windowFlags();
                about->close();
            }
        }
    });
    poll.start(50);
    auto *help = window.findChild<BtnWidget *>(QStringLiteral("bt_about"));
    QTest::mouseClick(help->svgButton(), Qt::LeftButton);
    poll.stop();

    QCOMPARE(title, QStringLiteral("Help"));
    QVERIFY(iconSet);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
}

QTEST_MAIN(AboutDialogTest)
#include "tst_aboutdialog.moc"
