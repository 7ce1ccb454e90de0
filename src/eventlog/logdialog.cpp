#include "logdialog.h"

#include "logexport.h"
#include "logstore.h"
#include "logtablemodel.h"
#include "ui_logdialog.h"
#include "widgets/filedialog.h"
#include "widgets/messagebox.h"
#include "widgets/printdialog.h"

#include <QDate>
#include <QHeaderView>
#include <QPrinter>
#include <QSaveFile>
#include <QTextDocument>

bool logDialogOpen = false;

LogDialog::LogDialog(QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::LogDialog>()), model(new LogTableModel(this))
{
    ui->setupUi(this);
    initView();
}

LogDialog::~LogDialog() = default;

void LogDialog::initView()
{
    QTableView *table = ui->tableView;
    QHeaderView *header = table->horizontalHeader();
    header->setStretchLastSection(true);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setFixedHeight(20);
    header->setStyleSheet(
        QStringLiteral("QHeaderView::section {background-color:rgb(70,163,255);color:rgb(255,255,255);"
                       "padding-left: 1px;border: 1px solid #6c6c6c;font: 12pt;};"));
    table->verticalHeader()->hide();
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);

    model->clear();
    setHeaders();
    table->setModel(model);
    insertLog();
}

void LogDialog::setHeaders()
{
    model->setHeaderData(0, Qt::Horizontal, tr("Date/Time"), Qt::EditRole);
    model->setHeaderData(1, Qt::Horizontal, tr("ip"), Qt::EditRole);
    model->setHeaderData(2, Qt::Horizontal, tr("Event"), Qt::EditRole);
}

void LogDialog::insertLog()
{
    if (!model->reload())
        return;
    ui->tableView->setColumnWidth(0, 150);
}

void LogDialog::on_bt_ok_clicked()
{
    reject();
}

void LogDialog::information(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, this);
    MessageBox::exec(box);
}

void LogDialog::on_bt_save_clicked()
{
    const QString proposal =
        QStringLiteral("Voltiguard%1.csv").arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
    const QString name = FileDialog::getSaveFileName(this, tr("Save As"), proposal, QString());
    if (name.isEmpty())
        return;

    // Written beside the target and renamed over it at the end, so a failed export leaves no half file;
    // only a directory that lets us write nothing but the existing file itself gets it written in place.
    QSaveFile file(name);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        information(tr("Cannot open file for writting"), file.errorString());
        return;
    }
    QString error;
    if (!writeLogCsv(file, tr("Date/Time,IP,Event\n"), *model, &error) || !file.commit()) {
        if (error.isEmpty())
            error = file.errorString();
        file.cancelWriting();
        information(tr("Cannot open file for writting"), error);
        return;
    }
    information(tr("Export Succeed!"), tr("Data had saved in %1!").arg(name));
}

void LogDialog::on_bt_print_clicked()
{
    QPrinter printer(QPrinter::HighResolution);
    if (!PrintDialog::exec(printer, this))
        return;
    QTextDocument document;
    document.setHtml(logHtml(tr("Date/Time"), tr("Event"), *model));
    document.print(&printer);
}

void LogDialog::on_bt_clean_clicked()
{
    QMessageBox box(QMessageBox::Warning, tr("warning"), tr("Delete Records?"), QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    if (MessageBox::exec(box) == QMessageBox::Yes) {
        LogDatabase db(LogDatabase::clearConnection);
        // A log that refused the clear keeps its rows, and so does the table.
        if (db.clear()) {
            model->clear();
            setHeaders();
            ui->tableView->setColumnWidth(0, 150);
            ui->tableView->setColumnWidth(1, 120);
            ui->tableView->setColumnWidth(2, 220);
        }
    }
    emit cleanLog();
}
