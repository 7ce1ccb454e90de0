#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class Properties;
}
class UsmUserTable;

// Lists the SNMPv3 users and edits the protocols and passwords of the selected
// one. Changes go straight into the user table; usm_users.bin is written when
// the settings dialog is saved with SNMPv3.
class Properties : public QDialog
{
    Q_OBJECT
public:
    explicit Properties(QWidget *parent = nullptr);
    ~Properties() override;

    // Fills the dialog from the table it then edits.
    void setSnmp(UsmUserTable &users);

private slots:
    void on_push_button_add_user_clicked();
    void on_push_button_del_user_clicked();
    void on_push_button_reset_clicked();
    void on_combo_box_sec_name_activated(const QString &sec_name);
    void on_combo_box_auth_prot_activated(int auth_prot);
    void on_combo_box_priv_prot_activated(int priv_prot);
    void on_push_button_ok_clicked();

private:
    UsmUserTable *usm = nullptr;
    std::unique_ptr<Ui::Properties> ui;
};
