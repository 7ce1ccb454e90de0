// The SNMPv3 user dialogs driven through their widgets over a table of their own.
#include "config/dialogadduser.h"
#include "config/properties.h"
#include "snmp/usmusers.h"
#include "tempdatadir.h"
#include "widgetdriver.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTranslator>
#include <memory>

using namespace WidgetDriver;

namespace {
UsmUser makeUser(const QString &name, UsmAuthProtocol auth = UsmAuthProtocol::None, const QString &authPass = {},
                 UsmPrivProtocol priv = UsmPrivProtocol::None, const QString &privPass = {})
{
    return UsmUser{name, auth, authPass, priv, privPass};
}

struct OpenProperties
{
    std::unique_ptr<Properties> dialog = std::make_unique<Properties>();
    explicit OpenProperties(UsmUserTable &users)
    {
        dialog->setSnmp(users);
        dialog->show();
        if (!QTest::qWaitForWindowExposed(dialog.get()))
            qFatal("dialog not exposed");
    }
    template <typename T> T *w(const char *name) { return child<T>(*dialog, name); }
    QComboBox *names() { return w<QComboBox>("combo_box_sec_name"); }
    QComboBox *auth() { return w<QComboBox>("combo_box_auth_prot"); }
    QComboBox *priv() { return w<QComboBox>("combo_box_priv_prot"); }
    QLineEdit *authPass() { return w<QLineEdit>("line_edit_auth_pass"); }
    QLineEdit *privPass() { return w<QLineEdit>("line_edit_priv_pass"); }
    QStringList listed()
    {
        QStringList l;
        for (int i = 0; i < names()->count(); ++i)
            l << names()->itemText(i);
        return l;
    }
    // The enabled state of auth combo, auth password, priv combo, priv password.
    QList<bool> enabled()
    {
        return {auth()->isEnabled(), authPass()->isEnabled(), priv()->isEnabled(), privPass()->isEnabled()};
    }
    // Answers the add dialog, which runs modally inside the click.
    void addUser(const QString &name, bool confirm = true)
    {
        QString title;
        Qt::WindowFlags flags;
        onModal<DialogAddUser>([&](DialogAddUser *add) {
            title = add->windowTitle();
            flags = add->windowFlags();
            if (!confirm) {
                add->close();
                return;
            }
            auto *edit = child<QLineEdit>(*add, "line_edit_new_name");
            setText(edit, name);
            QTest::keyClick(edit, Qt::Key_Return);
        });
        click(w<QPushButton>("push_button_add_user"));
        QCOMPARE(title, QString("Add User Dialog"));
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    }
};
} // namespace

class TestProperties : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void fill_data();
    void fill();
    void show_data();
    void show();
    void protocolChoice();
    void addUser_data();
    void addUser();
    void store_data();
    void store();
    void storedChangeIsAnnounced();
    void deleteUser();
    void reset();
    void closeStoresNothing();
    void addDialog();
    void keyboardAndTexts();

private:
    std::unique_ptr<TempDataDir> m_data;
    std::unique_ptr<UsmUserTable> m_users;
};

void TestProperties::init()
{
    m_data = std::make_unique<TempDataDir>();
    m_users = std::make_unique<UsmUserTable>();
}

void TestProperties::fill_data()
{
    QTest::addColumn<bool>("fromFile");
    QTest::addColumn<QStringList>("users");

    QTest::newRow("no usm_users.bin") << false << QStringList{};
    QTest::newRow("empty usm_users.bin") << true << QStringList{};
    QTest::newRow("users in table order") << true << QStringList{"zeta", "alpha", "mid"};
}

void TestProperties::fill()
{
    QFETCH(bool, fromFile);
    QFETCH(QStringList, users);

    UsmUserTable file;
    for (const QString &name : users)
        file.addUser(makeUser(name, UsmAuthProtocol::HmacMd5, name + "-pass"));
    if (fromFile)
        QVERIFY(file.save(usmUsersFilePath()));
    m_users->load(usmUsersFilePath());

    OpenProperties p(*m_users);
    QCOMPARE(p.listed(), users);
    if (users.isEmpty()) {
        QCOMPARE(p.enabled(), QList<bool>({false, false, false, false}));
        return;
    }
    QCOMPARE(p.names()->currentIndex(), 0);
    QCOMPARE(p.auth()->currentText(), QString("HMAC-MD5"));
    QCOMPARE(p.authPass()->text(), users.first() + "-pass");
}

void TestProperties::show_data()
{
    QTest::addColumn<int>("auth");
    QTest::addColumn<int>("priv");
    QTest::addColumn<QString>("authText");
    QTest::addColumn<QString>("privText");
    QTest::addColumn<QList<bool>>("enabled");

    using A = UsmAuthProtocol;
    using P = UsmPrivProtocol;
    QTest::newRow("no security") << int(A::None) << int(P::None) << "None"
                                 << "None" << QList<bool>{true, false, false, false};
    QTest::newRow("MD5 only") << int(A::HmacMd5) << int(P::None) << "HMAC-MD5"
                              << "None" << QList<bool>{true, true, true, false};
    QTest::newRow("SHA + DES") << int(A::HmacSha) << int(P::Des) << "HMAC-SHA"
                               << "DES" << QList<bool>{true, true, true, true};
    QTest::newRow("SHA + AES128") << int(A::HmacSha) << int(P::Aes128) << "HMAC-SHA"
                                  << "AES128" << QList<bool>{true, true, true, true};
    QTest::newRow("MD5 + AES192") << int(A::HmacMd5) << int(P::Aes192) << "HMAC-MD5"
                                  << "AES196" << QList<bool>{true, true, true, true};
    QTest::newRow("SHA-256 + AES256 kept as they are") << int(A::HmacSha256) << int(P::Aes256) << "HMAC-SHA-256"
                                                       << "AES256" << QList<bool>{true, true, true, true};
    QTest::newRow("privacy without authentication") << int(A::None) << int(P::Des) << "None"
                                                    << "DES" << QList<bool>{true, false, false, true};
}

void TestProperties::show()
{
    QFETCH(int, auth);
    QFETCH(int, priv);
    QFETCH(QString, authText);
    QFETCH(QString, privText);
    QFETCH(QList<bool>, enabled);

    m_users->addUser(makeUser("first"));
    m_users->addUser(makeUser("shown", UsmAuthProtocol(auth), "auth-secret", UsmPrivProtocol(priv), "priv-secret"));
    const bool consistent = auth != int(UsmAuthProtocol::None) && priv != int(UsmPrivProtocol::None);
    OpenProperties p(*m_users);
    choose(p.names(), 1);
    QCOMPARE(p.names()->currentText(), QString("shown"));
    QCOMPARE(p.auth()->currentText(), authText);
    QCOMPARE(p.priv()->currentText(), privText);
    QCOMPARE(p.authPass()->text(), QString("auth-secret"));
    QCOMPARE(p.privPass()->text(), QString("priv-secret"));
    QCOMPARE(p.authPass()->echoMode(), QLineEdit::Password);
    QCOMPARE(p.privPass()->echoMode(), QLineEdit::Password);
    QCOMPARE(p.enabled(), enabled);

    // Storing a user with both protocols without touching anything keeps it as it is.
    const UsmUser before = *m_users->user("shown");
    if (consistent) {
        click(p.w<QPushButton>("push_button_ok"));
        QCOMPARE(*m_users->user("shown"), before);
    }
}

void TestProperties::protocolChoice()
{
    m_users->addUser(makeUser("ups"));
    OpenProperties p(*m_users);
    QCOMPARE(p.enabled(), QList<bool>({true, false, false, false}));
    choose(p.auth(), 2);
    QCOMPARE(p.enabled(), QList<bool>({true, true, true, false}));
    choose(p.priv(), 2);
    QCOMPARE(p.enabled(), QList<bool>({true, true, true, true}));
    choose(p.priv(), 0);
    QCOMPARE(p.enabled(), QList<bool>({true, true, true, false}));
    choose(p.priv(), 4);
    // Back to no authentication: privacy greys, the password field keeps its state.
    choose(p.auth(), 0);
    QCOMPARE(p.enabled(), QList<bool>({true, true, false, false}));
    choose(p.auth(), 1);
    QCOMPARE(p.enabled(), QList<bool>({true, true, true, true}));
}

void TestProperties::addUser_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QStringList>("table");

    QTest::newRow("ups into an empty table")
        << QStringList{} << "ups" << true << QStringList{"ups"} << QStringList{"ups"};
    QTest::newRow("new name goes to the top")
        << QStringList{"a", "b"} << "ups" << true << QStringList{"ups", "a", "b"} << QStringList{"a", "b", "ups"};
    QTest::newRow("existing name moves up, no copy") << QStringList{"a", "ups", "b"} << "ups" << true
                                                     << QStringList{"ups", "a", "b"} << QStringList{"a", "ups", "b"};
    QTest::newRow("non-ASCII name") << QStringList{"a"} << "Überwacher-ß" << true << QStringList{"Überwacher-ß", "a"}
                                    << QStringList{"a", "Überwacher-ß"};
    QTest::newRow("empty name changes nothing")
        << QStringList{"a"} << "" << true << QStringList{"a"} << QStringList{"a"};
    QTest::newRow("cancelled changes nothing")
        << QStringList{"a"} << "ups" << false << QStringList{"a"} << QStringList{"a"};
}

void TestProperties::addUser()
{
    QFETCH(QStringList, before);
    QFETCH(QString, name);
    QFETCH(bool, confirm);
    QFETCH(QStringList, listed);
    QFETCH(QStringList, table);

    for (const QString &n : before)
        m_users->addUser(makeUser(n, UsmAuthProtocol::HmacSha, "old-auth", UsmPrivProtocol::Des, "old-priv"));
    OpenProperties p(*m_users);
    p.addUser(name, confirm);
    QCOMPARE(p.listed(), listed);
    QCOMPARE(m_users->userNames(), table);
    if (!confirm || name.isEmpty())
        return;
    QCOMPARE(p.names()->currentIndex(), 0);
    QCOMPARE(*m_users->user(name), makeUser(name));
    QCOMPARE(p.auth()->currentText(), QString("None"));
    QCOMPARE(p.priv()->currentText(), QString("None"));
    QCOMPARE(p.authPass()->text(), QString());
    QCOMPARE(p.enabled(), QList<bool>({true, false, false, false}));
}

void TestProperties::store_data()
{
    QTest::addColumn<int>("authIndex");
    QTest::addColumn<QString>("authPass");
    QTest::addColumn<int>("privIndex");
    QTest::addColumn<QString>("privPass");
    QTest::addColumn<int>("storedAuth");
    QTest::addColumn<int>("storedPriv");
    QTest::addColumn<QString>("storedPrivPass");

    using A = UsmAuthProtocol;
    using P = UsmPrivProtocol;
    QTest::newRow("SHA + AES128") << 2 << "auth-secret" << 2 << "priv-secret" << int(A::HmacSha) << int(P::Aes128)
                                  << "priv-secret";
    QTest::newRow("MD5 + DES") << 1 << "auth-secret" << 1 << "priv-secret" << int(A::HmacMd5) << int(P::Des)
                               << "priv-secret";
    QTest::newRow("SHA + AES196 is AES-192")
        << 2 << "auth-secret" << 3 << "priv-secret" << int(A::HmacSha) << int(P::Aes192) << "priv-secret";
    QTest::newRow("MD5 with empty password: no security")
        << 1 << "" << 2 << "priv-secret" << int(A::None) << int(P::None) << "";
    QTest::newRow("privacy password with privacy None")
        << 2 << "auth-secret" << 0 << "priv-secret" << int(A::HmacSha) << int(P::None) << "";
    QTest::newRow("privacy chosen without password")
        << 2 << "auth-secret" << 4 << "" << int(A::HmacSha) << int(P::None) << "";
    QTest::newRow("non-ASCII passwords") << 2 << "pässwörd-ß€" << 4 << "机密-secret" << int(A::HmacSha)
                                         << int(P::Aes256) << "机密-secret";
}

void TestProperties::store()
{
    QFETCH(int, authIndex);
    QFETCH(QString, authPass);
    QFETCH(int, privIndex);
    QFETCH(QString, privPass);
    QFETCH(int, storedAuth);
    QFETCH(int, storedPriv);
    QFETCH(QString, storedPrivPass);

    {
        OpenProperties p(*m_users);
        p.addUser("ups");
        choose(p.auth(), authIndex);
        setText(p.authPass(), authPass);
        choose(p.priv(), privIndex);
        if (p.privPass()->isEnabled())
            setText(p.privPass(), privPass);
        else
            p.privPass()->setText(privPass);
        click(p.w<QPushButton>("push_button_ok"));
        QCOMPARE(p.dialog->result(), int(QDialog::Accepted));
        QVERIFY(!p.dialog->isVisible());
        QCOMPARE(p.privPass()->text(), storedPrivPass);
    }
    const UsmUser stored = *m_users->user("ups");
    QCOMPARE(int(stored.authProtocol), storedAuth);
    QCOMPARE(stored.authPassword, authPass);
    QCOMPARE(int(stored.privProtocol), storedPriv);
    QCOMPARE(stored.privPassword, storedPrivPass);

    // Saved and loaded again, as at the next start, and shown again.
    QVERIFY(m_users->save(usmUsersFilePath()));
    UsmUserTable reloaded;
    reloaded.load(usmUsersFilePath());
    QCOMPARE(*reloaded.user("ups"), stored);
    OpenProperties again(reloaded);
    QCOMPARE(again.names()->currentText(), QString("ups"));
    QCOMPARE(again.auth()->currentIndex(), storedAuth == int(UsmAuthProtocol::None) ? 0 : authIndex);
    QCOMPARE(again.authPass()->text(), authPass);
    QCOMPARE(again.privPass()->text(), storedPrivPass);
    if (storedPriv != int(UsmPrivProtocol::None))
        QCOMPARE(again.priv()->currentIndex(), privIndex);
    else
        QCOMPARE(again.priv()->currentIndex(), 0);
}

void TestProperties::storedChangeIsAnnounced()
{
    QStringList changed;
    m_users->addUser(makeUser("ups", UsmAuthProtocol::HmacSha, "auth-secret"));
    m_users->setChangeHandler([&](const QString &name) { changed << name; });
    OpenProperties p(*m_users);
    setText(p.authPass(), "new-secret");
    click(p.w<QPushButton>("push_button_ok"));
    // The SNMP layer drops the keys it localized for that user on this signal.
    QVERIFY(changed.contains("ups"));
    QCOMPARE(m_users->user("ups")->authPassword, QString("new-secret"));
}

void TestProperties::deleteUser()
{
    for (const char *n : {"a", "b", "c"})
        m_users->addUser(makeUser(n, UsmAuthProtocol::HmacMd5, QString(n) + "-pass"));
    OpenProperties p(*m_users);
    choose(p.names(), 1);
    click(p.w<QPushButton>("push_button_del_user"));
    QCOMPARE(p.listed(), QStringList({"a", "c"}));
    QCOMPARE(m_users->userNames(), QStringList({"a", "c"}));
    QCOMPARE(p.names()->currentText(), QString("a"));
    QCOMPARE(p.authPass()->text(), QString("a-pass"));

    click(p.w<QPushButton>("push_button_del_user"));
    click(p.w<QPushButton>("push_button_del_user"));
    QVERIFY(p.listed().isEmpty());
    QCOMPARE(m_users->count(), 0);
    QCOMPARE(p.enabled(), QList<bool>({false, false, false, false}));
    // With no user left, delete, reset and OK work on the empty name.
    click(p.w<QPushButton>("push_button_del_user"));
    click(p.w<QPushButton>("push_button_reset"));
    click(p.w<QPushButton>("push_button_ok"));
    QCOMPARE(m_users->count(), 0);
}

void TestProperties::reset()
{
    m_users->addUser(makeUser("ups", UsmAuthProtocol::HmacSha, "auth-secret", UsmPrivProtocol::Aes128, "priv-secret"));
    OpenProperties p(*m_users);
    choose(p.auth(), 1);
    setText(p.authPass(), "typed");
    choose(p.priv(), 0);
    click(p.w<QPushButton>("push_button_reset"));
    QCOMPARE(p.auth()->currentText(), QString("HMAC-SHA"));
    QCOMPARE(p.authPass()->text(), QString("auth-secret"));
    QCOMPARE(p.priv()->currentText(), QString("AES128"));
    QCOMPARE(p.enabled(), QList<bool>({true, true, true, true}));
    QCOMPARE(m_users->user("ups")->authProtocol, UsmAuthProtocol::HmacSha);
}

void TestProperties::closeStoresNothing()
{
    m_users->addUser(makeUser("ups", UsmAuthProtocol::HmacSha, "auth-secret"));
    const QList<UsmUser> before = m_users->users();
    for (const bool closeButton : {true, false}) {
        OpenProperties p(*m_users);
        choose(p.auth(), 1);
        setText(p.authPass(), "typed");
        if (closeButton)
            click(p.w<QPushButton>("button_close"));
        else
            p.dialog->close();
        QVERIFY(!p.dialog->isVisible());
        QCOMPARE(p.dialog->result(), int(QDialog::Rejected));
        QCOMPARE(m_users->users(), before);
    }
}

void TestProperties::addDialog()
{
    DialogAddUser add;
    QCOMPARE(add.windowTitle(), QString("Add New User"));
    QVERIFY(add.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!add.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!add.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!add.windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
    add.show();
    QVERIFY(QTest::qWaitForWindowExposed(&add));
    QTest::keyClicks(child<QLineEdit>(add, "line_edit_new_name"), "ups 2");
    QCOMPARE(add.userName(), QString("ups 2"));
    QCOMPARE(child<QPushButton>(add, "buttonOk")->text(), QString("&OK"));
    QTest::keyClick(child<QLineEdit>(add, "line_edit_new_name"), Qt::Key_Return);
    QCOMPARE(add.result(), int(QDialog::Accepted));
    QVERIFY(!add.isVisible());
}

void TestProperties::keyboardAndTexts()
{
    m_users->addUser(makeUser("ups"));
    {
        OpenProperties p(*m_users);
        for (const auto &[label, field] : std::initializer_list<std::pair<const char *, const char *>>{
                 {"text_label_sec_name", "combo_box_sec_name"},
                 {"text_label_auth_prot", "combo_box_auth_prot"},
                 {"text_label_auth_pass", "line_edit_auth_pass"},
                 {"textlabel_priv_prot", "combo_box_priv_prot"},
                 {"text_label_priv_pass", "line_edit_priv_pass"}})
            QCOMPARE(p.w<QLabel>(label)->buddy(), p.w<QWidget>(field));
        QCOMPARE(p.w<QPushButton>("push_button_ok")->toolTip(),
                 QString("Changes are only stored if this button is clicked"));
        QVERIFY(p.w<QPushButton>("button_close")->isDefault());
        // Return is Close.
        QTest::keyClick(p.names(), Qt::Key_Return);
        QVERIFY(!p.dialog->isVisible());
    }

    QTranslator zh;
    QVERIFY(zh.load(":/file/zh.qm"));
    QCoreApplication::installTranslator(&zh);
    OpenProperties p(*m_users);
    QCoreApplication::removeTranslator(&zh);
    QCOMPARE(p.w<QTabWidget>("tabWidget")->tabText(0), QString("基于用户保护等级"));
    QCOMPARE(p.auth()->itemText(0), QString("无"));
    QCOMPARE(p.auth()->itemText(1), QString("HMAC-MD5"));
    QCOMPARE(p.priv()->itemText(2), QString("AES128"));
    QCOMPARE(p.w<QPushButton>("button_close")->text(), QString("关闭"));
    QCOMPARE(p.w<QPushButton>("push_button_add_user")->text(), QString("添加新用户"));
}

QTEST_MAIN(TestProperties)
#include "tst_properties.moc"
