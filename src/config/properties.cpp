#include "properties.h"

#include "config/dialogadduser.h"
#include "snmp/usmusers.h"
#include "ui_properties.h"

#include <array>

namespace {
// Combo positions. Past HMAC-SHA the SHA-2 digests that usm_users.bin may hold, so
// that such a user is shown, and stored again, as it is.
constexpr std::array authProtocols{
    UsmAuthProtocol::None,       UsmAuthProtocol::HmacMd5,    UsmAuthProtocol::HmacSha,   UsmAuthProtocol::HmacSha224,
    UsmAuthProtocol::HmacSha256, UsmAuthProtocol::HmacSha384, UsmAuthProtocol::HmacSha512};
constexpr std::array privProtocols{UsmPrivProtocol::None, UsmPrivProtocol::Des, UsmPrivProtocol::Aes128,
                                   UsmPrivProtocol::Aes192, UsmPrivProtocol::Aes256};

template <typename Protocols, typename P> int indexOf(const Protocols &protocols, P protocol)
{
    for (int i = 0; i < int(protocols.size()); ++i) {
        if (protocols[i] == protocol)
            return i;
    }
    return 0;
}

template <typename Protocols> auto protocolAt(const Protocols &protocols, int index)
{
    return index > 0 && index < int(protocols.size()) ? protocols[index] : protocols[0];
}
} // namespace

Properties::Properties(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::Properties>())
{
    ui->setupUi(this);
    connect(ui->push_button_add_user, &QPushButton::clicked, this, &Properties::on_push_button_add_user_clicked);
    connect(ui->push_button_del_user, &QPushButton::clicked, this, &Properties::on_push_button_del_user_clicked);
    connect(ui->push_button_reset, &QPushButton::clicked, this, &Properties::on_push_button_reset_clicked);
    connect(ui->combo_box_sec_name, &QComboBox::textActivated, this, &Properties::on_combo_box_sec_name_activated);
    connect(ui->combo_box_auth_prot, &QComboBox::activated, this, &Properties::on_combo_box_auth_prot_activated);
    connect(ui->combo_box_priv_prot, &QComboBox::activated, this, &Properties::on_combo_box_priv_prot_activated);
    connect(ui->push_button_ok, &QPushButton::clicked, this, &Properties::on_push_button_ok_clicked);
    connect(ui->button_close, &QPushButton::clicked, this, &QDialog::reject);
}

Properties::~Properties() = default;

void Properties::setSnmp(UsmUserTable &users)
{
    usm = &users;
    ui->combo_box_sec_name->clear();
    ui->combo_box_sec_name->addItems(usm->userNames());
    if (ui->combo_box_sec_name->count() > 0) {
        ui->combo_box_sec_name->setCurrentIndex(0);
        on_combo_box_sec_name_activated(ui->combo_box_sec_name->currentText());
    } else {
        on_combo_box_sec_name_activated(QString());
    }
}

void Properties::on_combo_box_sec_name_activated(const QString &sec_name)
{
    const std::optional<UsmUser> user = usm ? usm->user(sec_name) : std::nullopt;
    QWidget *const fields[] = {ui->line_edit_auth_pass, ui->line_edit_priv_pass, ui->combo_box_auth_prot,
                               ui->combo_box_priv_prot};
    for (QWidget *w : fields)
        w->setEnabled(user.has_value());
    if (!user)
        return;
    ui->line_edit_auth_pass->setText(user->authPassword);
    ui->line_edit_priv_pass->setText(user->privPassword);
    const int auth = indexOf(authProtocols, user->authProtocol);
    ui->combo_box_auth_prot->setCurrentIndex(auth);
    ui->line_edit_auth_pass->setEnabled(auth != 0);
    const int priv = indexOf(privProtocols, user->privProtocol);
    ui->combo_box_priv_prot->setCurrentIndex(priv);
    ui->line_edit_priv_pass->setEnabled(priv != 0);
    if (user->authProtocol == UsmAuthProtocol::None)
        ui->combo_box_priv_prot->setEnabled(false);
}

void Properties::on_combo_box_auth_prot_activated(int auth_prot)
{
    if (auth_prot != 0) {
        ui->line_edit_auth_pass->setEnabled(true);
        ui->combo_box_priv_prot->setEnabled(true);
        ui->line_edit_priv_pass->setEnabled(ui->combo_box_priv_prot->currentIndex() != 0);
    } else {
        ui->combo_box_priv_prot->setEnabled(false);
        ui->line_edit_priv_pass->setEnabled(false);
    }
}

void Properties::on_combo_box_priv_prot_activated(int priv_prot)
{
    ui->line_edit_priv_pass->setEnabled(priv_prot != 0);
}

void Properties::on_push_button_add_user_clicked()
{
    DialogAddUser dialog;
    dialog.setWindowTitle(tr("Add User Dialog"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString name = dialog.userName();
    if (name.isEmpty() || !usm)
        return;
    // Replacing in place leaves no moment in which a request finds no user of that name.
    usm->addUser(UsmUser{name, UsmAuthProtocol::None, QString(), UsmPrivProtocol::None, QString()});
    QComboBox *names = ui->combo_box_sec_name;
    for (int i = names->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive); i >= 0;
         i = names->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive))
        names->removeItem(i);
    names->insertItem(0, name);
    names->setCurrentIndex(0);
    on_combo_box_sec_name_activated(name);
}

void Properties::on_push_button_del_user_clicked()
{
    QComboBox *names = ui->combo_box_sec_name;
    if (usm)
        usm->deleteUser(names->currentText());
    names->removeItem(names->currentIndex());
    names->setCurrentIndex(0);
    on_combo_box_sec_name_activated(names->currentText());
}

void Properties::on_push_button_reset_clicked()
{
    on_combo_box_sec_name_activated(ui->combo_box_sec_name->currentText());
}

void Properties::on_push_button_ok_clicked()
{
    UsmAuthProtocol auth = protocolAt(authProtocols, ui->combo_box_auth_prot->currentIndex());
    UsmPrivProtocol priv = protocolAt(privProtocols, ui->combo_box_priv_prot->currentIndex());
    if (ui->line_edit_auth_pass->text().isEmpty() || auth == UsmAuthProtocol::None) {
        ui->line_edit_priv_pass->clear();
        auth = UsmAuthProtocol::None;
        priv = UsmPrivProtocol::None;
    }
    if (ui->line_edit_priv_pass->text().isEmpty())
        priv = UsmPrivProtocol::None;
    else if (priv == UsmPrivProtocol::None)
        ui->line_edit_priv_pass->clear();

    const QString name = ui->combo_box_sec_name->currentText();
    if (!name.isEmpty() && usm) {
        usm->addUser(UsmUser{name, auth, ui->line_edit_auth_pass->text(), priv, ui->line_edit_priv_pass->text()});
        on_combo_box_sec_name_activated(name);
    }
    accept();
    close();
}
