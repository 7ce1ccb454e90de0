// Under LANG=zh_CN.UTF-8 every window shows its Chinese texts: the main window,
// its tray icon and menu, the exit question, the about box, the settings with
// the SNMPv3 user dialogs, the event log, the close report and the alarm popup,
// each opened the way the main window opens it. Run with
// VOLTIGUARD_SCREENSHOT_DIR set, it also keeps pictures of them.
#include "app/language.h"
#include "app/mainwindow.h"
#include "config/dialogadduser.h"
#include "config/properties.h"
#include "config/settingsdialog.h"
#include "eventlog/logdialog.h"
#include "eventlog/logstore.h"
#include "model/logevent.h"
#include "model/upsstatus.h"
#include "shutdown/closedialog.h"
#include "shutdown/closefile.h"
#include "shutdown/smarthomemsg.h"
#include "tempdatadir.h"
#include "widgetdriver.h"
#include "widgets/aboutdialog.h"
#include "widgets/btnwidget.h"
#include "widgets/desktopviewer.h"
#include "widgets/messagebox.h"
#include "widgets/qmylabel.h"
#include "xsession.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
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

// Opens a T through action, hands it to inspect once and closes it again.
template <typename T> bool inspectOnce(const std::function<void()> &action, const std::function<void(T *)> &inspect)
{
    bool seen = false;
    whileShown<T>(action, [&](T *window) {
        if (!seen) {
            seen = true;
            inspect(window);
        }
        window->close();
    });
    return seen;
}

// The text a row names: the window title, a widget's text or title, its tool
// tip, or entry `index` of a combo box, tab bar, table header or event column.
QString shownText(QWidget *window, const QString &kind, const QString &name, int index)
{
    if (kind == QLatin1String("window"))
        return window->windowTitle();
    QWidget *w = window->findChild<QWidget *>(name);
    if (!w)
        return QStringLiteral("<no %1>").arg(name);
    if (kind == QLatin1String("toolTip"))
        return w->toolTip();
    if (auto *group = qobject_cast<QGroupBox *>(w))
        return group->title();
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *combo = qobject_cast<QComboBox *>(w))
        return combo->itemText(index);
    if (auto *tabs = qobject_cast<QTabWidget *>(w))
        return tabs->tabText(index);
    if (auto *view = qobject_cast<QAbstractItemView *>(w)) {
        if (kind == QLatin1String("event"))
            return view->model()->index(index, 2).data().toString();
        return view->model()->headerData(index, Qt::Horizontal).toString();
    }
    return QStringLiteral("<%1 has no text>").arg(name);
}

// Labels and buttons on the shown page whose text needs more room than they have.
QStringList cutOff(QWidget *window)
{
    QStringList names;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(window))
            continue;
        const auto *label = qobject_cast<QLabel *>(w);
        const auto *button = qobject_cast<QAbstractButton *>(w);
        const bool hasText =
            (label && !label->wordWrap() && !label->text().isEmpty()) || (button && !button->text().isEmpty());
        if (hasText && w->sizeHint().width() > w->width())
            names << QStringLiteral("%1 (%2 > %3)").arg(w->objectName()).arg(w->sizeHint().width()).arg(w->width());
        // A group whose rows need more height than it has, or that reaches past its page.
        if (qobject_cast<const QGroupBox *>(w) && w->layout() &&
            (w->layout()->minimumSize().height() > w->height() ||
             w->geometry().bottom() >= w->parentWidget()->height()))
            names << QStringLiteral("%1 (height %2 of %3, bottom %4 of %5)")
                         .arg(w->objectName())
                         .arg(w->height())
                         .arg(w->layout()->minimumSize().height())
                         .arg(w->geometry().bottom())
                         .arg(w->parentWidget()->height());
    }
    return names;
}

void addTextColumns()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("chinese");
}

void textRow(const char *tag, const char *kind, const char *name, const QString &chinese, int index = 0)
{
    QTest::newRow(tag) << QString::fromLatin1(kind) << QString::fromLatin1(name) << index << chinese;
}

QString pictureName(QWidget *window)
{
    return QString::fromLatin1(window->metaObject()->className()).toLower() + QStringLiteral("_zh.png");
}
} // namespace

class ChineseUiTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void mainWindowTexts_data();
    void mainWindowTexts();
    void trayTexts();
    void minimiseMessage();
    void exitQuestion();
    void aboutBox();
    void settingsTexts_data();
    void settingsTexts();
    void propertiesTexts_data();
    void propertiesTexts();
    void addUserTexts_data();
    void addUserTexts();
    void logDialogTexts_data();
    void logDialogTexts();
    void closeReportTexts_data();
    void closeReportTexts();
    void alarmPopupTexts_data();
    void alarmPopupTexts();
    void messageTexts_data();
    void messageTexts();

private:
    // Reads the row's text from window; the "title" row also checks that no text
    // is cut off and keeps the picture.
    void checkText(QWidget *window, QString &shown, QStringList &tooNarrow);
    void compareRow(const QString &shown, const QStringList &tooNarrow);

    std::unique_ptr<TempDataDir> m_data;
    std::unique_ptr<MainWindow> m_window;
};

void ChineseUiTest::initTestCase()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS"),
             "DBUS_SYSTEM_BUS_ADDRESS is unset; refusing to run a main window that could power off");
}

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
    upsStatus.reset();
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
    QTest::newRow("status bar day name") << "clock"
                                         << ""
                                         << "";
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
    } else if (kind == QLatin1String("clock")) {
        m_window->timerslots();
        const QDate today = QDate::currentDate();
        chinese = QLocale(QLocale::Chinese, QLocale::China).dayName(today.dayOfWeek(), QLocale::ShortFormat);
        for (const QLabel *label : m_window->statusBar()->findChildren<QLabel *>()) {
            if (label->text().startsWith(today.toString(QStringLiteral("yyyy-MM-dd "))))
                shown = label->text().section(QLatin1Char(' '), -1);
        }
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

void ChineseUiTest::checkText(QWidget *window, QString &shown, QStringList &tooNarrow)
{
    QFETCH(QString, kind);
    QFETCH(QString, name);
    QFETCH(int, index);
    shown = shownText(window, kind, name, index);
    if (QTest::currentDataTag() != QLatin1String("title"))
        return;
    tooNarrow = cutOff(window);
    saveScreenshot(window->grab(), pictureName(window));
}

void ChineseUiTest::compareRow(const QString &shown, const QStringList &tooNarrow)
{
    QFETCH(QString, chinese);
    QCOMPARE(shown, chinese);
    QVERIFY2(tooNarrow.isEmpty(), qPrintable(tooNarrow.join(QStringLiteral(", "))));
}

void ChineseUiTest::settingsTexts_data()
{
    addTextColumns();
    textRow("title", "window", "", "设置");
    textRow("SNMP page", "item", "tabWidget", "SNMP设置", 0);
    textRow("power page", "item", "tabWidget", "电源设置", 1);
    textRow("address", "text", "label_12", "IP:");
    textRow("version group", "text", "groupBox_snmp_ver", "SNMP版本");
    textRow("version 1", "text", "radio_v1", "SNMPv1");
    textRow("version 2", "text", "radio_v2", "SNMPv2");
    textRow("version 3", "text", "radio_v3", "SNMPv3");
    textRow("v1/v2 group", "text", "groupBox_snmp_v12", "SNMPv1/v2选择");
    textRow("community", "text", "label_5", "公共体");
    textRow("v3 group", "text", "groupBox_snmp_v3", "SNMPv3选择");
    textRow("security name", "text", "label_14", "安全名");
    textRow("security level", "text", "label_15", "安全等级");
    textRow("no auth, no priv", "item", "comboBox_2", "无鉴权无加密", 0);
    textRow("auth, no priv", "item", "comboBox_2", "有鉴权无加密", 1);
    textRow("auth and priv", "item", "comboBox_2", "有鉴权有加密", 2);
    textRow("context name", "text", "label_16", "上下文名字");
    textRow("context engine", "text", "label_17", "上下文引擎ID");
    textRow("users button", "text", "pushButton_usm", "基于用户保护等级");
    textRow("general group", "text", "groupBox_snmp_options", "通用选项");
    textRow("retries", "text", "label_10", "重连次数");
    textRow("timeout", "text", "label_18", "超时时间");
    textRow("timeout unit", "text", "label_13", "秒.");
    textRow("poll port", "text", "label_6", "SNMP端口");
    textRow("trap port", "text", "label_7", "trap端口");
    textRow("other group", "text", "OtherSetTab", "附加设置");
    textRow("save documents", "text", "checkbox_SaveCheck", "关机自动保存打开的程序");
    textRow("save directory", "text", "savedfileEdit", "文件保存路径：");
    textRow("directory chooser", "text", "browseBtn", "浏览");
    textRow("external program", "text", "checkbox_Exte_Check", "关机前欲执行的外部命令");
    textRow("program chooser", "text", "bt_Exte_Btn", "浏览");
    textRow("running time", "text", "label_22", "最大运行时间：");
    textRow("running time unit", "text", "label_21", "分钟");
    textRow("system group", "text", "groupBox6", "系统设置");
    textRow("shutdown", "text", "checkBox_shutdown", "关机时间设置");
    textRow("utility", "text", "checkBox_utility", "市电故障等待关机时间");
    textRow("utility unit", "text", "label_3", "分钟");
    textRow("battery", "text", "checkBox_battery", "电池低压等待关机时间");
    textRow("battery unit", "text", "label_4", "分钟");
    textRow("UPS", "text", "checkBox_ups", "UPS故障等待关机时间");
    textRow("UPS unit", "text", "label_9", "分钟");
    textRow("autostart", "text", "checkBox_auto", "开机自动运行程序");
    textRow("notifications", "text", "checkBox_notify", "桌面通知");
    textRow("popup", "text", "checkBox_popup", "弹出告警框时间间隔");
    textRow("popup unit", "text", "label", "秒.");
    textRow("OK", "text", "pushButton", "确定");
}

void ChineseUiTest::settingsTexts()
{
    QString shown;
    QStringList tooNarrow;
    QVERIFY(inspectOnce<SettingsDialog>([&] { m_window->bt_set_clicked(); },
                                        [&](SettingsDialog *dialog) {
                                            checkText(dialog, shown, tooNarrow);
                                            if (QTest::currentDataTag() != QLatin1String("title"))
                                                return;
                                            auto *tabs = dialog->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
                                            tabs->setCurrentIndex(1);
                                            tooNarrow << cutOff(dialog);
                                            saveScreenshot(dialog->grab(),
                                                           QStringLiteral("settingsdialog_power_zh.png"));
                                        }));
    compareRow(shown, tooNarrow);
}

void ChineseUiTest::propertiesTexts_data()
{
    addTextColumns();
    textRow("title", "window", "", "基于用户保护等级");
    textRow("page", "item", "tabWidget", "基于用户保护等级", 0);
    textRow("security name", "text", "text_label_sec_name", "安全名:");
    textRow("auth protocol", "text", "text_label_auth_prot", "认证协议:");
    textRow("no auth", "item", "combo_box_auth_prot", "无", 0);
    textRow("MD5", "item", "combo_box_auth_prot", "HMAC-MD5", 1);
    textRow("SHA", "item", "combo_box_auth_prot", "HMAC-SHA", 2);
    textRow("auth password", "text", "text_label_auth_pass", "认证密码:");
    textRow("priv protocol", "text", "textlabel_priv_prot", "隐私协议:");
    textRow("no priv", "item", "combo_box_priv_prot", "无", 0);
    textRow("DES", "item", "combo_box_priv_prot", "DES", 1);
    textRow("AES128", "item", "combo_box_priv_prot", "AES128", 2);
    textRow("AES196", "item", "combo_box_priv_prot", "AES196", 3);
    textRow("AES256", "item", "combo_box_priv_prot", "AES256", 4);
    textRow("priv password", "text", "text_label_priv_pass", "隐私密码:");
    textRow("add", "text", "push_button_add_user", "添加新用户");
    textRow("delete", "text", "push_button_del_user", "删除用户");
    textRow("delete tip", "toolTip", "push_button_del_user", "删除选择的用户");
    textRow("reset", "text", "push_button_reset", "重置");
    textRow("reset tip", "toolTip", "push_button_reset", "Reset the values to the old values");
    textRow("OK", "text", "push_button_ok", "确定");
    textRow("OK tip", "toolTip", "push_button_ok", "点击按钮保存设置");
    textRow("close", "text", "button_close", "关闭");
}

// The user dialogs are reached as a user reaches them: SNMPv3 chosen in the
// settings, then the users button.
void ChineseUiTest::propertiesTexts()
{
    QString shown;
    QStringList tooNarrow;
    bool opened = false;
    QVERIFY(inspectOnce<SettingsDialog>(
        [&] { m_window->bt_set_clicked(); },
        [&](SettingsDialog *dialog) {
            WidgetDriver::click(WidgetDriver::child<QAbstractButton>(*dialog, "radio_v3"));
            auto *users = WidgetDriver::child<QPushButton>(*dialog, "pushButton_usm");
            opened = inspectOnce<Properties>([&] { WidgetDriver::click(users); },
                                             [&](Properties *properties) { checkText(properties, shown, tooNarrow); });
        }));
    QVERIFY(opened);
    compareRow(shown, tooNarrow);
}

void ChineseUiTest::addUserTexts_data()
{
    addTextColumns();
    textRow("title", "window", "", "添加用户对话框");
    textRow("OK", "text", "buttonOk", "确定(&O)");
}

void ChineseUiTest::addUserTexts()
{
    QString shown;
    QStringList tooNarrow;
    bool opened = false;
    QVERIFY(inspectOnce<SettingsDialog>(
        [&] { m_window->bt_set_clicked(); },
        [&](SettingsDialog *dialog) {
            WidgetDriver::click(WidgetDriver::child<QAbstractButton>(*dialog, "radio_v3"));
            auto *users = WidgetDriver::child<QPushButton>(*dialog, "pushButton_usm");
            inspectOnce<Properties>([&] { WidgetDriver::click(users); },
                                    [&](Properties *properties) {
                                        auto *add =
                                            WidgetDriver::child<QPushButton>(*properties, "push_button_add_user");
                                        opened = inspectOnce<DialogAddUser>(
                                            [&] { WidgetDriver::click(add); },
                                            [&](DialogAddUser *addUser) { checkText(addUser, shown, tooNarrow); });
                                    });
        }));
    QVERIFY(opened);
    compareRow(shown, tooNarrow);
}

void ChineseUiTest::logDialogTexts_data()
{
    addTextColumns();
    textRow("title", "window", "", "实时数据");
    textRow("group", "text", "groupBox", "事件记录");
    textRow("time column", "item", "tableView", "日期/时间", 0);
    textRow("address column", "item", "tableView", "IP", 1);
    textRow("event column", "item", "tableView", "事件", 2);
    textRow("newest event", "event", "tableView", "Agent和UPS已连接", 0);
    textRow("older event", "event", "tableView", "市电故障", 1);
    textRow("save", "text", "bt_save", "保存");
    textRow("print", "text", "bt_print", "打印");
    textRow("clean", "text", "bt_clean", "清除");
    textRow("OK", "text", "bt_ok", "确认");
}

void ChineseUiTest::logDialogTexts()
{
    {
        LogDatabase db(LogDatabase::flushConnection);
        QVERIFY(db.insertEvents({{QStringLiteral("2026-03-02 08:15:04"), UtilityFail},
                                 {QStringLiteral("2026-03-02 08:17:41"), AgentAndUpsConnected}},
                                QStringLiteral("127.0.0.1")));
    }
    QString shown;
    QStringList tooNarrow;
    QVERIFY(inspectOnce<LogDialog>([&] { m_window->bt_log_clicked(); },
                                   [&](LogDialog *dialog) { checkText(dialog, shown, tooNarrow); }));
    compareRow(shown, tooNarrow);
}

void ChineseUiTest::closeReportTexts_data()
{
    addTextColumns();
    textRow("title", "window", "", "关闭文件");
    textRow("time", "text", "label_5", "上次关机的时间：");
    textRow("closed programs", "text", "label_3", "上次关闭的程序：");
    textRow("saved files", "text", "label_4", "上次保存的文件:");
    textRow("OK", "text", "pushButton", "确定");
}

void ChineseUiTest::closeReportTexts()
{
    CloseFile::reset();
    CloseFile::setTime(QStringLiteral("2026-03-02 08:25:04"));
    CloseFile::addClosed(QStringLiteral("报告.odt - LibreOffice Writer"));
    CloseFile::addSaved(QStringLiteral("报告.odt"), QStringLiteral("/home/user/backup1_20260302-082510"));
    QString shown;
    QStringList tooNarrow;
    QVERIFY(inspectOnce<CloseDialog>([&] { m_window->bt_close_clicked(); },
                                     [&](CloseDialog *dialog) { checkText(dialog, shown, tooNarrow); }));
    compareRow(shown, tooNarrow);
}

void ChineseUiTest::alarmPopupTexts_data()
{
    addTextColumns();
    textRow("title", "text", "label_title", "告警框");
    textRow("countdown", "text", "textBrowser", "市电故障\n\n关闭操作系统倒计时时间:00:30:00");
    textRow("close", "text", "tb_ignore", "关闭");
}

// One tick of a half-hour utility countdown brings the popup up; the window's own
// timer is stopped, so the countdown never gets near the power-off.
void ChineseUiTest::alarmPopupTexts()
{
    m_window.reset();
    m_data->writeParams({{"shutdown", true}, {"Utility_para", true}, {"Utility_time", 30}, {"timeout", 120}});
    m_window = std::make_unique<MainWindow>();
    for (QTimer *timer : m_window->findChildren<QTimer *>()) {
        if (timer->interval() == 1000)
            timer->stop();
    }
    upsStatus.clearAlarms();
    upsStatus.agentAnswered();
    upsStatus.setAlarm(alarmIndex(QStringLiteral("1.3.6.1.2.1.33.1.6.3.6")), true, true);
    m_window->timerslots();

    SmartHomeMsg *popup = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *p = qobject_cast<SmartHomeMsg *>(w); p && p->isVisible())
            popup = p;
    }
    QVERIFY(popup);
    QTRY_VERIFY(!popup->findChild<QPropertyAnimation *>());
    QString shown;
    QStringList tooNarrow;
    checkText(popup, shown, tooNarrow);
    compareRow(shown, tooNarrow);
}

void ChineseUiTest::messageTexts_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty address") << "settings"
                                   << ""
                                   << "告警"
                                   << "IP 或者端口为空";
    QTest::newRow("bad address") << "settings"
                                 << "127.0.0"
                                 << "Warning"
                                 << "IP格式错误！";
    QTest::newRow("clean the log") << "log"
                                   << ""
                                   << "告警"
                                   << "是否删除记录？";
}

// The questions and warnings of the dialogs, answered through the test seam.
void ChineseUiTest::messageTexts()
{
    QFETCH(QString, window);
    QFETCH(QString, address);
    QFETCH(QString, title);
    QFETCH(QString, text);
    MessageBox::shownBoxes().clear();
    MessageBox::setNextAnswer(window == QLatin1String("log") ? QMessageBox::No : QMessageBox::Ok);
    if (window == QLatin1String("settings")) {
        QVERIFY(inspectOnce<SettingsDialog>(
            [&] { m_window->bt_set_clicked(); },
            [&](SettingsDialog *dialog) {
                WidgetDriver::setText(WidgetDriver::child<QLineEdit>(*dialog, "lineEdit_ip"), address);
                WidgetDriver::click(WidgetDriver::child<QPushButton>(*dialog, "pushButton"));
            }));
    } else {
        QVERIFY(inspectOnce<LogDialog>(
            [&] { m_window->bt_log_clicked(); },
            [&](LogDialog *dialog) { WidgetDriver::click(WidgetDriver::child<QPushButton>(*dialog, "bt_clean")); }));
    }
    QCOMPARE(MessageBox::shownBoxes().size(), 1);
    QCOMPARE(MessageBox::shownBoxes().constFirst().title, title);
    QCOMPARE(MessageBox::shownBoxes().constFirst().text, text);
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
