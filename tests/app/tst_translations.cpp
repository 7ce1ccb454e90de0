// The compiled Chinese translation against the full table of the user interface:
// every entry of every window, so that none can silently go missing.
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QPushButton>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

namespace {
struct Entry
{
    const char *context;
    const char *source;
    const char *chinese; // nullptr: the entry has no translation, the source text is shown
};

// The contexts MainWindow and QObject of start-up, the windows' own contexts,
// then the texts this build chose itself (the about box's notice lines and the
// form placeholders that are replaced at run time).
const Entry table[] = {
    {"MainWindow", ",Agent Lost Connect!", ",Agent失去连接!"},
    {"MainWindow", "Agent Connected", "Agent已连接"},
    {"MainWindow", "Agent Unconnected", "Agent失去连接"},
    {"MainWindow", "Agent and UPS Connected", "Agent和UPS已连接"},
    {"MainWindow", "Alarm Prompt Dialog", "告警框"},
    {"MainWindow", "Battery Low", "电池低压"},
    {"MainWindow", "Battery Low：", "电池低压:"},
    {"MainWindow", "Battery Normal", "电池正常"},
    {"MainWindow", "Close", "关闭"},
    {"MainWindow", "Close File", "关闭文件"},
    {"MainWindow", "Countdown of Shotdown:NO", "关机倒计时：无"},
    {"MainWindow", "Countdown of Shutdown:%1:%2:%3", "关机倒计时：%1:%2:%3"},
    {"MainWindow", "Date/Time", "日期/时间"},
    {"MainWindow", "Do you want to exit Voltiguard?", "您确定退出Voltiguard?"},
    {"MainWindow", "Event", "事件"},
    {"MainWindow", "Event Log", "实时数据"},
    {"MainWindow", "Exit", "退出"},
    {"MainWindow", "Exit(&Q)", "退出(&Q)"},
    {"MainWindow", "Help", "帮助"},
    {"MainWindow", "IP", nullptr},
    {"MainWindow", "IP:", nullptr},
    {"MainWindow", "Internet", "网络状态"},
    {"MainWindow", "Linux System Shutdown", "关闭Linux操作系统"},
    {"MainWindow", "Log", "日志"},
    {"MainWindow", "Maximize(&X)", "最大化(&X)"},
    {"MainWindow", "No notification area: minimised to the task list", "没有通知区域：窗口已最小化到任务栏"},
    {"MainWindow", "Minimize(&N)", "最小化(&N)"},
    {"MainWindow", "Real Event", "实时事件"},
    {"MainWindow", "Resume(&R)", "恢复(&R)"},
    {"MainWindow", "SNMP Create Fail!", nullptr},
    {"MainWindow", "Settings", "设置"},
    {"MainWindow", "Shutdown Failed", "关机失败"},
    {"MainWindow", "Shutdown refused", "关机被拒绝"},
    {"MainWindow", "State:", "状态:"},
    {"MainWindow", "UPS Connected", "UPS已连接"},
    {"MainWindow", "UPS Fail", "UPS故障"},
    {"MainWindow", "UPS Fail：", "UPS故障:"},
    {"MainWindow", "UPS Normal", "UPS正常"},
    {"MainWindow", "UPS State", "UPS状态"},
    {"MainWindow", "UPS Unconnected", "UPS失去连接"},
    {"MainWindow", "Utility Fail", "市电故障"},
    {"MainWindow", "Utility Fail：", "市电故障:"},
    {"MainWindow", "Utility Normal", "市电正常"},
    {"MainWindow", "Warnning", "告警"},
    {"MainWindow", "Windows System Shutdown", "关闭Windows操作系统"},
    {"MainWindow", "Voltiguard", nullptr},
    {"MainWindow", "ip", "IP"},
    {"MainWindow", "ready connect!", "已连接!"},
    {"MainWindow", "running as tray!", "在托盘运行!"},
    {"QObject", "OK", "确定"},
    {"QObject", "The application is running!", "应用程序已经运行！"},
    {"QObject", "Warning", "告警"},
    {"AboutDialog", "<u>User Manual</u>", "<u>用户手册</u>"},
    {"AboutDialog", "OK", "确定"},
    {"BtnWidget", "Form", nullptr},
    {"SettingsDialog", "The directory \"%1\" cannot be created. Documents will be saved in \"%2\".",
     "无法创建目录“%1”。文档将保存在“%2”。"},
    {"SettingsDialog", "161", nullptr},
    {"SettingsDialog", "162", nullptr},
    {"SettingsDialog", "192.168.1.1", nullptr},
    {"SettingsDialog", "Automatically start", "开机自动运行程序"},
    {"SettingsDialog", "Battery low time", "电池低压等待关机时间"},
    {"SettingsDialog", "Before shutdown external program to be executed", "关机前欲执行的外部命令"},
    {"SettingsDialog", "Brower", "浏览"},
    {"SettingsDialog", "Community", "公共体"},
    {"SettingsDialog", "Desktop notifications", "桌面通知"},
    {"SettingsDialog", "Context Engine ID", "上下文引擎ID"},
    {"SettingsDialog", "Context Name", "上下文名字"},
    {"SettingsDialog", "Dialog", "SNMP版本"},
    {"SettingsDialog", "General options", "通用选项"},
    {"SettingsDialog", "IP illegal format!", "IP格式错误！"},
    {"SettingsDialog", "IP or PORT is NULL", "IP 或者端口为空"},
    {"SettingsDialog", "IP:", "IP:"},
    {"SettingsDialog", "MAX running time:", "最大运行时间："},
    {"SettingsDialog", "OK", "确定"},
    {"SettingsDialog", "Open", "打开"},
    {"SettingsDialog", "Other Set", "附加设置"},
    {"SettingsDialog", "Pop-up alarm box", "弹出告警框时间间隔"},
    {"SettingsDialog", "Power Set", "电源设置"},
    {"SettingsDialog", "Retries", "重连次数"},
    {"SettingsDialog", "SNMP Set", "SNMP设置"},
    {"SettingsDialog", "SNMP Version", "SNMP版本"},
    {"SettingsDialog", "SNMP port", "SNMP端口"},
    {"SettingsDialog", "SNMPv1", "SNMPv1"},
    {"SettingsDialog", "SNMPv1/v2 options", "SNMPv1/v2选择"},
    {"SettingsDialog", "SNMPv2", "SNMPv2"},
    {"SettingsDialog", "SNMPv3", "SNMPv3"},
    {"SettingsDialog", "SNMPv3 options", "SNMPv3选择"},
    {"SettingsDialog", "SavedfileDirectory:", "文件保存路径："},
    {"SettingsDialog", "Security Level", "安全等级"},
    {"SettingsDialog", "Security Name", "安全名"},
    {"SettingsDialog", "Select the path to save", "选择保存的路径"},
    {"SettingsDialog", "Shutdown system", "关机时间设置"},
    {"SettingsDialog", "System Set", "系统设置"},
    {"SettingsDialog", "Timeout", "超时时间"},
    {"SettingsDialog", "UPS fail time", "UPS故障等待关机时间"},
    {"SettingsDialog", "User-Based Security Model", "基于用户保护等级"},
    {"SettingsDialog", "Utility fail time", "市电故障等待关机时间"},
    {"SettingsDialog", "Warning", nullptr},
    {"SettingsDialog", "Warnning", "告警"},
    {"SettingsDialog", "authNoPriv", "有鉴权无加密"},
    {"SettingsDialog", "authPriv", "有鉴权有加密"},
    {"SettingsDialog", "minute", "分钟"},
    {"SettingsDialog", "noAuthnoPriv", "无鉴权无加密"},
    {"SettingsDialog", "save the files being opened by other application,automatically", "关机自动保存打开的程序"},
    {"SettingsDialog", "sec.", "秒."},
    {"SettingsDialog", "trap port", "trap端口"},
    {"Properties", "AES128", nullptr},
    {"Properties", "AES196", nullptr},
    {"Properties", "AES256", nullptr},
    {"Properties", "Add New user", "添加新用户"},
    {"Properties", "Add User Dialog", "添加用户对话框"},
    {"Properties", "Authentication Password:", "认证密码:"},
    {"Properties", "Authentication Protocol:", "认证协议:"},
    {"Properties", "Changes are only stored if this button is clicked", "点击按钮保存设置"},
    {"Properties", "Close", "关闭"},
    {"Properties", "DES", nullptr},
    {"Properties", "Delete User", "删除用户"},
    {"Properties", "Delete the selected user", "删除选择的用户"},
    {"Properties", "Dialog", "SNMP版本"},
    {"Properties", "HMAC-MD5", nullptr},
    {"Properties", "HMAC-SHA", nullptr},
    {"Properties", "None", "无"},
    {"Properties", "OK", "确定"},
    {"Properties", "Privacy Password:", "隐私密码:"},
    {"Properties", "Privacy Protocol:", "隐私协议:"},
    {"Properties", "Reset", "重置"},
    {"Properties", "Reset the values to the old values", nullptr},
    {"Properties", "Security Name:", "安全名:"},
    {"Properties", "User-Based Security Model", "基于用户保护等级"},
    {"DialogAddUser", "&OK", "确定(&O)"},
    {"DialogAddUser", "Add New User", "添加新用户"},
    {"DialogAddUser", "Dialog", "SNMP版本"},
    {"LogDialog", "%1 of %2 rows", "已完成 %1 / %2 条记录"},
    {"LogDialog", "Cancel", "取消"},
    {"LogDialog", "Cannot open file for writting", "无法导出文件"},
    {"LogDialog", "Clean", "清除"},
    {"LogDialog", "Data had saved in %1!", "文件保存在%1！"},
    {"LogDialog", "Date/Time", "日期/时间"},
    {"LogDialog", "Date/Time,IP,Event\n", "日期/时间,IP,事件\n"},
    {"LogDialog", "Delete Records?", "是否删除记录？"},
    {"LogDialog", "Dialog", nullptr},
    {"LogDialog", "Event", "事件"},
    {"LogDialog", "Event Log", "事件记录"},
    {"LogDialog", "Export Succeed!", "导出成功！"},
    {"LogDialog", "Exporting the event log", "正在导出事件记录"},
    {"LogDialog", "OK", "确认"},
    {"LogDialog", "Print", "打印"},
    {"LogDialog", "Printing the event log", "正在打印事件记录"},
    {"LogDialog", "Save As", "保存"},
    {"LogDialog", "ip", "IP"},
    {"LogDialog", "warning", "告警"},
    {"PrintRangeDialog", "Print", "打印"},
    {"PrintRangeDialog", "The event log holds %1 rows. Print:", "事件记录共有 %1 条。打印："},
    {"PrintRangeDialog", "The rows of the last", "最近"},
    {"PrintRangeDialog", "The rows shown", "当前显示的记录"},
    {"PrintRangeDialog", "The whole log", "全部记录"},
    {"PrintRangeDialog", "days", "天的记录"},
    {"CloseDialog", "%1 (saved as %2)", "%1（已保存为 %2）"},
    {"CloseDialog", "%1 (saved as %2: %3 could not be created)", "%1（已保存为 %2：无法创建 %3）"},
    {"CloseDialog", "%1: not saved (time budget)", "%1：未保存（时间预算已用完）"},
    {"CloseDialog", "power-off refused", "关机被拒绝"},
    {"CloseDialog", "Dialog", nullptr},
    {"CloseDialog", "OK", "确定"},
    {"CloseDialog", "the last closed program:", "上次关闭的程序："},
    {"CloseDialog", "the last saved program:", "上次保存的文件:"},
    {"CloseDialog", "the last shut down time:", "上次关机的时间："},
    {"SmartHomeMsg", "\n%1:%2:%3", nullptr},
    {"SmartHomeMsg", "%1:%2:%3", nullptr},
    {"SmartHomeMsg", "Close", "关闭"},
    {"SmartHomeMsg", "Shut down the operating system Countdown:", "关闭操作系统倒计时时间:"},
    {"SmartHomeMsg", "TextLabel", nullptr},
    {"SmartHomeMsg", "Widget", nullptr},
    {"AboutDialog", "Dialog", nullptr},
    {"AboutDialog", "Ver:", "版本:"},
    {"AboutDialog", "Copyright © 2026 Voltiguard", "版权所有 © 2026 Voltiguard"},
    {"AboutDialog", "Published by Voltiguard", "由 Voltiguard 发布"},
    {"AboutDialog", "All rights reserved.", "保留所有权利。"},
    {"AlarmDialog", "Dialog", nullptr},
    {"AlarmDialog", "TextLabel", nullptr},
    {"AlarmDialog", "OK", "确定"},
    {"MainWindow", "MainWindow", nullptr},
    {"MainWindow", "PushButton", nullptr},
    {"MainWindow", "TextLabel", nullptr},
};

struct TsFile
{
    QMap<QString, int> countByContext;
    QHash<QPair<QString, QString>, QString> translations;
    int total = 0;
};

TsFile readTs(const QString &path)
{
    TsFile ts;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ts;
    QXmlStreamReader xml(&file);
    QString context, source;
    while (xml.readNextStartElement() || !xml.atEnd()) {
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("TS") || xml.name() == QLatin1String("context") ||
            xml.name() == QLatin1String("message"))
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            ts.translations.insert({context, source}, xml.readElementText());
            ++ts.countByContext[context];
            ++ts.total;
        } else {
            xml.skipCurrentElement();
        }
    }
    return ts;
}
} // namespace

class TranslationTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void entry_data();
    void entry();
    void contextCounts_data();
    void contextCounts();
    void qtOwnChinese_data();
    void qtOwnChinese();
    void qtButtonsInChinese();

private:
    QTranslator m_app;
    QTranslator m_qt;
    TsFile m_ts;
};

void TranslationTest::initTestCase()
{
    QVERIFY(m_app.load(QStringLiteral(":/file/zh.qm")));
    QVERIFY(m_qt.load(QStringLiteral(":/file/qt_zh_CN.qm")));
    m_ts = readTs(qEnvironmentVariable("VOLTIGUARD_SOURCE_DIR") + QStringLiteral("/src/translations/zh.ts"));
    QVERIFY(m_ts.total > 0);
}

void TranslationTest::entry_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("chinese");
    for (const Entry &e : table) {
        QTest::addRow("%s %s", e.context, e.source) << QString::fromUtf8(e.context) << QString::fromUtf8(e.source)
                                                    << (e.chinese ? QString::fromUtf8(e.chinese) : QString());
    }
}

void TranslationTest::entry()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, chinese);
    const QByteArray c = context.toUtf8(), s = source.toUtf8();

    QVERIFY2(m_ts.translations.contains({context, source}), "no entry in zh.ts");
    QCOMPARE(m_ts.translations.value({context, source}), chinese);
    QCOMPARE(m_app.translate(c.constData(), s.constData()), chinese);

    // What the window shows with the translation installed.
    QCoreApplication::installTranslator(&m_app);
    const QString shown = QCoreApplication::translate(c.constData(), s.constData());
    QCoreApplication::removeTranslator(&m_app);
    QCOMPARE(shown, chinese.isEmpty() ? source : chinese);
}

void TranslationTest::contextCounts_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<int>("count");
    const QList<QPair<const char *, int>> counts = {{"AboutDialog", 7}, {"AlarmDialog", 3},      {"BtnWidget", 1},
                                                    {"CloseDialog", 9}, {"DialogAddUser", 3},    {"LogDialog", 19},
                                                    {"MainWindow", 52}, {"PrintRangeDialog", 6}, {"Properties", 23},
                                                    {"QObject", 3},     {"SettingsDialog", 51},  {"SmartHomeMsg", 6}};
    for (const auto &[context, count] : counts)
        QTest::newRow(context) << QString::fromLatin1(context) << count;
    QTest::newRow("all") << QString() << 183;
}

void TranslationTest::contextCounts()
{
    QFETCH(QString, context);
    QFETCH(int, count);
    if (context.isEmpty()) {
        QCOMPARE(m_ts.total, count);
        QCOMPARE(m_ts.countByContext.size(), 12);
        QCOMPARE(int(std::size(table)), count);
    } else {
        QCOMPARE(m_ts.countByContext.value(context), count);
    }
}

void TranslationTest::qtOwnChinese_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("chinese");
    QTest::newRow("Cancel") << "QPlatformTheme"
                            << "Cancel"
                            << "取消";
    QTest::newRow("OK") << "QPlatformTheme"
                        << "OK"
                        << "确定";
    QTest::newRow("Yes") << "QPlatformTheme"
                         << "&Yes"
                         << "是(&Y)";
    QTest::newRow("No") << "QPlatformTheme"
                        << "&No"
                        << "否(&N)";
}

void TranslationTest::qtOwnChinese()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, chinese);
    QCOMPARE(m_qt.translate(context.toUtf8().constData(), source.toUtf8().constData()), chinese);
}

void TranslationTest::qtButtonsInChinese()
{
    QCoreApplication::installTranslator(&m_qt);
    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QCoreApplication::removeTranslator(&m_qt);
    QCOMPARE(box.button(QDialogButtonBox::Ok)->text(), QStringLiteral("确定"));
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
}

QTEST_MAIN(TranslationTest)
#include "tst_translations.moc"
