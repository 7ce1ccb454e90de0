// Under LANG=zh_CN.UTF-8 the windows of this area show their Chinese texts: the
// main window, its tray icon and menu, the exit question and the about box. Run
// with VOLTIGUARD_SCREENSHOT_DIR set, it also keeps pictures of them.
#include "app/language.h"
#include "app/mainwindow.h"
#include "tempdatadir.h"
#include "widgets/aboutdialog.h"
#include "widgets/btnwidget.h"
#include "widgets/desktopviewer.h"
#include "widgets/qmylabel.h"
#include "xsession.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <functional>
#include <memory>

namespace {
void saveScreenshot(const QPixmap &picture, const QString &name)
{
    const QString dir = qEnvironmentVariable("VOLTIGUARD_SCREENSHOT_DIR");
    if (!dir.isEmpty())
        QVERIFY(picture.save(QDir(dir).filePath(name)));
}

// Runs action while a timer hands every visible top-level widget of type T to inspect.
template <typename T> void whileShown(const std::function<void()> &action, const std::function<void(T *)> &inspect)
{
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *t = qobject_cast<T *>(w); t && t->isVisible())
                inspect(t);
        }
    });
    poll.start(50);
    action();
}
} // namespace

class ChineseUiTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void mainWindowTexts_data();
    void mainWindowTexts();
    void trayTexts();
    void minimiseMessage();
    void exitQuestion();
    void aboutBox();

private:
    std::unique_ptr<TempDataDir> m_data;
    std::unique_ptr<MainWindow> m_window;
};

void ChineseUiTest::init()
{
    m_data = std::make_unique<TempDataDir>();
    m_data->writeParams();
    m_window = std::make_unique<MainWindow>();
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void ChineseUiTest::cleanup()
{
    m_window.reset();
    m_data.reset();
}

void ChineseUiTest::mainWindowTexts_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("chinese");
    QTest::newRow("title") << "window"
                           << ""
                           << "Voltiguard";
    QTest::newRow("network group") << "group"
                                   << "group_internet"
                                   << "网络状态";
    QTest::newRow("address label") << "label"
                                   << "label_ip"
                                   << "IP:";
    QTest::newRow("state label") << "label"
                                 << "label_state"
                                 << "状态:";
    QTest::newRow("UPS group") << "group"
                               << "groupBox_state"
                               << "UPS状态";
    QTest::newRow("utility") << "label"
                             << "label_utility"
                             << "市电故障";
    QTest::newRow("battery") << "label"
                             << "label_battery"
                             << "电池低压";
    QTest::newRow("UPS") << "label"
                         << "label_ups"
                         << "UPS故障";
    QTest::newRow("recent events") << "label"
                                   << "label"
                                   << "实时事件";
    QTest::newRow("settings button") << "button"
                                     << "bt_set"
                                     << "设置";
    QTest::newRow("close button") << "button"
                                  << "bt_close"
                                  << "关闭";
    QTest::newRow("log button") << "button"
                                << "bt_log"
                                << "日志";
    QTest::newRow("help button") << "button"
                                 << "bt_about"
                                 << "帮助";
    QTest::newRow("status bar state") << "status"
                                      << ""
                                      << "Agent失去连接";
}

void ChineseUiTest::mainWindowTexts()
{
    QFETCH(QString, kind);
    QFETCH(QString, name);
    QFETCH(QString, chinese);
    QString shown;
    if (kind == QLatin1String("window")) {
        shown = m_window->windowTitle();
    } else if (kind == QLatin1String("group")) {
        shown = m_window->findChild<QGroupBox *>(name)->title();
    } else if (kind == QLatin1String("label")) {
        shown = m_window->findChild<QLabel *>(name)->text();
    } else if (kind == QLatin1String("button")) {
        shown = m_window->findChild<BtnWidget *>(name)->captionLabel()->text();
    } else {
        QStringList texts;
        for (const QLabel *label : m_window->statusBar()->findChildren<QLabel *>())
            texts << label->text();
        QVERIFY2(texts.contains(chinese), qPrintable(texts.join(QLatin1Char('|'))));
        shown = chinese;
    }
    QCOMPARE(shown, chinese);
    if (QTest::currentDataTag() == QLatin1String("title")) {
        m_window->update();
        QTest::qWait(200);
        saveScreenshot(m_window->grab(), QStringLiteral("mainwindow_zh.png"));
    }
}

void ChineseUiTest::trayTexts()
{
    QSystemTrayIcon *icon = m_window->findChild<QSystemTrayIcon *>();
    QVERIFY(icon->isVisible());
    QCOMPARE(icon->toolTip(), QStringLiteral("Voltiguard,Agent失去连接"));
    QStringList texts;
    for (const QAction *a : icon->contextMenu()->actions())
        texts << a->text();
    QCOMPARE(texts, (QStringList{"最小化(&N)", "最大化(&X)", "恢复(&R)", "", "退出(&Q)"}));

    QMenu *menu = icon->contextMenu();
    menu->popup(QPoint(40, 40));
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    QTest::qWait(200);
    saveScreenshot(menu->grab(), QStringLiteral("traymenu_zh.png"));
    menu->close();
}

void ChineseUiTest::minimiseMessage()
{
    m_window->showMinimized();
    QStringList balloon;
    QTRY_VERIFY(!(balloon =
                      [] {
                          for (QWidget *w : QApplication::topLevelWidgets()) {
                              if (w->isVisible() && qstrcmp(w->metaObject()->className(), "QBalloonTip") == 0) {
                                  QStringList texts;
                                  for (const QLabel *label : w->findChildren<QLabel *>())
                                      texts << label->text();
                                  return texts;
                              }
                          }
                          return QStringList();
                      }())
                     .isEmpty());
    QVERIFY2(balloon.contains(QStringLiteral("在托盘运行!")), qPrintable(balloon.join(QLatin1Char('|'))));
    QTRY_VERIFY(!m_window->isVisible());
}

void ChineseUiTest::exitQuestion()
{
    QString title, text;
    QStringList buttons;
    whileShown<QMessageBox>([&] { m_window->close(); },
                            [&](QMessageBox *box) {
                                title = box->windowTitle();
                                text = box->text();
                                for (QAbstractButton *b : box->buttons())
                                    buttons << b->text();
                                box->button(QMessageBox::No)->click();
                            });
    QCOMPARE(title, QStringLiteral("退出"));
    QCOMPARE(text, QStringLiteral("您确定退出Voltiguard?"));
    // Qt's own buttons come from its embedded Chinese translation.
    QVERIFY2(buttons.contains(QStringLiteral("是(&Y)")), qPrintable(buttons.join(QLatin1Char('|'))));
    QVERIFY2(buttons.contains(QStringLiteral("否(&N)")), qPrintable(buttons.join(QLatin1Char('|'))));
    QVERIFY(m_window->isVisible());
}

void ChineseUiTest::aboutBox()
{
    QString title;
    QMap<QString, QString> texts;
    bool fits = true;
    QPixmap picture;
    DesktopViewer::setCapturing(true);
    DesktopViewer::openedUrls().clear();
    whileShown<AboutDialog>([&] { m_window->bt_about_clicked(); },
                            [&](AboutDialog *about) {
                                title = about->windowTitle();
                                for (const QLabel *label : about->findChildren<QLabel *>()) {
                                    texts.insert(label->objectName(), label->text());
                                    fits = fits && label->sizeHint().width() <= label->width();
                                }
                                texts.insert(QStringLiteral("pushButton"),
                                             about->findChild<QPushButton *>(QStringLiteral("pushButton"))->text());
                                QTest::mouseClick(about->findChild<QMyLabel *>(QStringLiteral("userLabel")),
                                                  Qt::LeftButton);
                                picture = about->grab();
                                about->close();
                            });
    QCOMPARE(title, QStringLiteral("帮助"));
    QCOMPARE(texts.value("label_6"), QStringLiteral("Voltiguard "));
    QCOMPARE(texts.value("label_7"), QStringLiteral("版本:"));
    QCOMPARE(texts.value("label_3"), QStringLiteral("版权所有 © 2026 Voltiguard"));
    QCOMPARE(texts.value("label_4"), QStringLiteral("由 Voltiguard 发布"));
    QCOMPARE(texts.value("label_5"), QStringLiteral("保留所有权利。"));
    QCOMPARE(texts.value("userLabel"), QStringLiteral("<u>用户手册</u>"));
    QCOMPARE(texts.value("pushButton"), QStringLiteral("确定"));
    QVERIFY(fits);
    QCOMPARE(DesktopViewer::openedUrls().size(), 1);
    QCOMPARE(DesktopViewer::openedUrls().constFirst().fileName(), QStringLiteral("help_cn.html"));
    saveScreenshot(picture, QStringLiteral("about_zh.png"));
}

int main(int argc, char *argv[])
{
    XSession x;
    if (x.display().isEmpty())
        qFatal("Xvfb did not start");
    QTemporaryDir home;
    qputenv("DISPLAY", x.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/voltiguard-test");
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    QApplication app(argc, argv);
    if (!x.startWindowManager() || !x.startTrayHost())
        qFatal("openbox or trayer did not start");

    // The language choice and the translators as the program installs them.
    if (!chineseChosen(QString::fromLocal8Bit(qgetenv("LANG")), QLocale::system().name()))
        qFatal("LANG=%s does not choose Chinese", qgetenv("LANG").constData());
    QTranslator appTranslator, qtTranslator;
    if (!appTranslator.load(QStringLiteral(":/file/zh.qm")) || !qtTranslator.load(QStringLiteral(":/file/qt_zh_CN.qm")))
        qFatal("the Chinese translations are missing from the resources");
    QApplication::installTranslator(&appTranslator);
    QApplication::installTranslator(&qtTranslator);
    chineseUi = true;

    ChineseUiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_chineseui.moc"
