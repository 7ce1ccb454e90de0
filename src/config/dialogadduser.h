#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class DialogAddUser;
}

// Asks for the name of a new SNMPv3 user.
class DialogAddUser : public QDialog
{
    Q_OBJECT
public:
    explicit DialogAddUser(QWidget *parent = nullptr);
    ~DialogAddUser() override;

    QString userName() const;

private slots:
    void on_buttonOk_clicked();

private:
    std::unique_ptr<Ui::DialogAddUser> ui;
};
