#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class SettingsDialog;
}
class QSettings;
class UsmUserTable;

// Edits every parameter: loads the widgets from Params, validates the address
// and ports on OK and writes the values back. The caller saves param.ini; only
// the document-save directory "dir" is written here, straight to the file, and
// usm_users.bin when SNMPv3 is chosen. users is the SNMPv3 user table in use.
class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SettingsDialog(UsmUserTable &users, QWidget *parent = nullptr);
    ~SettingsDialog() override;

private slots:
    void on_bt_Exte_Btn_clicked();
    void on_checkBox_shutdown_clicked(bool checked);
    void on_checkbox_Exte_Check_clicked(bool checked);
    void on_checkBox_popup_clicked(bool checked);
    void on_pushButton_clicked();
    void on_radio_v1_clicked();
    void on_radio_v2_clicked();
    void on_radio_v3_clicked();
    void on_pushButton_usm_clicked();
    void on_browseBtn_clicked();
    void on_checkbox_SaveCheck_clicked(bool checked);

private:
    void connectSlots();
    void load();
    void reloadSecurityNames();
    void enableVersionGroups();
    void storeSaveDirectory();

    UsmUserTable &m_users;
    std::unique_ptr<Ui::SettingsDialog> ui;
    std::unique_ptr<QSettings> m_paramFile;
    int selectedVersion = 2;
};
