#include "aboutdialog.h"

#include "app/language.h"
#include "desktopviewer.h"
#include "helpfile.h"
#include "ui_aboutdialog.h"

#include <QCoreApplication>
#include <QUrl>

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::AboutDialog>())
{
    ui->setupUi(this);
    ui->Verlabel->setText(QStringLiteral(VOLTIGUARD_VERSION));
    connect(ui->userLabel, &QMyLabel::entered, this, &AboutDialog::for_label_enter);
    connect(ui->userLabel, &QMyLabel::clicked, this, &AboutDialog::for_label_click);
}

AboutDialog::~AboutDialog() = default;

void AboutDialog::on_pushButton_clicked()
{
    close();
}

void AboutDialog::for_label_enter()
{
    ui->userLabel->setStyleSheet(QStringLiteral("color:red;"));
}

void AboutDialog::for_label_click()
{
    ui->userLabel->setStyleSheet(QStringLiteral("color: rgb(0, 0, 255);"));
    const QString path = helpFilePath(chineseUi, QCoreApplication::applicationDirPath());
    // A missing manual goes unreported, as a missing viewer does.
    if (!path.isEmpty())
        DesktopViewer::open(QUrl::fromLocalFile(path));
}
