#include "dialogadduser.h"

#include "ui_dialogadduser.h"

DialogAddUser::DialogAddUser(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::DialogAddUser>())
{
    ui->setupUi(this);
    connect(ui->buttonOk, &QPushButton::clicked, this, &DialogAddUser::on_buttonOk_clicked);
    setWindowTitle(tr("Add New User"));
    setWindowFlags(Qt::WindowCloseButtonHint);
}

DialogAddUser::~DialogAddUser() = default;

QString DialogAddUser::userName() const
{
    return ui->line_edit_new_name->text();
}

void DialogAddUser::on_buttonOk_clicked()
{
    accept();
    close();
}
